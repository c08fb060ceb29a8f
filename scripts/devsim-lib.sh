# shellcheck shell=bash disable=SC2154,SC2034
# Sourced by the scripts that run simulated devices. Needs $devsim (the varnok-devsim program),
# $work (a scratch folder), the array pids, and $sim_who (the script's name for messages).
# With sim_log set, a simulator's log goes to $work/NAME.log instead of the terminal.

# Asks every child in pids to stop, gives it 3 s, then kills it; waits for each, so none is
# left; removes $work. For the EXIT trap.
stop_children() {
    trap - EXIT INT TERM HUP
    local p i alive
    for p in "${pids[@]}"; do kill -TERM "$p" 2>/dev/null || true; done
    for ((i = 0; i < 30; i++)); do
        alive=0
        for p in "${pids[@]}"; do kill -0 "$p" 2>/dev/null && alive=1; done
        [ "$alive" = 0 ] && break
        sleep 0.1
    done
    for p in "${pids[@]}"; do kill -KILL "$p" 2>/dev/null || true; done
    for p in "${pids[@]}"; do wait "$p" 2>/dev/null || true; done
    rm -rf "$work"
}

# Starts one simulator and sets $device from the DEVICE line it prints first.
start_sim() {
    local name=$1 line='' i
    shift
    : >"$work/$name.out"
    if [[ -n ${sim_log:-} ]]; then
        "$devsim" "$@" >"$work/$name.out" 2>"$work/$name.log" &
    else
        "$devsim" "$@" >"$work/$name.out" &
    fi
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
    echo "$sim_who: the $name simulator did not start" >&2
    exit 1
}
