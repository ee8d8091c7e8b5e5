#!/usr/bin/env bash
# Ingest over loopback: how much of a burst of announcements the monitor records, next to what two
# bare receive loops get of the same burst (one recvfrom per datagram, and recvmmsg 64 at a time),
# the CPU time each spends per datagram, and the highest paced rate recorded without loss; for
# the window program (minimised) and for the service.
#
#   bench/measure_ingest.sh [build-folder]        (default: build-bench beside this folder)
#
# Environment: REPEATS (burst runs, default 3), PACED_REPEATS (runs per paced rate, default 3),
# RATES (ascending datagrams/s to try, default "20000 50000 100000 200000"; when the lowest
# loses, it is halved down to FLOOR_RATE, default 5000), DEVICES (default 100000), LTIME (the
# monitor's save interval in seconds, default 10), MONITOR_ENV (extra environment for the
# monitor, e.g. "TZ=:/etc/localtime"), PROGRAMS (default "zqnlist zqnlistd"), PARTS (default
# "burst paced events").
# The events part runs the burst through zqnlistd with its device entries (on standard error, the
# journal's stand-in) and with --no-device-log, run by run, and counts the entries.
# Targets: each program records >= 99% of the burst in every run, at no more CPU per datagram than
# the recvfrom loop and at most 1.5 times the recvmmsg loop; no loss at any paced rate; device
# entries cost at most 1.05 times the CPU per datagram without them, and a burst makes a bounded
# number of entries.
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
programs="${PROGRAMS:-zqnlist zqnlistd}"
parts="${PARTS:-burst paced events}"
has() { [[ " $parts " == *" $1 "* ]]; }
hz="$(getconf CLK_TCK)"

for tool in $programs zqn-announce zqn-recv-baseline; do
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

# One bare receive of the sender's datagrams at rate $1, $2 datagrams per receive call; sets
# received, distinct and cpu (the loop's CPU seconds).
runBaseline() {
    local rate="$1" batch="$2" port out pid
    port="$(freePort)"
    out="$work/baseline.out"
    "$build/zqn-recv-baseline" --port "$port" --expect "$devices" --silence 2 --first-wait 20 --most 120 \
        --batch "$batch" >"$out" &
    pid=$!
    child="$pid"
    for ((i = 0; i < 100; ++i)); do
        grep -q listening "$out" 2>/dev/null && break
        sleep 0.05
    done
    "$build/zqn-announce" --port "$port" --count-macs "$devices" --total "$devices" --rate "$rate" >"$work/send.out"
    wait "$pid"
    child=""
    read -r received distinct cpu < <(sed -n 's/^received \([0-9]*\) datagrams, \([0-9]*\) distinct.*CPU \([0-9.]*\) s$/\1 \2 \3/p' "$out")
}

# One run of program $1 at rate $2; sets recorded (devices in the final CSV file), cpu (the
# monitor's CPU seconds from the first datagram until it fell idle) and sent (the sender's seconds).
runMonitor() {
    local program="$1" rate="$2" port dir pid before after
    port="$(freePort)"
    dir="$work/monitor"
    rm -rf "$dir"
    mkdir -p "$dir"
    startMonitor "$program" "$dir" "$port" "$saveInterval"
    pid="$monitorPid"
    child="$pid"
    before="$(cpuTicks "$pid")"
    "$build/zqn-announce" --port "$port" --count-macs "$devices" --total "$devices" --rate "$rate" >"$work/send.out"
    waitUntilIdle "$pid"
    after="$idleTicks"
    endProcess "$pid" || { echo "monitor exited with $?" >&2; exit 1; }
    child=""
    recorded="$(wc -l <"$dir/zqnlist.csv")"
    sent="$(sed -n 's/^sent [0-9]* datagrams in \([0-9.]*\) s/\1/p' "$work/send.out")"
    cpu="$(awk -v t="$((after - before))" -v hz="$hz" 'BEGIN {printf "%.2f", t / hz}')"
}

echo "load before: $(uptime)"
[[ -n "$monitorEnv" ]] && echo "monitor environment: $monitorEnv"
echo "kernel receive buffer ceiling net.core.rmem_max: $(cat /proc/sys/net/core/rmem_max) bytes"
# CPU microseconds per datagram
perDatagram() { awk -v c="$1" -v n="$2" 'BEGIN {printf "%.2f", (n > 0 ? 1e6 * c / n : 0)}'; }
if has burst; then
echo
echo "== Burst: $devices datagrams from $devices MACs, as fast as the sender goes (--rate 0)"
fromRuns=() fromCpu=() batchRuns=() batchCpu=()
declare -A monRuns=() monCpu=() monLeast=()
for ((run = 1; run <= repeats; ++run)); do
    runBaseline 0 1
    fromRuns+=("$received") fromCpu+=("$(perDatagram "$cpu" "$received")")
    line="run $run: recvfrom loop $received ($(perDatagram "$cpu" "$received") us)"
    runBaseline 0 64
    batchRuns+=("$received") batchCpu+=("$(perDatagram "$cpu" "$received")")
    line+="; recvmmsg loop $received ($(perDatagram "$cpu" "$received") us)"
    for program in $programs; do
        runMonitor "$program" 0
        monRuns[$program]+=" $recorded" monCpu[$program]+=" $(perDatagram "$cpu" "$recorded")"
        if [[ -z "${monLeast[$program]:-}" ]] || ((recorded < monLeast[$program])); then monLeast[$program]="$recorded"; fi
        line+="; $program $recorded ($(perDatagram "$cpu" "$recorded") us, sender $sent s)"
    done
    echo "$line"
