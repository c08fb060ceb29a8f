#!/usr/bin/env bash
# Remakes the README's pictures from the real windows, offscreen: the main window at
# start-up, a Modbus exchange with replies in hex, the N500 dialog filled by "GET".
# Usage: tools/make-screenshots.sh [OUTDIR]   (default docs/)
#   VARNOK_BUILD_DIR  build directory (default build/)
#   VARNOK_NO_BUILD=1 use what is in the build directory as it is
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${VARNOK_BUILD_DIR:-$here/build}
out=${1:-$here/docs}

if [ "${VARNOK_NO_BUILD:-0}" != 1 ]; then
    "$here/scripts/setup.sh"
fi
devsim=$build/tools/devsim/varnok-devsim
shots=$build/varnok-screenshots
for exe in "$devsim" "$shots"; do
    [ -x "$exe" ] || { echo "make-screenshots: $exe is missing" >&2; exit 1; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/varnok-shots.XXXXXX")
pids=()
cleanup() {
    trap - EXIT INT TERM HUP
    local p
    for p in "${pids[@]}"; do kill -TERM "$p" 2>/dev/null || true; done
    for p in "${pids[@]}"; do wait "$p" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 129' HUP
trap 'exit 130' INT
trap 'exit 143' TERM

# Starts one simulator and sets $device from the DEVICE line it prints first.
start_sim() {
    local name=$1 line='' i
    shift
    : >"$work/$name.out"
    "$devsim" "$@" >"$work/$name.out" 2>"$work/$name.log" &
    pids+=($!)
    for ((i = 0; i < 100; i++)); do
        IFS= read -r line <"$work/$name.out" || line=
        if [[ $line == DEVICE\ * ]]; then
            device=${line#DEVICE }
            return 0
        fi
        kill -0 "${pids[-1]}" 2>/dev/null || break
        sleep 0.05
    done
    echo "make-screenshots: the $name simulator did not start" >&2
    exit 1
}

device=
# Fixed inputs, so that the pictures come out the same every time.
start_sim modbus --mode modbus --static
modbus_dev=$device
start_sim n500 --mode n500 --ip 192.168.1.20 --mask 255.255.255.0 --gateway 192.168.1.1
n500_dev=$device

QT_QPA_PLATFORM=offscreen "$shots" "$out" --modbus "$modbus_dev" --n500 "$n500_dev"
