#!/bin/bash
# Builds the libFuzzer targets (clang, ASan, UBSan) and runs them.
#
#   fuzz/run.sh [-b BUILD] [-t SECONDS | -n RUNS] [-j JOBS] [-k] [TARGET...]
#
#   -b BUILD    build directory (default build-fuzz); configured and built here
#               unless -B is given (then it must already be built)
#   -t SECONDS  run each target at most this long (default 10)
#   -n RUNS     stop a target after this many executions (the time limit
#               still holds: "-n 1000000 -t 600" is whichever comes first)
#   -j JOBS     targets run at the same time (default 1)
#   -o DIR      where the logs and crashing inputs go (default BUILD)
#   -k          keep new inputs in fuzz/corpus/<target>/ (default: a temporary
#               directory; the corpus in the repository is only read)
#   TARGET...   the targets (default: all of fuzz/corpus/*)
#
# Prints one line per target: executions, coverage (libFuzzer's cov: edges),
# features and whether it crashed; the log of each run is in
# DIR/fuzz-logs/<target>.log and a crashing input in DIR/fuzz-crashes/.
# Exits 1 when any target crashed.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=$root/build-fuzz
seconds=10 runs= jobs=1 keep=0 prebuilt=0 out=
while getopts "b:Bt:n:j:ko:" o; do
  case $o in
    b) build=$(realpath -m "$OPTARG") ;;
    B) prebuilt=1 ;;
    t) seconds=$OPTARG ;;
    n) runs=$OPTARG ;;
    j) jobs=$OPTARG ;;
    k) keep=1 ;;
    o) out=$(realpath -m "$OPTARG") ;;
    *) sed -n '2,20p' "$0" >&2; exit 2 ;;
  esac
done
shift $((OPTIND - 1))

if [ $prebuilt = 0 ]; then
  CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
    -DROUTER_FUZZ=ON -DROUTER_TESTS=OFF >/dev/null || exit 1
  ninja -C "$build" -j2 fuzz_targets >/dev/null || { ninja -C "$build" -j2 fuzz_targets; exit 1; }
fi

targets=("$@")
if [ ${#targets[@]} = 0 ]; then
  for d in "$here"/corpus/*/; do targets+=("$(basename "$d")"); done
fi

out=${out:-$build}
mkdir -p "$out/fuzz-logs" "$out/fuzz-crashes"
# Scratch files (the inputs written as files) go to memory when it can.
if [ -d /dev/shm ] && [ -w /dev/shm ]; then work=$(mktemp -d -p /dev/shm); else work=$(mktemp -d); fi
trap 'rm -rf "$work"' EXIT

one() {
  local t=$1 exe=$build/fuzz/fuzz_$1 log=$out/fuzz-logs/$1.log
  local corpus=$here/corpus/$t new=$work/$t
  mkdir -p "$new"
  [ -x "$exe" ] || { echo "$t: no program $exe"; return 1; }
  local limit=(-max_total_time="$seconds")
  [ -n "$runs" ] && limit+=(-runs="$runs")
  local dirs=("$new" "$corpus")
  [ $keep = 1 ] && dirs=("$corpus")
  mkdir -p "$work/tmp.$t"
  TMPDIR=$work/tmp.$t "$exe" "${limit[@]}" -rss_limit_mb=1024 -timeout=10 -print_final_stats=1 -close_fd_mask=3 \
    -artifact_prefix="$out/fuzz-crashes/$t-" "${dirs[@]}" >"$log" 2>&1
  local rc=$?
  local execs cov ft
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
  ft=$(grep -o 'ft: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
  local what=ok
  [ $rc = 0 ] || what="CRASH (status $rc, see $log)"
  printf '%-18s execs %-9s cov %-6s ft %-6s %s\n' "$t" "${execs:-?}" "${cov:-?}" "${ft:-?}" "$what"
  return $rc
}

status=0
pids=()
for t in "${targets[@]}"; do
  one "$t" >"$work/$t.line" &
  pids+=($!)
  if [ ${#pids[@]} -ge "$jobs" ]; then
    wait "${pids[0]}" || status=1
    pids=("${pids[@]:1}")
  fi
done
for p in "${pids[@]}"; do wait "$p" || status=1; done
for t in "${targets[@]}"; do cat "$work/$t.line"; done
exit $status
