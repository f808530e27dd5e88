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
#
# RUN_TESTS_BUILD=only builds the two trees and stops; RUN_TESTS_BUILD=no
# runs the tests on the trees as they are (.ci/run builds first, then runs
# the tests while its clang build of the rest of build-fuzz goes on).
set -euo pipefail
cd "$(dirname "$0")"
BUILD=${BUILD_DIR:-build-test}

# As root, a fresh machine gets the Debian packages it lacks first.
if [ "$(id -u)" = 0 ]; then
  bash .ci/install-deps.sh
fi

# The libFuzzer build of the fuzz targets (clang), which a unit test runs
# briefly; the test build replays their corpora itself. The fuzz tree is
# configured with the test programs, as .ci/run's clang build (all of it)
# wants it, so that neither configuration undoes the other; only the fuzz
# targets are built here.
FUZZ_BUILD=${FUZZ_BUILD_DIR:-build-fuzz}
if [ "${RUN_TESTS_BUILD:-}" != no ]; then
  CC=clang CXX=clang++ cmake -S . -B "$FUZZ_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
    -DROUTER_FUZZ=ON -DROUTER_TESTS=ON >/dev/null
  ninja -C "$FUZZ_BUILD" fuzz_targets

  cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DROUTER_SANITIZE=ON \
    -DROUTER_FUZZ_BUILD="$(realpath "$FUZZ_BUILD")" >/dev/null
  ninja -C "$BUILD"
fi
[ "${RUN_TESTS_BUILD:-}" != only ] || exit 0

log=$(mktemp)
trap 'rm -f "$log"' EXIT
status=0
# One test more than processors: the process and sim tests spend most of
# their time waiting for the daemons' timers (a sim test keeps about a third
# of a processor busy); those that keep the processors busy say so
# (PROCESSORS 2), and at most three sim tests run at once (sim/resources.json).
(cd "$BUILD" && ctest --output-on-failure -j"$(($(nproc) + 1))" "$@") | tee "$log" || status=$?
if grep -q 'Not Run\|\*\*\*Skipped' "$log"; then
  echo "run-tests: some tests were skipped (see above); they must run (as root)" >&2
  status=1
fi
exit $status
