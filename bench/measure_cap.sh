#!/usr/bin/env bash
# The monitor with a full list (the default cap of 65,536 devices, pre-filled from the CSV file):
# CPU per datagram of a flood of new MACs, which it turns away, next to a flood of known MACs,
# which it records; then the CPU each update of a known device costs with the window shown, next to
# the window shown with the list's find field holding a text (zqn-list-window), the window
# minimised and the service without one (zqnlistd).
#
#   bench/measure_cap.sh [build-folder]        (default: build-bench beside this folder)
#
# Environment: DEVICES (lines pre-filled, default 65536; another number is written as MAXDEV),
# DATAGRAMS (per flood, default 200000), RATE (of the floods, datagrams/s; 0, the default, sends
# as fast as the sender goes), REPEATS (floods of each kind and window rounds, default 3), UPDATES
# (per window round, default 5000) at UPDATE_RATE (default 1000/s), LTIME (save interval, default
# 600, so that no page write falls into a figure), MONITOR_ENV (extra environment for the monitor),
# FIND (the find field's text, default "02:C3:D7:00:1", which a sixteenth of the lines hold).
# The window is on Qt's offscreen platform, which lays out and paints it as on a screen.
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
# shellcheck source=bench/common.sh
source "$here/common.sh"
build="$(cd "${1:-$here/../build-bench}" && pwd)"
devices="${DEVICES:-65536}"
datagrams="${DATAGRAMS:-200000}"
rate="${RATE:-0}"
repeats="${REPEATS:-3}"
updates="${UPDATES:-5000}"
updateRate="${UPDATE_RATE:-1000}"
saveInterval="${LTIME:-600}"
monitorEnv="${MONITOR_ENV:-}"
findText="${FIND:-02:C3:D7:00:1}"
hz="$(getconf CLK_TCK)"
firstKnown="02:C3:D7:00:00:01"
firstNew="02:C3:D7:80:00:00" # far above the pre-filled MACs

for tool in zqnlist zqnlistd zqn-announce zqn-list-window; do
    [[ -x "$build/$tool" ]] || { echo "missing $build/$tool; build it first (see bench/README.md)" >&2; exit 2; }
done

