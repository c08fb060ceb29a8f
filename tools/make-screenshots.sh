#!/usr/bin/env bash
# Remakes the README's pictures from the real windows, offscreen: the main window at
# start-up, a Modbus exchange with replies in hex, the monitor after a Modbus exchange ending
# in an exception reply, Quick Send with stored sends, the N500 dialog filled by "GET", the Poll
# window charting live values.
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
sim_who=make-screenshots
sim_log=1
# shellcheck source=scripts/devsim-lib.sh
source "$here/scripts/devsim-lib.sh"
trap stop_children EXIT
trap 'exit 129' HUP
trap 'exit 130' INT
trap 'exit 143' TERM

device=
# Fixed inputs, so that the pictures come out the same every time.
start_sim modbus --mode modbus --static
modbus_dev=$device
start_sim n500 --mode n500 --ip 192.168.1.20 --mask 255.255.255.0 --gateway 192.168.1.1
n500_dev=$device
# Live registers for the Poll window's chart.
start_sim live --mode modbus
live_dev=$device
# A module at a setting other than the terminal's, for the Find window.
start_sim find --mode modbus --static --baud 9600 --framing 8N1 --station 17
find_dev=$device

# Its own settings: the user's remembered windows and Quick Send book stay out of the pictures.
XDG_CONFIG_HOME="$work/config" QT_QPA_PLATFORM=offscreen "$shots" "$out" --modbus "$modbus_dev" --n500 "$n500_dev" \
    --poll "$live_dev" --find "$find_dev"
