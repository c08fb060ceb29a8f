#!/usr/bin/env bash
# Start-up of windowed programs under Xvfb, side by side in one run: for each program, the
# wall time from its start until its window is mapped, and its CPU time (user + system) one
# second after that, as the median of RUNS starts.
#
#   tools/startup-cpu.sh [RUNS] 'TITLE PATTERN' 'COMMAND' ['TITLE PATTERN' 'COMMAND' ...]
#   tools/startup-cpu.sh 9 'Varnok_Binary' build/varnok-binary 'CuteCom' cutecom
#
# Needs xvfb and xdotool (apt-get install xvfb xdotool).
set -euo pipefail

runs=5
if [[ ${1:-} =~ ^[0-9]+$ ]]; then
    runs=$1
    shift
fi
(($# >= 2 && $# % 2 == 0)) || { sed -n '2,8p' "$0"; exit 2; }

display=:$((90 + RANDOM % 100))
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
home=$(mktemp -d)
trap 'kill $xvfb 2>/dev/null; rm -rf "$home"' EXIT
export DISPLAY=$display HOME=$home XDG_CONFIG_HOME=$home/.config
for _ in $(seq 50); do xdotool getmouselocation >/dev/null 2>&1 && break; sleep 0.1; done

median() { sort -n | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }

while (($# >= 2)); do
    pattern=$1 command=$2
    shift 2
    walls=() cpus=()
    for _ in $(seq "$runs"); do
        start=$(date +%s.%N)
        $command >/dev/null 2>&1 &
        pid=$!
        xdotool search --sync --onlyvisible --name "$pattern" >/dev/null
        mapped=$(date +%s.%N)
        sleep 1
        # Nanoseconds on a CPU, summed over the threads (finer than the tick counts of stat).
        ns=$(cat /proc/"$pid"/task/*/schedstat | awk '{s += $1} END {print s}')
        kill "$pid"
        wait "$pid" 2>/dev/null || true
        walls+=("$(echo "$mapped - $start" | bc)")
        cpus+=("$(echo "scale=3; $ns / 1000000000" | bc)")
    done
    printf '%-40s mapped after %ss, CPU %ss (median of %d)\n' "$command" \
        "$(printf '%s\n' "${walls[@]}" | median)" "$(printf '%s\n' "${cpus[@]}" | median)" "$runs"
done
