#!/usr/bin/env bash
# A bench with no hardware: builds what is missing, starts two simulated devices on
# pseudo-terminals (a Modbus I/O module and an N500 console) and the terminal with Com1 and
# Com2 bound to them. Closing the terminal, Ctrl-C or SIGTERM ends the simulators too.
# Extra arguments go to the terminal, e.g.  scripts/demo.sh -platform offscreen
#   VARNOK_BUILD_DIR  build directory (default build/)
#   VARNOK_NO_BUILD=1 use what is in the build directory as it is
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${VARNOK_BUILD_DIR:-$here/build}

if [ "${VARNOK_NO_BUILD:-0}" != 1 ]; then
    "$here/scripts/setup.sh"
fi
devsim=$build/tools/devsim/varnok-devsim
terminal=$build/varnok-binary
for exe in "$devsim" "$terminal"; do
    if [ ! -x "$exe" ]; then
        echo "demo: $exe is missing (is libmodbus-dev installed?)" >&2
        exit 1
    fi
done

work=$(mktemp -d "${TMPDIR:-/tmp}/varnok-demo.XXXXXX")
pids=()
sim_who=demo
# shellcheck source=scripts/devsim-lib.sh
source "$here/scripts/devsim-lib.sh"
trap stop_children EXIT
trap 'exit 129' HUP
trap 'exit 130' INT
trap 'exit 143' TERM

device=
start_sim modbus --mode modbus --slave-id 1
modbus_dev=$device
start_sim n500 --mode n500
n500_dev=$device

cat <<EOF
Varnok_Binary demo bench
  Com1 = $modbus_dev  Modbus RTU I/O module, station 1
         choose Com1, "Open COM", then the Modbus "Send " (e.g. 1 3 0 0 0 1); "Binary" shows the reply in hex
         or "Poll": read 1 3 50 4 and tick "Plot" (50 counter, 51 sine, 52-53 pi as float32)
  Com2 = $n500_dev  N500 network console
         choose Com2, "Open COM", "Set_Net", then "GET"
The simulators log every request they answer below. Close the terminal to end the demo.
EOF

"$terminal" --port "Com1=$modbus_dev" --port "Com2=$n500_dev" "$@" &
terminal_pid=$!
pids+=("$terminal_pid")
status=0
wait "$terminal_pid" || status=$?
exit $status
