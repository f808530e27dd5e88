# shellcheck shell=bash
# The emulated board from the PC's side (sourced by board/simulate.sh and
# the board tests; bash). See docs/board.md.
#
#   board_build [BUILD]          fetches and builds what is missing: the
#                                Debian packages and kernel (fetch.sh), the
#                                mipsel staging root (.ci/cross.sh), the
#                                initramfs (mkroot.sh)
#   board_up BUILD [FILE|KEY=VALUE]...
#                                boots the board in qemu-system-mipsel with
#                                those settings over config/default.nvram
#                                (the guest loads them after the defaults)
#   board_exec [--timeout S] CMD...
#                                runs CMD (one shell line) in the board and
#                                prints its output; its exit status
#   board_wait_ready / board_wait_wan / board_wait_lease SECONDS
#                                waits for the channel / the masquerade rule
#                                / the LAN host's lease
#   board_report                 prints what a user would check
#   board_down                   stops qemu and removes the run's files
#
# Files of a run in $BOARD_TMP: console.log (the kernel's and init's serial
# console), chan (the channel's socket), qemu.out.

BOARD_SRC=${BOARD_SRC:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)}

board_log() { [ -n "${BOARD_QUIET:-}" ] || echo "board: $*" >&2; }

# board_ms: milliseconds since the board's qemu was started.
board_ms() { echo $((($(date +%s%N) - BOARD_T0) / 1000000)); }

board_build() {
  local build=${1:-build-board}
  (cd "$BOARD_SRC" && bash board/fetch.sh "$build") || return 1
  # The staging root: .ci/cross.sh the first time; then the cross build
  # brought up to date and installed again (a no-op when nothing changed).
  if [ -f "$BOARD_SRC/build-mipsel/build.ninja" ] && [ -x "$BOARD_SRC/build-mipsel/stage/bin/netmgr" ]; then
    (cd "$BOARD_SRC" && ninja -j2 -C build-mipsel >/dev/null &&
      DESTDIR="$PWD/build-mipsel/stage" cmake --install build-mipsel --strip >/dev/null) || return 1
  else
    board_log "building the mipsel staging root (.ci/cross.sh)"
    (cd "$BOARD_SRC" && bash .ci/cross.sh >"$build/cross.log" 2>&1) ||
      { tail -n 20 "$build/cross.log" >&2; return 1; }
  fi
  # The root disk again when anything it is made of is newer.
  # (build-mipsel/bin: the lab's cross-built stand-ins and login server.)
  if [ -f "$build/root.img" ] && [ -z "$(find "$BOARD_SRC/board" "$BOARD_SRC/build-mipsel/stage" \
    "$BOARD_SRC/build-mipsel/bin" "$BOARD_SRC/sim/hosts/lan-udhcpc.script" "$build/pkgs.stamp" \
    -newer "$build/root.img" -print -quit)" ]; then
    board_log "root disk up to date"
    return 0
  fi
  (cd "$BOARD_SRC" && bash board/mkroot.sh "$build")
}

board_up() {
  local build
  build=$(cd "$1" 2>/dev/null && pwd) || { echo "board: no build directory $1" >&2; return 1; }
  shift
  [ -f "$build/initrd.gz" ] && [ -f "$build/vmlinuz" ] && [ -f "$build/root.img" ] || { echo "board: run board_build first" >&2; return 1; }
  command -v qemu-system-mipsel >/dev/null || { echo "board: qemu-system-mipsel is missing (package qemu-system-mips)" >&2; return 1; }
  BOARD_TMP=$(mktemp -d /tmp/routerboard.XXXXXX) || return 1
  # The run's settings travel as a second cpio archive after the root's:
  # the kernel unpacks both, so /board/settings holds them.
  mkdir -p "$BOARD_TMP/extra/board"
  local a
  : >"$BOARD_TMP/extra/board/settings"
  for a in "$@"; do
    case $a in
      *=*) printf '%s\n' "$a" >>"$BOARD_TMP/extra/board/settings" ;;
      *) cat "$a" >>"$BOARD_TMP/extra/board/settings" || { echo "board: cannot read $a" >&2; return 1; } ;;
    esac
  done
  (cd "$BOARD_TMP/extra" && find . | cpio -o -H newc -R 0:0 --quiet | gzip) >"$BOARD_TMP/extra.gz" &&
    cat "$build/initrd.gz" "$BOARD_TMP/extra.gz" >"$BOARD_TMP/initrd.gz" || return 1
  BOARD_CHAN=$BOARD_TMP/chan
  BOARD_T0=$(date +%s%N)
  # The root disk is opened as a snapshot (the image stays as built). The
  # console goes to a file; the second serial port is the channel.
  # qemu dies with this shell (parent-death signal), also on SIGKILL.
  # BOARD_QEMU_OPTS: more of qemu's options, split at spaces (bench/board.sh
  # runs the board on a clock of counted instructions).
  # shellcheck disable=SC2086
  setsid setpriv --pdeathsig KILL qemu-system-mipsel -M malta -cpu 24Kc -m 64 -nographic ${BOARD_QEMU_OPTS:-} \
    -monitor none -no-reboot -kernel "$build/vmlinuz" -initrd "$BOARD_TMP/initrd.gz" \
    -drive "file=$build/root.img,format=raw,if=ide,snapshot=on" \
    -append "console=ttyS0 panic=1" -serial "file:$BOARD_TMP/console.log" \
    -serial "unix:$BOARD_CHAN,server=on,wait=off" </dev/null >"$BOARD_TMP/qemu.out" 2>&1 &
  BOARD_QEMU=$!
  board_log "qemu pid $BOARD_QEMU, files in $BOARD_TMP"
}

