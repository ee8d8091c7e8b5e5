#!/usr/bin/env bash
# Instructions per datagram of a monitor's ingest, counted by callgrind (valgrind): unlike CPU time,
# the count hardly moves with the machine's load, so two builds can be compared on a busy machine.
# The counts of the monitor's start (under callgrind) are zeroed once its first page is written; then
# zqn-announce sends DATAGRAMS from MACS MACs at RATE, and once the monitor is idle the counts are
# dumped. Prints the instructions per datagram sent and per device recorded (the lines of the CSV
# file written at exit) and the largest costs by function (self).
#
#   bench/callgrind_ingest.sh [build-folder]        (default: build-bench beside this folder)
#
# Environment: PROGRAM (zqnlist, the default: the window program, minimised; or zqnlistd),
# DATAGRAMS (default 100000), MACS (default DATAGRAMS: every datagram a new device), RATE (default
# 4000/s, which the monitor keeps up with under callgrind), TOP (default 15), OUT (keep the
# callgrind file here). Kernel work is not counted. Needs valgrind.
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
# shellcheck source=bench/common.sh
source "$here/common.sh"
build="$(cd "${1:-$here/../build-bench}" && pwd)"
program="${PROGRAM:-zqnlist}"
datagrams="${DATAGRAMS:-100000}"
macs="${MACS:-$datagrams}"
rate="${RATE:-4000}"
top="${TOP:-15}"

command -v valgrind >/dev/null || { echo "valgrind is missing (apt-get install valgrind)" >&2; exit 2; }
for tool in "$program" zqn-announce; do
    [[ -x "$build/$tool" ]] || { echo "missing $build/$tool; build it first (see bench/README.md)" >&2; exit 2; }
done

work="$(mktemp -d "${TMPDIR:-/tmp}/zqn-callgrind.XXXXXX")"
out="${OUT:-$work}"
mkdir -p "$out"
pid=""
cleanup() {
    [[ -n "$pid" ]] && kill -KILL "$pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

port="$(freePort)"
cp "$build/$program" "$work/"
# A save interval of 600 s keeps page writes out of the count.
printf '[SYSTEM]\r\nAUTO=1\r\nWINDOW=1\r\nPORT=%s\r\nLTIME=600\r\nMAXDEV=1000000\r\n[DATA]\r\nCSV=zqnlist.csv\r\nHTML=zqnlist.htm\r\n' \
    "$port" >"$work/$program.Ini"
# shellcheck disable=SC2086 # MONITOR_ENV is a list of assignments
(cd "$work" && exec env QT_QPA_PLATFORM=offscreen ${MONITOR_ENV:-} valgrind --tool=callgrind \
    --callgrind-out-file="$out/callgrind.out" "./$program" >"$work/log" 2>&1) &
pid=$!
waitForFile "$work/zqnlist.htm" 120 || { echo "monitor did not start; log:" >&2; cat "$work/log" >&2; exit 1; }
sleep 1 # the first page's write finishes
callgrind_control -z "$pid" >/dev/null
"$build/zqn-announce" --port "$port" --count-macs "$macs" --total "$datagrams" --rate "$rate"
idleTicks "$pid" >/dev/null
callgrind_control -d "$pid" >/dev/null
kill -TERM "$pid"
wait "$pid" || true
pid=""
# The first dump holds the counts from the zeroing on; the page written at exit is not in it.
dump="$out/callgrind.out.1"
recorded="$(wc -l <"$work/zqnlist.csv")"
total="$(callgrind_annotate "$dump" 2>/dev/null | awk '/PROGRAM TOTALS/ {gsub(",", "", $1); print $1}')"
echo "$program: $total instructions; $datagrams datagrams sent, $recorded devices recorded;" \
    "$(awk -v t="$total" -v n="$datagrams" -v r="$recorded" 'BEGIN {printf "%.0f per datagram sent, %.0f per device recorded", t / n, t / r}')"
# The functions still running at the dump (main, the event loop) are charged what they called: left out.
callgrind_annotate --inclusive=no --threshold=100 "$dump" 2>/dev/null | sed -n '/file:function/,$p' | sed -n '3,$p' \
    | grep -vE '\((9[0-9]|100)\.[0-9]+%\)' | head -n "$top" | sed -E 's/^ *([0-9,]+) \( *([0-9.]+%)\) +[^:]*:/\2 /; s/\(.*//; s/ \[.*//'
