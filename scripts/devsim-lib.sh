# Sourced by the scripts that run simulated devices. Needs $devsim (the varnok-devsim program),
# $work (a scratch folder), the array pids, and $sim_who (the script's name for messages).
# With sim_log set, a simulator's log goes to $work/NAME.log instead of the terminal.

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