board_exec() { python3 "$BOARD_SRC/board/exec.py" "$BOARD_CHAN" "$@"; }

# board_poll SECONDS COMMAND...: runs COMMAND every 0.5 s until it succeeds;
# fails when the time is up or qemu is gone.
board_poll() {
  local end=$(($(date +%s) + $1))
  shift
  until "$@" >/dev/null 2>&1; do
    kill -0 "$BOARD_QEMU" 2>/dev/null || return 1
    [ "$(date +%s)" -lt "$end" ] || return 1
    sleep 0.5
  done
}
board_wait_ready() { board_poll "$1" board_exec --timeout 5 true; }
board_masquerading() { board_exec --timeout 10 'iptables -w -t nat -S POSTROUTING | grep -q -- "-j MASQUERADE"'; }
board_wait_wan() { board_poll "$1" board_masquerading; }
board_wait_lease() { board_poll "$1" board_exec --timeout 10 test -s /board/lan/lease; }

board_down() {
  [ -n "${BOARD_TMP:-}" ] || return 0
  if [ -n "${BOARD_QEMU:-}" ] && kill -0 "$BOARD_QEMU" 2>/dev/null; then
    kill -TERM "$BOARD_QEMU"
    local tries=50
    while kill -0 "$BOARD_QEMU" 2>/dev/null && [ $tries -gt 0 ]; do
      sleep 0.1
      tries=$((tries - 1))
    done
    kill -KILL "$BOARD_QEMU" 2>/dev/null
    wait "$BOARD_QEMU" 2>/dev/null
  fi
  if [ -n "${BOARD_KEEP:-}" ]; then
    board_log "files kept in $BOARD_TMP"
  else
    rm -rf "$BOARD_TMP"
  fi
  BOARD_TMP=
}

board_report() { board_exec --timeout 60 sh /board/report.sh; }

# In the running board (each answer within 30 s):
#   board_lan CMD...          CMD in the LAN host's network namespace
#   board_lease_value KEY     a value of the LAN host's lease (ip, router, ...)
#   board_wan_addr            eth2.2's address/prefix
#   board_isp_get URL         what the ISP host gets from URL ("" for nothing)
#   board_whoami              the address the ISP host sees the LAN host's
#                             request come from
#   board_lan_get PATH [S]    the LAN host downloads http://ISP/PATH (at most
#                             S seconds, default 120); prints the time it
#                             took in hundredths of a second
#   board_lan_rx              the IP bytes the LAN host's eth0 received
#                             (frames less their 14-byte Ethernet header)
#   board_trafmon_rx ADDR     packets and bytes received by ADDR in
#                             trafmon's host table (routerstat)
board_lan() { board_exec --timeout 30 "nsenter --net=/run/netns/lan $*"; }
board_lease_value() { board_exec --timeout 30 sed -n "s/^$1=//p" /board/lan/lease; }
board_wan_addr() { board_exec --timeout 30 "ip -4 -o addr show dev eth2.2 | awk '{print \$4}'"; }
board_isp_get() { board_exec --timeout 30 "nsenter --net=/run/netns/isp timeout 10 busybox wget -q -O - $1 2>/dev/null"; }
board_whoami() { board_exec --timeout 30 '. /board/lab.conf; nsenter --net=/run/netns/lan timeout 10 busybox wget -q -O - http://$BOARD_ISP_FAR/cgi-bin/whoami'; }
board_lan_get() {
  board_exec --timeout $((${2:-120} + 30)) ". /board/lab.conf; a=\$(tr -d . </proc/uptime | cut -d' ' -f1)
    nsenter --net=/run/netns/lan timeout ${2:-120} busybox wget -q -O /dev/null http://\$BOARD_ISP_ADDR/$1 &&
    echo \$((\$(tr -d . </proc/uptime | cut -d' ' -f1) - a))"
}
board_lan_rx() { board_lan cat /proc/net/dev | awk '$1 == "eth0:" { print $2 - 14 * $3 }'; }
board_trafmon_rx() {
  board_exec --timeout 30 routerstat --json 2>/dev/null | grep -o "{\"addr\":\"$1\"[^}]*}" |
    sed -n 's/.*"pkts_recv":\([0-9]*\).*"bytes_recv":\([0-9]*\).*/\1 \2/p'
}

