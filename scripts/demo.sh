#!/usr/bin/env bash
# A bench with no hardware: builds what is missing, starts simulated devices on
# pseudo-terminals (a Modbus I/O module and an N500 console, Com1 and Com2) and a third I/O
# module reached over the network on this machine: through ser2net's RFC 2217 port (Com3)
# and through its own Modbus TCP server (Com4); then the terminal with those bindings.
# Without ser2net, Com3 is left out. Closing the terminal, Ctrl-C or SIGTERM ends the
# simulators and ser2net too.
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
start_sim network --mode modbus --slave-id 1 --tcp 0
network_dev=$device
com4=$(sed -n 's/^LISTEN //p' "$work/network.out")

# ser2net serves the third module's pseudo-terminal as RFC 2217 on a free port; it keeps
# running without a port it cannot serve, so the port is awaited, not its status.
ser2net=$(command -v ser2net || true)
[ -z "$ser2net" ] && [ -x /usr/sbin/ser2net ] && ser2net=/usr/sbin/ser2net
com3=
if [ -z "$ser2net" ]; then
    echo "demo: ser2net is missing: no Com3 (RFC 2217); Debian's package ser2net has it" >&2
else
    port=$((20000 + RANDOM % 20000))
    while (: <"/dev/tcp/127.0.0.1/$port") 2>/dev/null; do port=$((port + 1)); done
    printf '%s\n' '%YAML 1.1' '---' 'connection: &com3' \
        "  accepter: telnet(rfc2217),tcp,127.0.0.1,$port" \
        "  connector: serialdev,$network_dev,9600n81,local" \
        '  options:' '    kickolduser: true' '    chardelay: false' >"$work/ser2net.yaml"
    "$ser2net" -n -u -c "$work/ser2net.yaml" -P "$work/ser2net.pid" >/dev/null 2>&1 &
    pids+=($!)
    for ((i = 0; i < 50; i++)); do
        if (: <"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
            com3=rfc2217://127.0.0.1:$port
            break
        fi
        sleep 0.1
    done
    [ -z "$com3" ] && echo "demo: ser2net did not serve 127.0.0.1:$port: no Com3" >&2
fi
network_ports=(--port "Com4=$com4")
[ -n "$com3" ] && network_ports+=(--port "Com3=$com3")

cat <<EOF
Varnok_Binary demo bench
  Com1 = $modbus_dev  Modbus RTU I/O module, station 1
         choose Com1, "Open COM", then the Modbus "Send " (e.g. 1 3 0 0 0 1); "Binary" shows the reply in hex
         or "Poll": read 1 3 50 4 and tick "Plot" (50 counter, 51 sine, 52-53 pi as float32)
  Com2 = $n500_dev  N500 network console
         choose Com2, "Open COM", "Set_Net", then "GET"
  Com3 = ${com3:-none}  the same kind of module on $network_dev, through ser2net's RFC 2217 port
  Com4 = $com4  that module's own Modbus TCP server, station 1
The simulators log every request they answer below. Close the terminal to end the demo.
EOF

"$terminal" --port "Com1=$modbus_dev" --port "Com2=$n500_dev" "${network_ports[@]}" "$@" &
terminal_pid=$!
pids+=("$terminal_pid")
status=0
wait "$terminal_pid" || status=$?
exit $status
