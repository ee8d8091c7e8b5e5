#!/usr/bin/env bash
# Ingest over loopback: how much of a burst of announcements the monitor records, next to what a
# bare receive loop gets of the same burst, and the highest paced rate it records without loss.
#
#   bench/measure_ingest.sh [build-folder]        (default: build-bench beside this folder)
#
# Environment: REPEATS (burst runs, default 3), PACED_REPEATS (runs per paced rate, default 3),
# RATES (ascending datagrams/s to try, default "20000 50000 100000 200000"; when the lowest
# loses, it is halved down to FLOOR_RATE, default 5000), DEVICES (default 100000), LTIME (the
# monitor's save interval in seconds, default 10), MONITOR_ENV (extra environment for the
# monitor, e.g. "TZ=:/etc/localtime").
# Targets: monitor records >= 90% of what the bare loop receives of the burst.
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
# shellcheck source=bench/common.sh
source "$here/common.sh"
build="$(cd "${1:-$here/../build-bench}" && pwd)"
repeats="${REPEATS:-3}"
pacedRepeats="${PACED_REPEATS:-3}"
rates="${RATES:-20000 50000 100000 200000}"
floorRate="${FLOOR_RATE:-5000}"
devices="${DEVICES:-100000}"
saveInterval="${LTIME:-10}"
monitorEnv="${MONITOR_ENV:-}"
hz="$(getconf CLK_TCK)"

for tool in zqnlist zqn-announce zqn-recv-baseline; do
    [[ -x "$build/$tool" ]] || { echo "missing $build/$tool; build it first (see bench/README.md)" >&2; exit 2; }
done

work="$(mktemp -d "${TMPDIR:-/tmp}/zqn-ingest.XXXXXX")"
child="" # the one process of ours still running, if any
cleanup() {
    if [[ -n "$child" ]]; then
        kill -KILL "$child" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

# One bare receive of the sender's datagrams at rate $1; sets received and distinct.
runBaseline() {
    local rate="$1" port out pid
    port="$(freePort)"
    out="$work/baseline.out"
    "$build/zqn-recv-baseline" --port "$port" --expect "$devices" --silence 2 --first-wait 20 --most 120 >"$out" &
    pid=$!
    child="$pid"
    for ((i = 0; i < 100; ++i)); do
        grep -q listening "$out" 2>/dev/null && break
        sleep 0.05
    done
    "$build/zqn-announce" --port "$port" --count-macs "$devices" --total "$devices" --rate "$rate" >"$work/send.out"
    wait "$pid"
    child=""
    read -r received distinct < <(sed -n 's/^received \([0-9]*\) datagrams, \([0-9]*\) distinct.*/\1 \2/p' "$out")
}

# One monitor run at rate $1; sets recorded (devices in the final CSV file), cpu (the monitor's
# CPU seconds from the first datagram until it fell idle) and sent (the sender's seconds).
runMonitor() {
    local rate="$1" port dir pid before after last
    port="$(freePort)"
    dir="$work/monitor"
    rm -rf "$dir"
    mkdir -p "$dir"
    cp "$build/zqnlist" "$dir/"
    printf '[SYSTEM]\r\nAUTO=1\r\nWINDOW=1\r\nPORT=%s\r\nLTIME=%s\r\nMAXDEV=1000000\r\n[DATA]\r\nCSV=zqnlist.csv\r\nHTML=zqnlist.htm\r\n' \
        "$port" "$saveInterval" >"$dir/zqnlist.Ini"
    # shellcheck disable=SC2086 # MONITOR_ENV is a list of assignments
    (cd "$dir" && exec env QT_QPA_PLATFORM=offscreen $monitorEnv ./zqnlist >"$dir/log" 2>&1) &
    pid=$!
    child="$pid"
    # The first page follows Start, which binds the port first.
    waitForFile "$dir/zqnlist.htm" || { echo "monitor did not start; log:" >&2; cat "$dir/log" >&2; exit 1; }
    before="$(cpuTicks "$pid")"
    "$build/zqn-announce" --port "$port" --count-macs "$devices" --total "$devices" --rate "$rate" >"$work/send.out"
    # Let it work off what is queued (at most 20 s): done when its CPU time stops moving.
    last=-1
    for ((i = 0; i < 100; ++i)); do
        after="$(cpuTicks "$pid")"
        [[ "$after" == "$last" ]] && break
        last="$after"
        sleep 0.2
    done
    endProcess "$pid" || { echo "monitor exited with $?" >&2; exit 1; }
    child=""
    recorded="$(wc -l <"$dir/zqnlist.csv")"
    sent="$(sed -n 's/^sent [0-9]* datagrams in \([0-9.]*\) s/\1/p' "$work/send.out")"
    cpu="$(awk -v t="$((after - before))" -v hz="$hz" 'BEGIN {printf "%.2f", t / hz}')"
}

echo "load before: $(uptime)"
[[ -n "$monitorEnv" ]] && echo "monitor environment: $monitorEnv"
echo "kernel receive buffer ceiling net.core.rmem_max: $(cat /proc/sys/net/core/rmem_max) bytes"
echo
echo "== Burst: $devices datagrams from $devices MACs, as fast as the sender goes (--rate 0)"
baseRuns=() monRuns=()
for ((run = 1; run <= repeats; ++run)); do
    runBaseline 0
    runMonitor 0
    echo "run $run: bare loop received $received ($distinct distinct MACs); monitor recorded $recorded devices" \
         "(sender took $sent s; monitor CPU $cpu s)"
    baseRuns+=("$received")
    monRuns+=("$recorded")
done
baseMedian="$(median "${baseRuns[*]}")"
monMedian="$(median "${monRuns[*]}")"
awk -v b="$baseMedian" -v m="$monMedian" 'BEGIN {
    ratio = b > 0 ? 100 * m / b : 0
    printf "burst median: bare loop %d, monitor %d, ratio %.1f%% (target >= 90%%: %s)\n", b, m, ratio, (ratio >= 90 ? "holds" : "MISSES")
}'

