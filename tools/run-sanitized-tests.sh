#!/bin/sh
# Builds the whole suite with AddressSanitizer and UndefinedBehaviorSanitizer (any report
# aborts the test that raised it) and runs it.
# Usage: tools/run-sanitized-tests.sh [BUILD_DIR] [extra ctest arguments...]
set -eu

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${1:-"$ROOT/build-asan"}
[ $# -gt 0 ] && shift
JOBS=${JOBS:-2}

# halt_on_error and abort_on_error turn every report into a failed test; leaks that belong to
# Qt's and the system libraries' own one-time allocations are listed in the suppressions file.
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:halt_on_error=1:abort_on_error=1:detect_stack_use_after_return=1:strict_string_checks=1:check_initialization_order=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
export LSAN_OPTIONS="${LSAN_OPTIONS:-suppressions=$ROOT/tests/lsan.supp:print_suppressions=0}"
# The sanitizer prints the stack of a report already; QtTest's debugger dump only adds minutes.
export QTEST_DISABLE_STACK_DUMP=1

cmake -S "$ROOT" -B "$BUILD" -DVARNOK_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug
cmake --build "$BUILD" -j"$JOBS"
cd "$BUILD"
ctest --output-on-failure -j"$JOBS" "$@"