# --- cases on booted boards (the board tier; board/tests/board_test.sh)
#
#   board_run GROUPS_FILE BUILD GROUP | CASE...
#       runs a group's cases (or the cases named, each with its group's
#       settings) as the functions case_NAME of the caller's shell. A line
#       of GROUPS_FILE is "GROUP [KEY=VALUE...] : CASE...". Cases in a row
#       with the same settings share one booted board; a case that failed,
#       or a board that stopped answering, gets the next case a new one.
#       Each case runs in a subshell, reports with fail (and goes on) or
#       abort (and ends), and prints "CASE: passed" or "CASE: FAILED".
#       Returns non-zero when a case failed or a board was left behind.
#   BOARD_GUARD_READY, BOARD_GUARD_WAN: the guards, from qemu's start, for
#       the channel and for the WAN and the LAN host's lease (default 300 s
#       and 600 s: a quiet PC has them in 6 s and 15-20 s, a PC with a load
#       average of 15-20 took 50 s and 175 s).

BOARD_CASE=
BOARD_FAILS=0
fail() {
  echo "FAIL $BOARD_CASE: $*" >&2
  BOARD_FAILS=$((BOARD_FAILS + 1))
}
abort() {
  fail "$*"
  exit 1
}
# board_left SECONDS: what is left of SECONDS since qemu's start (at least 30).
board_left() {
  local s=$(($1 - $(board_ms) / 1000))
  echo $((s < 30 ? 30 : s))
}
board_wait_wan_lease() {
  local g=${BOARD_GUARD_WAN:-600}
  board_wait_wan "$(board_left "$g")" || abort "no masquerade rule within $g s of the boot"
  board_wait_lease "$(board_left "$g")" || abort "the LAN host got no lease within $g s of the boot"
}

# board_settings_of GROUPS_FILE GROUP|CASE: the settings of the group, or
# of the group that lists the case; fails when there is none.
board_settings_of() {
  grep -v '^#' "$1" | awk -v n="$2" '
    { s = 0; for (i = 1; i <= NF; i++) { if ($i == ":") s = i; else if (i == 1 && $i == n || s && $i == n) { f = 1 } }
      if (f) { for (i = 2; i < s; i++) printf "%s ", $i; print ""; exit } }
    END { exit !f }'
}

board_run() {
  local file=$1 build=$2 booted='' dirty=0 rc=0 c settings t0
  shift 2
  trap 'board_stop; exit 1' INT TERM HUP
  local names=("$@")
  if [ $# = 1 ] && grep -q "^$1 " "$file"; then
    read -r -a names <<<"$(sed -n "s/^$1 .*: //p" "$file")"
  fi
  for c in "${names[@]}"; do
    settings=$(board_settings_of "$file" "$c") && type "case_$c" >/dev/null 2>&1 ||
      { echo "board: no case $c in $file" >&2; rc=1; continue; }
    if [ -z "${BOARD_TMP:-}" ] || [ "$booted" != "$settings" ] || [ $dirty = 1 ] ||
      ! board_exec --timeout 30 true >/dev/null 2>&1; then
      board_stop || rc=1
      # shellcheck disable=SC2086
      board_up "$build" $settings && booted=$settings dirty=0 &&
        board_wait_ready "${BOARD_GUARD_READY:-300}" || {
        echo "FAIL $c: no board answering within ${BOARD_GUARD_READY:-300} s" >&2
        rc=1 dirty=1
        continue
      }
      local ready wan lease g=${BOARD_GUARD_WAN:-600}
      ready=$(board_ms)
      board_wait_wan "$(board_left "$g")" && wan=$(board_ms) &&
        board_wait_lease "$(board_left "$g")" && lease=$(board_ms) &&
        printf 'board: [%s] channel %d.%d s, WAN up %d.%d s, LAN host leased %d.%d s after qemu'"'"'s start\n' \
          "${settings% }" $((ready / 1000)) $((ready % 1000 / 100)) $((wan / 1000)) $((wan % 1000 / 100)) \
          $((lease / 1000)) $((lease % 1000 / 100)) >&2
    fi
    t0=$SECONDS
    if (
      BOARD_CASE=$c
      "case_$c"
      [ $BOARD_FAILS = 0 ]
    ); then
      echo "$c: passed ($((SECONDS - t0)) s)"
    else
      echo "$c: FAILED ($((SECONDS - t0)) s)"
      echo "--- $c: the lab's log, netmgr's output, the refused lines; the console" >&2
      board_exec --timeout 30 'cat /board/log/lab.log; tail -n 30 /var/log/netmgr.log; cat /board/refused' >&2
      tail -n 20 "$BOARD_TMP/console.log" >&2
      rc=1 dirty=1
    fi
  done
  board_stop || rc=1
  return $rc
}

# board_stop: board_down, and a check that neither qemu nor the run's
# directory is left behind.
board_stop() {
  local qemu=${BOARD_QEMU:-} tmp=${BOARD_TMP:-}
  board_down
  BOARD_QEMU=
  if [ -n "$qemu" ] && kill -0 "$qemu" 2>/dev/null; then echo "board: left behind: qemu (pid $qemu)" >&2; return 1; fi
  if [ -n "$tmp" ] && [ -e "$tmp" ]; then echo "board: left behind: $tmp" >&2; return 1; fi
  return 0
}