work="$(mktemp -d "${TMPDIR:-/tmp}/zqn-cap.XXXXXX")"
pid="" # the monitor, while it runs
cleanup() {
    if [[ -n "$pid" ]]; then
        kill -KILL "$pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

port="$(freePort)"

# Datagrams the kernel dropped on the monitor's socket, and before any socket saw them (per-CPU
# input queues, all senders: it can only overstate what a flood lost).
drops() {
    local total queued
    total="$(awk -v p="$(printf ':%04X' "$port")" '$2 ~ p"$" {s += $NF} END {print s + 0}' /proc/net/udp /proc/net/udp6)"
    while read -r _ queued _; do
        total=$((total + 16#$queued))
    done </proc/net/softnet_stat
    echo "$total"
}
microseconds() { awk -v t="$1" -v n="$2" -v hz="$hz" 'BEGIN {printf "%.2f", (n > 0 ? 1e6 * t / hz / n : 0)}'; }

# The pre-filled list, as the monitor writes it: MACs firstKnown onwards, as zqn-announce counts.
awk -v n="$devices" 'BEGIN {
    for (i = 1; i <= n; ++i)
        printf "02:C3:D7:%02X:%02X:%02X,127.0.0.1,2024/05/01,09:00:00,noname\r\n", int(i / 65536) % 256, int(i / 256) % 256, i % 256
}' >"$work/prefilled.csv"

# Starts $1 (zqnlist, zqnlistd or zqn-list-window) on a copy of the pre-filled list; $2 is WINDOW
# (0: shown, 1: start hidden, which without a tray is minimised); further arguments go to $1.
startMonitor() {
    local dir="$work/monitor" maxdev=""
    rm -rf "$dir"
    mkdir -p "$dir"
    cp "$build/$1" "$work/prefilled.csv" "$dir/"
    mv "$dir/prefilled.csv" "$dir/zqnlist.csv"
    ((devices == 65536)) || maxdev="MAXDEV=$devices"$'\r\n'
    printf '[SYSTEM]\r\nAUTO=1\r\nWINDOW=%s\r\nPORT=%s\r\nLTIME=%s\r\n%s[DATA]\r\nCSV=zqnlist.csv\r\nHTML=zqnlist.htm\r\n' \
        "$2" "$port" "$saveInterval" "$maxdev" >"$dir/$1.Ini"
    # shellcheck disable=SC2086 # MONITOR_ENV is a list of assignments
    (cd "$dir" && exec env QT_QPA_PLATFORM=offscreen $monitorEnv "./$1" "${@:3}" >"$dir/log" 2>&1) &
    pid=$!
    waitForFile "$dir/zqnlist.htm" || { echo "monitor did not start; log:" >&2; cat "$dir/log" >&2; exit 1; }
    sleep 1 # the window shown and its list laid out
}

stopMonitor() {
    local held
    endProcess "$pid" || { echo "monitor exited with $?" >&2; exit 1; }
    pid=""
    held="$(wc -l <"$work/monitor/zqnlist.csv")"
    ((held == devices)) || { echo "the list held $held devices at exit, not $devices" >&2; exit 1; }
}

# One flood of $1 (new or known) MACs; prints the datagrams handled and the CPU µs per datagram.
flood() {
    local first="$firstKnown" macs="$devices" before dropsBefore after handled
    [[ "$1" == new ]] && first="$firstNew" macs="$datagrams"
    before="$(idleTicks "$pid")"
    dropsBefore="$(drops)"
    "$build/zqn-announce" --port "$port" --mac "$first" --count-macs "$macs" --total "$datagrams" --rate "$rate" >/dev/null
    after="$(idleTicks "$pid")"
    handled=$((datagrams - ($(drops) - dropsBefore)))
    echo "$handled $(microseconds $((after - before)) "$handled")"
}

echo "load before: $(uptime)"
[[ -n "$monitorEnv" ]] && echo "monitor environment: $monitorEnv"
echo
echo "== Floods against a full list of $devices devices: $datagrams datagrams each at rate $rate (0: as fast as the sender goes), window minimised"
startMonitor zqnlist 1
newRuns=() knownRuns=()
for ((run = 1; run <= repeats; ++run)); do
    read -r handledNew usNew < <(flood new)
    read -r handledKnown usKnown < <(flood known)
    echo "run $run: new MACs (refused) $usNew us per datagram ($handledNew handled);" \
         "known MACs (updated) $usKnown us per datagram ($handledKnown handled)"
    newRuns+=("$usNew")
    knownRuns+=("$usKnown")
done
stopMonitor
echo "median CPU per datagram: new MACs $(median "${newRuns[*]}") us, known MACs $(median "${knownRuns[*]}") us"

echo
echo "== Updates of known devices with the list view holding $devices lines: $updates at $updateRate/s per round"
seconds="$(awk -v n="$updates" -v r="$updateRate" 'BEGIN {print n / r}')"
for mode in shown filtered minimised service; do
    case "$mode" in
    shown) label="zqnlist, window shown" && startMonitor zqnlist 0 ;;
    filtered) label="zqnlist, window shown, find \"$findText\"" && startMonitor zqn-list-window 0 "$findText" ;;
    minimised) label="zqnlist, window minimised" && startMonitor zqnlist 1 ;;
    service) label="zqnlistd, no window" && startMonitor zqnlistd 1 ;;
    esac
    runs=()
    for ((run = 1; run <= repeats; ++run)); do
        before="$(idleTicks "$pid")"
        sleep "$seconds"
        idle=$(($(cpuTicks "$pid") - before))
        before="$(cpuTicks "$pid")"
        "$build/zqn-announce" --port "$port" --mac "$firstKnown" --count-macs "$devices" --total "$updates" --rate "$updateRate" >/dev/null
        busy=$(($(idleTicks "$pid") - before))
        us="$(microseconds "$busy" "$updates")"
        echo "$label, round $run: $us us of CPU per update (idle for as long before: $(microseconds "$idle" "$updates") us per update)"
        runs+=("$us")
    done
    stopMonitor
    echo "$label: median $(median "${runs[*]}") us of CPU per update"
done
echo "load after: $(uptime)"
