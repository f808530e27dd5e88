#!/bin/bash
# The nvram tool and the store file (NVRAM_FILE points into the sandbox).
. "$(dirname "$0")/lib.sh"

store=$NVRAM_FILE

case_round_trip() {
  rm -f "$store"
  local nl=$'\n' cr=$'\r'
  expect_status 0 nvram set "plain=abc" "back=a\\b\\\\c" "lines=one${nl}two${nl}" "cr=x${cr}y" \
    "eq=a=b==c" "utf=Grüße 路由器" "empty=" "lead= sp ace "
  expect_file "$store" 'back=a\\b\\\\c
cr=x\ry
empty=
eq=a=b==c
lead= sp ace 
lines=one\ntwo\n
plain=abc
utf=Grüße 路由器
'
  # get prints the value as it is, followed by one newline.
  nvram get back >/tmp/out
  expect_file /tmp/out 'a\b\\c
'
  nvram get lines >/tmp/out
  expect_file /tmp/out "one${nl}two${nl}${nl}"
  nvram get cr >/tmp/out
  expect_file /tmp/out "x${cr}y${nl}"
  nvram get eq >/tmp/out
  expect_file /tmp/out "a=b==c${nl}"
  nvram get utf >/tmp/out
  expect_file /tmp/out "Grüße 路由器${nl}"
  nvram get empty >/tmp/out
  expect_file /tmp/out "${nl}"
  nvram show >/tmp/out
  expect_file /tmp/out "$(cat "$store")${nl}"
  # Overwrite, then remove; unsetting an absent key is no error.
  expect_status 0 nvram set plain=xyz
  expect_eq "$(nvram get plain)" xyz "plain after overwrite"
  expect_status 0 nvram unset plain never-set utf
  nvram show >/tmp/out
  expect_file /tmp/out 'back=a\\b\\\\c
cr=x\ry
empty=
eq=a=b==c
lead= sp ace 
lines=one\ntwo\n
'
}

case_absent_key() {
  rm -f "$store"
  nvram get nothing >/tmp/out
  expect_eq "$?" 1 "get from a missing store file"
  expect_file /tmp/out ''
  nvram show >/tmp/out
  expect_eq "$?" 0 "show of a missing store file"
  expect_file /tmp/out ''
  nvram set a=1
  expect_status 1 nvram get A
  expect_status 1 nvram get a=1
  expect_status 0 nvram get a
  # A value that would make a line longer than a reader accepts is refused.
  local big
  big=$(head -c 65534 /dev/zero | tr '\0' v)
  expect_status 0 nvram set "k=$big"
  expect_eq "$(nvram set "k=${big}\\" 2>&1)" "nvram: cannot set k: the line would be longer than 65536 bytes" \
    "message for an overlong value"
  expect_eq "$(nvram get k)" "$big" "value kept after the refused set"
}

case_bad_arguments() {
  local args
  # One argument list per line, fields separated by '|'.
  while IFS='|' read -r -a args; do
    expect_status 2 nvram "${args[@]}" 2>/dev/null
  done <<'LIST'

get
get|a|b
set
set|novalue
set|=value
set|#comment=1
set|good=1|bad
unset
show|x
load
load|a|b
frobnicate
GET|a
LIST
  # A rejected set changes nothing, not even its good pairs.
  expect_status 1 nvram get good
  local usage
  usage=$(nvram 2>&1)
  expect_eq "$usage" "usage: nvram get KEY
       nvram set KEY=VALUE...
       nvram unset KEY...
       nvram show
       nvram load FILE" "usage text"
}

case_load_defaults() {
  printf 'lan_ipaddr=192.168.1.1\nkeep=old\n' >"$store"
  printf '%s' '# shipped defaults
lan_ipaddr=192.168.0.1
wan_connecttype=2

no equals sign here
=no key
multi=a\nb\\c\rd\q
dup=first
dup=second
crlf=yes
' | sed 's/^crlf=yes$/crlf=yes\r/' >/tmp/defaults
  head -c 70000 /dev/zero | tr '\0' x | sed 's/^/long=/' >>/tmp/defaults
  printf '\ntail=no newline at end' >>/tmp/defaults
  nvram load /tmp/defaults 2>/tmp/err
  expect_eq "$?" 0 "load status"
  expect_file /tmp/err "nvram: /tmp/defaults:5: no '=', line skipped
nvram: /tmp/defaults:6: empty key, line skipped
nvram: /tmp/defaults:11: line too long, line skipped
"
  nvram show >/tmp/out
  expect_file /tmp/out 'crlf=yes
dup=second
keep=old
lan_ipaddr=192.168.0.1
multi=a\nb\\c\rd\\q
tail=no newline at end
wan_connecttype=2
'
  expect_status 1 nvram load /tmp/missing 2>/dev/null
  expect_eq "$(nvram load /tmp/missing 2>&1)" "nvram: cannot open /tmp/missing: No such file or directory
nvram: cannot load /tmp/missing: No such file or directory" "message for a missing defaults file"
}

