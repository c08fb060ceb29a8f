#!/bin/bash
# Builds the fuzz targets with clang into a build directory of their own and runs each for
# the given number of seconds (10 by default), starting from the seeds in fuzz/corpus.
# Prints executions, executions per second and crashes per target; exits non-zero when any
# target crashed, broke a property or did not run.
#   fuzz/run.sh [SECONDS]
# Environment: BUILD (build directory, default build-fuzz at the top of the tree),
# PARALLEL (targets run at once, default 1), TARGETS (space-separated subset),
# CXX (default clang++).
set -u

SECONDS_EACH=${1:-10}
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${BUILD:-"$ROOT/build-fuzz"}
PARALLEL=${PARALLEL:-1}
TARGETS=${TARGETS:-"rtu_frame send_encoding settings_text extract_tokens recv_display monitor_session network_port telnet mbap"}

cmake -S "$ROOT/fuzz" -B "$BUILD" -DCMAKE_CXX_COMPILER="${CXX:-clang++}" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null || exit 2
cmake --build "$BUILD" -j"${JOBS:-2}" >"$BUILD/build.log" 2>&1 || {
    cat "$BUILD/build.log"
    exit 2
}

# One target: new inputs go to the build directory's corpus, the committed seeds stay as they
# are; a crash leaves its input under artifacts/<target>/.
run_one() {
    local t=$1
    local corpus="$BUILD/corpus/$t" artifacts="$BUILD/artifacts/$t"
    mkdir -p "$corpus" "$artifacts"
    "$BUILD/fuzz_$t" -max_total_time="$SECONDS_EACH" -timeout=10 -print_final_stats=1 \
        -artifact_prefix="$artifacts/" "$corpus" "$ROOT/fuzz/corpus/$t" >"$BUILD/$t.log" 2>&1
    echo $? >"$BUILD/$t.rc"
}

running=0
for t in $TARGETS; do
    rm -rf "$BUILD/artifacts/$t" "$BUILD/$t.log" "$BUILD/$t.rc"
    run_one "$t" &
    running=$((running + 1))
    if [ "$running" -ge "$PARALLEL" ]; then
        wait -n
        running=$((running - 1))
    fi
done
wait

status=0
printf '%-16s %14s %10s %8s\n' target executions exec/s crashes
for t in $TARGETS; do
    log="$BUILD/$t.log"
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" 2>/dev/null | tail -1)
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" 2>/dev/null | tail -1)
    crashes=$(find "$BUILD/artifacts/$t" -type f 2>/dev/null | wc -l)
    rc=$(cat "$BUILD/$t.rc" 2>/dev/null || echo none)
    printf '%-16s %14s %10s %8s\n' "$t" "${execs:-?}" "${rate:-?}" "$crashes"
    if [ "$rc" != 0 ] || [ "$crashes" != 0 ] || [ -z "$execs" ]; then
        status=1
        echo "--- $t failed (exit $rc), the end of its log ($log):"
        grep -E 'property violated|ERROR|runtime error|SUMMARY|Test unit written' "$log" | head -20
    fi
done
exit $status
