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
  if [ -f "$build/root.img" ] && [ -z "$(find "$BOARD_SRC/board" "$BOARD_SRC/build-mipsel/stage" \
    "$BOARD_SRC/sim/hosts/lan-udhcpc.script" "$build/pkgs.stamp" -newer "$build/root.img" -print -quit)" ]; then
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
  setsid setpriv --pdeathsig KILL qemu-system-mipsel -M malta -cpu 24Kc -m 64 -nographic \
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
