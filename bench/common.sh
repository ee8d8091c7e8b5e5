# shellcheck shell=bash
# Helpers of the measurement scripts; sourced, not run.

# Prints a UDP port that nothing is bound to.
freePort() {
    local port tries
    for ((port = 20000 + RANDOM % 20000, tries = 0; tries < 200; ++port, ++tries)); do
        if [[ -z "$(ss -Hlun "sport = :$port" 2>/dev/null)" ]]; then
            echo "$port"
            return
        fi
    done
    echo "no free UDP port found" >&2
    exit 1
}

median() {
    tr ' ' '\n' <<<"$*" | grep . | sort -n | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'
}

# utime + stime of process $1 in clock ticks; the programs measured have no space in their names.
cpuTicks() {
    awk '{print $14 + $15}' "/proc/$1/stat" 2>/dev/null || echo 0
}

# CPU time of process $1 in nanoseconds as the scheduler counts it, summed over its live threads:
# exact where the ticks above are samples, one tick being 10 ms of a run however short.
cpuNanoseconds() {
    cat /proc/"$1"/task/*/schedstat 2>/dev/null | awk '{sum += $1} END {printf "%.0f\n", sum}'
}

# Waits until process $1 has used no CPU for 0.2 s (at most 20 s) and prints its ticks then.
idleTicks() {
    local now last=-1 i
    for ((i = 0; i < 100; ++i)); do
        now="$(cpuTicks "$1")"
        [[ "$now" == "$last" ]] && break
        last="$now"
        sleep 0.2
    done
    echo "$now"
}

# Waits until file $1 exists and is not empty, at most $2 seconds (default 10); false if it never does.
waitForFile() {
    local tenths=$((${2:-10} * 10)) i
    for ((i = 0; i < tenths; ++i)); do
        [[ -s "$1" ]] && return 0
        sleep 0.1
    done
    [[ -s "$1" ]]
}

# Sends SIGTERM to process $1, a child of the script, and waits at most 30 s for it to end; returns
# its exit status, or 124 when it did not end.
endProcess() {
    local i
    kill -TERM "$1"
    for ((i = 0; i < 300; ++i)); do
        kill -0 "$1" 2>/dev/null || break
        sleep 0.1
    done
    if kill -0 "$1" 2>/dev/null; then
        echo "process $1 did not end within 30 s of SIGTERM" >&2
        return 124
    fi
    wait "$1"
}

# Starts program $1 (zqnlist or zqnlistd) from a copy in the empty folder $2 ($build holds it),
# monitoring UDP port $3 with a save interval of $4 s and room for a million devices, on Qt's
# offscreen platform and with MONITOR_ENV and the options MONITOR_ARGS; waits for the first page, which follows the bind. Sets
# monitorPid.
startMonitor() {
    local program="$1" dir="$2"
    cp "$build/$program" "$dir/"
    printf '[SYSTEM]\r\nAUTO=1\r\nWINDOW=1\r\nPORT=%s\r\nLTIME=%s\r\nMAXDEV=1000000\r\n[DATA]\r\nCSV=zqnlist.csv\r\nHTML=zqnlist.htm\r\n' \
        "$3" "$4" >"$dir/$program.Ini"
    # shellcheck disable=SC2086 # MONITOR_ENV is a list of assignments
    # shellcheck disable=SC2086 # MONITOR_ARGS is a list of options
    (cd "$dir" && exec env QT_QPA_PLATFORM=offscreen ${MONITOR_ENV:-} "./$program" ${MONITOR_ARGS:-} >"$dir/log" 2>&1) &
    monitorPid=$!
    waitForFile "$dir/zqnlist.htm" || { echo "monitor did not start; log:" >&2; cat "$dir/log" >&2; return 1; }
}

# Waits, at most 20 s, until process $1 has worked off what was queued: its CPU time stops moving.
# Sets idleTicks to the last reading.
waitUntilIdle() {
    local i now
    idleTicks=-1
    for ((i = 0; i < 100; ++i)); do
        now="$(cpuTicks "$1")"
        [[ "$now" == "$idleTicks" ]] && return 0
        idleTicks="$now"
        sleep 0.2
    done
}
