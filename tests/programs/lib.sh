# Shared pieces of the program tests (sourced): failures are counted, not fatal, so one
# run reports every fault; every wait has a bound; only processes started here are ended.
failures=0
fail() {
    echo "FAILED: $*" >&2
    failures=$((failures + 1))
}

# wait_for SECONDS COMMAND...: true once COMMAND succeeds, false after SECONDS.
wait_for() {
    local deadline=$((SECONDS + $1))
    shift
    until "$@"; do
        ((SECONDS < deadline)) || return 1
        sleep 0.2
    done
}

# end_within SECONDS PID: true when PID has ended by then (its status in $ended_status);
# otherwise it is killed and false.
end_within() {
    local pid=$2
    if wait_for "$1" eval "! kill -0 $pid 2>/dev/null"; then
        wait "$pid"
        ended_status=$?
        return 0
    fi
    kill -KILL "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
    return 1
}

log_has() { grep -qF -- "$2" "$1" 2>/dev/null; }

# The last line of a log "debug.txt" without its date-time text and CR.
last_event() { tail -n 1 "$1" | tr -d '\r' | sed 's/^.*\( : \)/\1/'; }

finish() {
    if ((failures)); then
        echo "$failures failed" >&2
        exit 1
    fi
    echo "all passed"
}