case_bad_store_files() {
  # Whatever the file holds, the tool ends normally (no signal) and the
  # lines it can read are read.
  local name
  for name in random zeros crlf huge-line no-newline dir; do
    rm -rf "$store"
    case $name in
      random) head -c 300000 /dev/urandom >"$store"; printf '\nok=1\n' >>"$store" ;;
      zeros) head -c 5000 /dev/zero >"$store"; printf '\nok=1\n' >>"$store" ;;
      crlf) printf 'ok=1\r\n\r\n\r' >"$store" ;;
      huge-line) head -c 200000 /dev/zero | tr '\0' '=' >"$store"; printf '\nok=1\n' >>"$store" ;;
      no-newline) printf 'ok=1' >"$store" ;;
      dir) mkdir "$store" ;;
    esac
    nvram show >/dev/null 2>&1
    local rc=$?
    [ $rc -lt 2 ] || fail "$name: nvram show ended with status $rc"
    if [ $name != dir ]; then
      expect_eq "$(nvram get ok 2>/dev/null)" 1 "$name: the good line"
    fi
  done
  # A store that cannot be read is never overwritten.
  expect_status 1 nvram set a=1 2>/dev/null
  [ -d "$store" ] || fail "the unreadable store was replaced"
  rm -rf "$store"
  head -c $((17 << 20)) /dev/zero >"$store"
  expect_eq "$(nvram set a=1 2>&1)" "nvram: $store is larger than 16777216 bytes
nvram: cannot set a=1: File too large" "message for an oversized store"
  expect_eq "$(stat -c %s "$store")" $((17 << 20)) "size of the oversized store"
}

# Two store images of 40 keys of 20000 bytes each: every key "a" or every "b".
make_images() {
  local i a b
  a=$(head -c 20000 /dev/zero | tr '\0' a)
  b=$(head -c 20000 /dev/zero | tr '\0' b)
  : >/tmp/A
  : >/tmp/B
  for i in $(seq 10 49); do
    printf 'k%s=%s\n' "$i" "$a" >>/tmp/A
    printf 'k%s=%s\n' "$i" "$b" >>/tmp/B
  done
  sumA=$(md5sum </tmp/A)
  sumB=$(md5sum </tmp/B)
}

case_readers_never_see_half_a_write() {
  make_images
  nvram load /tmp/A
  # The writer alternates both images, each write slowed to many chunks.
  (
    for _ in $(seq 15); do
      NVRAM_TEST_SLOW_WRITE=200 nvram load /tmp/B || exit 1
      NVRAM_TEST_SLOW_WRITE=200 nvram load /tmp/A || exit 1
    done
  ) &
  local writer=$! reads=0 seenA=0 seenB=0 sum raw
  while kill -0 $writer 2>/dev/null; do
    sum=$(nvram show | md5sum)
    raw=$(md5sum <"$store")
    for s in "$sum" "$raw"; do
      if [ "$s" = "$sumA" ]; then seenA=1
      elif [ "$s" = "$sumB" ]; then seenB=1
      else fail "read $reads saw a store that is neither image"; fi
    done
    reads=$((reads + 1))
  done
  wait $writer
  expect_eq "$?" 0 "writer status"
  echo "$reads reads during 30 writes"
  expect_eq "$seenA$seenB" 11 "both images seen in $reads reads"
  expect_eq "$(md5sum <"$store")" "$sumA" "final image"
}

case_killed_writer_leaves_old_file() {
  make_images
  nvram load /tmp/A
  # 800 KB in 4 KB chunks, 20 ms after each: about 4 s of writing.
  NVRAM_TEST_SLOW_WRITE=20000 nvram load /tmp/B &
  local writer=$!
  wait_for 20 test -s "$store.tmp"
  kill -KILL $writer
  wait $writer 2>/dev/null
  local partial
  partial=$(stat -c %s "$store.tmp")
  [ "$partial" -lt 800200 ] || fail "the writer had finished before the kill ($partial bytes)"
  expect_eq "$(md5sum <"$store")" "$sumA" "store after the killed write"
  expect_eq "$(nvram get k10 | md5sum)" "$(sed -n 1p /tmp/A | cut -d= -f2 | md5sum)" "k10 after the killed write"
  # The lock died with the writer; the next write goes through.
  expect_status 0 timeout 10 nvram set after=1
  expect_eq "$(nvram get after)" 1 "write after the killed one"
  [ ! -e "$store.tmp" ] || fail "temporary file left after a good write"
}

run_case "$@"