done
fromCpuMedian="$(median "${fromCpu[*]}")"
batchCpuMedian="$(median "${batchCpu[*]}")"
echo "burst median: recvfrom loop $(median "${fromRuns[*]}") at $fromCpuMedian us of CPU per datagram," \
     "recvmmsg loop $(median "${batchRuns[*]}") at $batchCpuMedian us"
for program in $programs; do
    awk -v n="$devices" -v m="$(median "${monRuns[$program]}")" -v least="${monLeast[$program]}" \
        -v c="$(median "${monCpu[$program]}")" -v f="$fromCpuMedian" -v b="$batchCpuMedian" -v p="$program" 'BEGIN {
        printf "%s: median %d recorded (%.1f%%), least %.1f%% (target >= 99%% in every run: %s);", p, m, 100 * m / n,
               100 * least / n, (100 * least / n >= 99 ? "holds" : "MISSES")
        printf " %.2f us of CPU per datagram, %.2fx the recvfrom loop (target <= 1.0: %s), %.2fx the recvmmsg loop (target <= 1.5: %s)\n",
               c, c / f, (c / f <= 1.0 ? "holds" : "MISSES"), c / b, (c / b <= 1.5 ? "holds" : "MISSES")
    }'
done

fi

if has paced; then
echo
echo "== Paced: $devices datagrams from $devices MACs at a fixed rate, $pacedRepeats runs each"
tryRate() {
    local rate="$1" runs=() took=() lossless=1
    for ((run = 1; run <= pacedRepeats; ++run)); do
        runMonitor "$pacedProgram" "$rate"
        runs+=("$recorded")
        took+=("$sent")
        ((recorded == devices)) || lossless=0
        echo "  $pacedProgram rate $rate/s run $run: recorded $recorded of $devices (sender took $sent s; monitor CPU $cpu s," \
             "$(awk -v c="$cpu" -v r="$recorded" 'BEGIN {printf "%.1f", (r > 0 ? 1e6 * c / r : 0)}') us per record)"
    done
    reached="$(awk -v n="$devices" -v t="$(median "${took[*]}")" 'BEGIN {printf "%.0f", n / t}')"
    echo "$pacedProgram rate $rate/s (sender reached $reached/s):" \
         "median recorded $(median "${runs[*]}") of $devices; $([[ $lossless == 1 ]] && echo "no loss in any run" || echo "LOSS")"
    return $((1 - lossless))
}
for pacedProgram in $programs; do
    best=0 bestReached=0
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
            runBaseline "$rate" 1
            echo "  bare loop at $rate/s for comparison: received $received ($distinct distinct MACs)"
        fi
    fi
    if ((best > 0)); then
        echo "$pacedProgram: highest paced rate recorded without loss: $best/s asked, $bestReached records/s reached by the sender"
    else
        echo "$pacedProgram: highest paced rate recorded without loss: none at or above $floorRate/s"
    fi
done
fi

if has events; then
    echo
    echo "== Device entries: zqnlistd with them against --no-device-log, $devices MACs as fast as the sender goes"
    onCpu=() offCpu=()
    for ((run = 1; run <= repeats; ++run)); do
        MONITOR_ARGS="" runMonitor zqnlistd 0
        entries="$(grep -c -e '新しい機器' -e 'IP アドレスが' "$work/monitor/log" || true)"
        onCpu+=("$(perDatagram "$cpu" "$recorded")")
        line="run $run: with entries $recorded recorded (${onCpu[-1]} us), $entries entries"
        MONITOR_ARGS="--no-device-log" runMonitor zqnlistd 0
        offCpu+=("$(perDatagram "$cpu" "$recorded")")
        echo "$line; without $recorded recorded (${offCpu[-1]} us)"
    done
    awk -v on="$(median "${onCpu[*]}")" -v off="$(median "${offCpu[*]}")" 'BEGIN {
        printf "device entries: median %.2f us of CPU per datagram with them, %.2f us without: %.3fx (target <= 1.05: %s)\n",
               on, off, on / off, (on / off <= 1.05 ? "holds" : "MISSES")
    }'
fi
echo "load after: $(uptime)"