echo
echo "== Paced: $devices datagrams from $devices MACs at a fixed rate, $pacedRepeats runs each"
best=0 bestReached=0
tryRate() {
    local rate="$1" runs=() took=() lossless=1
    for ((run = 1; run <= pacedRepeats; ++run)); do
        runMonitor "$rate"
        runs+=("$recorded")
        took+=("$sent")
        ((recorded == devices)) || lossless=0
        echo "  rate $rate/s run $run: recorded $recorded of $devices (sender took $sent s; monitor CPU $cpu s," \
             "$(awk -v c="$cpu" -v r="$recorded" 'BEGIN {printf "%.1f", (r > 0 ? 1e6 * c / r : 0)}') us per record)"
    done
    reached="$(awk -v n="$devices" -v t="$(median "${took[*]}")" 'BEGIN {printf "%.0f", n / t}')"
    echo "rate $rate/s (sender reached $reached/s):" \
         "median recorded $(median "${runs[*]}") of $devices; $([[ $lossless == 1 ]] && echo "no loss in any run" || echo "LOSS")"
    return $((1 - lossless))
}
firstRate="${rates%% *}"
if tryRate "$firstRate"; then
    best="$firstRate" bestReached="$reached"
    for rate in ${rates#"$firstRate"}; do
        tryRate "$rate" || break
        best="$rate" bestReached="$reached"
    done
else
    rate="$firstRate"
    while ((rate / 2 >= floorRate)); do
        rate=$((rate / 2))
        if tryRate "$rate"; then
            best="$rate" bestReached="$reached"
            break
        fi
    done
    if ((best == 0)); then
        runBaseline "$rate"
        echo "  bare loop at $rate/s for comparison: received $received ($distinct distinct MACs)"
    fi
fi
if ((best > 0)); then
    echo "highest paced rate recorded without loss: $best/s asked, $bestReached records/s reached by the sender"
else
    echo "highest paced rate recorded without loss: none at or above $floorRate/s"
fi
echo "load after: $(uptime)"
