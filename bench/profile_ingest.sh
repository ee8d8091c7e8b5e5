#!/usr/bin/env bash
# Where a flood's CPU time goes: `perf record -g` on a monitor while zqn-announce sends it a flood
# of announcements over loopback, then the largest costs by symbol (self time).
#
#   bench/profile_ingest.sh [build-folder]        (default: build-bench beside this folder)
#
# Environment: PROGRAM (zqnlistd, the default, or zqnlist: the window program, minimised),
# DATAGRAMS (default 1000000), MACS (default 100000), TOP (lines of the report, default 25),
# OUT (keep perf.data here; default: a temporary folder). Needs perf (Debian's linux-perf).
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
# shellcheck source=bench/common.sh
source "$here/common.sh"
build="$(cd "${1:-$here/../build-bench}" && pwd)"
program="${PROGRAM:-zqnlistd}"
datagrams="${DATAGRAMS:-1000000}"
macs="${MACS:-100000}"
top="${TOP:-25}"

command -v perf >/dev/null || { echo "perf is missing (apt-get install linux-perf)" >&2; exit 2; }
for tool in "$program" zqn-announce; do
    [[ -x "$build/$tool" ]] || { echo "missing $build/$tool; build it first (see bench/README.md)" >&2; exit 2; }
done

work="$(mktemp -d "${TMPDIR:-/tmp}/zqn-profile.XXXXXX")"
out="${OUT:-$work}"
mkdir -p "$out"
pid="" recorder=""
cleanup() {
    [[ -n "$recorder" ]] && kill -INT "$recorder" 2>/dev/null || true
    [[ -n "$pid" ]] && kill -KILL "$pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

port="$(freePort)"
startMonitor "$program" "$work" "$port" 10
pid="$monitorPid"

echo "load before: $(uptime)"
perf record -g -q -o "$out/perf.data" -p "$pid" &
recorder=$!
sleep 0.5 # perf attaches
before="$(cpuTicks "$pid")"
"$build/zqn-announce" --port "$port" --count-macs "$macs" --total "$datagrams" --rate 0
waitUntilIdle "$pid"
last="$idleTicks"
kill -INT "$recorder"
wait "$recorder" || true
recorder=""
endProcess "$pid" || true
pid=""
echo "$(wc -l <"$work/zqnlist.csv") devices recorded, $(awk -v t="$((last - before))" -v hz="$(getconf CLK_TCK)" -v n="$datagrams" \
    'BEGIN {printf "%.2f s of CPU, %.2f us per datagram sent", t / hz, 1e6 * t / hz / n}'); load after: $(uptime)"
perf report -i "$out/perf.data" --stdio --no-children --sort symbol --percent-limit 0.5 -g none 2>/dev/null \
    | grep -v '^#' | grep . | sed -E 's/[[:space:]]+-[[:space:]]+-[[:space:]]*$//' | head -n "$top"
