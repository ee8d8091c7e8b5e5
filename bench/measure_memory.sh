#!/usr/bin/env bash
# Resident memory of the running monitor: empty, then holding DEVICES devices, right after the
# CSV file first holds them all and again after a few more page writes.
#
#   bench/measure_memory.sh [build-folder]        (default: build-bench beside this folder)
#
# Environment: DEVICES (default 100000), RATE (datagrams/s, paced so that none is lost; default
# 2500), PAGE_WRITES (page writes to wait for after the list is full, default 5), MONITOR_ENV
# (extra environment for the monitor, e.g. "MALLOC_ARENA_MAX=1", to try allocator settings),
# PROGRAM (zqnlist, the default, or zqnlistd: the service without a window).
# Target: under 300 bytes per device beyond the empty monitor.
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
# shellcheck source=bench/common.sh
source "$here/common.sh"
build="$(cd "${1:-$here/../build-bench}" && pwd)"
devices="${DEVICES:-100000}"
rate="${RATE:-2500}"
pageWrites="${PAGE_WRITES:-5}"
monitorEnv="${MONITOR_ENV:-}"
program="${PROGRAM:-zqnlist}"
saveInterval=1

for tool in "$program" zqn-announce; do
    [[ -x "$build/$tool" ]] || { echo "missing $build/$tool; build it first (see bench/README.md)" >&2; exit 2; }
done

work="$(mktemp -d "${TMPDIR:-/tmp}/zqn-memory.XXXXXX")"
pid=""
cleanup() {
    if [[ -n "$pid" ]]; then
        kill -KILL "$pid" 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

port="$(freePort)"

kib() { awk -v key="$1:" '$1 == key {print $2}' "/proc/$pid/status"; }
csvLines() { if [[ -f "$work/zqnlist.csv" ]]; then wc -l <"$work/zqnlist.csv"; else echo 0; fi; }
# Waits until the page file has been replaced n more times (each write renames a new file in).
waitPageWrites() {
    local n="$1" seen inode
    seen="$(stat -c %i "$work/zqnlist.htm" 2>/dev/null || echo none)"
    for ((i = 0; i < 20 * (n + 2) && n > 0; ++i)); do
        inode="$(stat -c %i "$work/zqnlist.htm" 2>/dev/null || echo none)"
        if [[ "$inode" != "$seen" ]]; then
            seen="$inode"
            ((--n)) || true
        fi
        sleep 0.05
    done
}

cp "$build/$program" "$work/"
# MAXDEV lets the list hold more than the default cap of devices.
printf '[SYSTEM]\r\nAUTO=1\r\nWINDOW=1\r\nPORT=%s\r\nLTIME=%s\r\nMAXDEV=1000000\r\n[DATA]\r\nCSV=zqnlist.csv\r\nHTML=zqnlist.htm\r\n' \
    "$port" "$saveInterval" >"$work/$program.Ini"
# shellcheck disable=SC2086 # MONITOR_ENV is a list of assignments
(cd "$work" && exec env QT_QPA_PLATFORM=offscreen $monitorEnv "./$program" >"$work/log" 2>&1) &
pid=$!
waitForFile "$work/zqnlist.htm" || { echo "monitor did not start; log:" >&2; cat "$work/log" >&2; exit 1; }

echo "load before: $(uptime)"
[[ -n "$monitorEnv" ]] && echo "monitor environment: $monitorEnv"
waitPageWrites 2
empty="$(kib VmRSS)"
echo "empty $program (after 2 page writes): VmRSS $empty kB"

"$build/zqn-announce" --port "$port" --count-macs "$devices" --total "$devices" --rate "$rate" | sed 's/^/sender: /'
# The list is in the CSV file at the next page write; a lost datagram leaves it short, which shows
# as a count that stops growing (3 s is three page writes), or after 60 s at the latest.
last=-1 still=0
for ((i = 0; i < 600 && still < 30; ++i)); do
    now="$(csvLines)"
    ((now >= devices)) && break
    if ((now == last)); then ((++still)); else still=0; fi
    last="$now"
    sleep 0.1
done
held="$(csvLines)"
full="$(kib VmRSS)"
echo "$held devices, right after the CSV file first held them: VmRSS $full kB"
waitPageWrites "$pageWrites"
settled="$(kib VmRSS)"
peak="$(kib VmHWM)"
echo "$held devices, after $pageWrites more page writes: VmRSS $settled kB (peak VmHWM $peak kB)"

endProcess "$pid" || echo "monitor exited with $?" >&2
pid=""

if ((held != devices)); then
    echo "only $held of $devices devices were recorded; lower RATE" >&2
    exit 1
fi
awk -v e="$empty" -v f="$full" -v s="$settled" -v n="$devices" 'BEGIN {
    first = 1024 * (f - e) / n
    after = 1024 * (s - e) / n
    printf "bytes per device beyond the empty monitor: %.0f right after filling, %.0f after the page writes (target < 300: %s)\n",
        first, after, (first < 300 && after < 300) ? "holds" : "MISSES"
}'
echo "load after: $(uptime)"
