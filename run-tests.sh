#!/bin/bash
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer and
# runs all four test tiers: unit, process (real programs in a sandbox), sim
# (the router simulation) and board (the mipsel build on an emulated MIPS
# board). Process, sim and board tests need root; without it they are
# reported as skipped and this script fails, so a green run always means
# every tier ran.
#
#   ./run-tests.sh              all tiers
#   ./run-tests.sh -L unit      only one label (any ctest arguments)
#   ./run-tests.sh -L board     the board tier alone (docs/board.md; it builds the
#                               cross build with .ci/cross.sh when it is missing)
set -euo pipefail
cd "$(dirname "$0")"
BUILD=${BUILD_DIR:-build-test}

# As root, a fresh machine gets the Debian packages it lacks first.
if [ "$(id -u)" = 0 ]; then
  bash .ci/install-deps.sh
fi

# The libFuzzer build of the fuzz targets (clang), which a unit test runs
# briefly; the test build replays their corpora itself.
FUZZ_BUILD=${FUZZ_BUILD_DIR:-build-fuzz}
CC=clang CXX=clang++ cmake -S . -B "$FUZZ_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DROUTER_FUZZ=ON -DROUTER_TESTS=OFF >/dev/null
ninja -C "$FUZZ_BUILD" fuzz_targets

cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DROUTER_SANITIZE=ON \
  -DROUTER_FUZZ_BUILD="$(realpath "$FUZZ_BUILD")" >/dev/null
ninja -C "$BUILD"

log=$(mktemp)
trap 'rm -f "$log"' EXIT
status=0
(cd "$BUILD" && ctest --output-on-failure -j"$(nproc)" "$@") | tee "$log" || status=$?
if grep -q 'Not Run\|\*\*\*Skipped' "$log"; then
  echo "run-tests: some tests were skipped (see above); they must run (as root)" >&2
  status=1
fi
exit $status
