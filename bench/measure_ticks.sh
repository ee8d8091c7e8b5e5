#!/usr/bin/env bash
# How late the page ticks come while a flood of announcements arrives: a monitor with a save
# interval of 1 s and a small list (the page write then takes a few milliseconds), its page file's
# modification times taken every millisecond, before, during and after a flood at full speed.
# Lateness of tick k: its page's time less (the first page's time + k seconds); the page timer
# keeps its phase, so a late tick does not shift the ones after it.
#
#   bench/measure_ticks.sh [build-folder]        (default: build-bench beside this folder)
#
# Environment: PROGRAM (zqnlistd, the default, or zqnlist: the window program, minimised),
# DATAGRAMS (default 3000000), MACS (default 1000). Target: no tick more than 100 ms late.
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
# shellcheck source=bench/common.sh
source "$here/common.sh"
build="$(cd "${1:-$here/../build-bench}" && pwd)"
program="${PROGRAM:-zqnlistd}"
datagrams="${DATAGRAMS:-3000000}"
macs="${MACS:-1000}"
for tool in "$program" zqn-announce; do
    [[ -x "$build/$tool" ]] || { echo "missing $build/$tool; build it first (see bench/README.md)" >&2; exit 2; }
done

work="$(mktemp -d "${TMPDIR:-/tmp}/zqn-ticks.XXXXXX")"
pid="" watcher=""
cleanup() {
    [[ -n "$watcher" ]] && kill "$watcher" 2>/dev/null || true
    [[ -n "$pid" ]] && kill -KILL "$pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

port="$(freePort)"
startMonitor "$program" "$work" "$port" 1
pid="$monitorPid"

# Prints "<page time ns> <mark>" for every new page, the mark being the content of $work/phase.
python3 - "$work/zqnlist.htm" "$work/phase" >"$work/pages" <<'PY' &
import os, sys, time
page, phase = sys.argv[1], sys.argv[2]
last = None
while True:
    try:
        t = os.stat(page).st_mtime_ns
        if t != last:
            last = t
            with open(phase) as f:
                print(t, f.read().strip(), flush=True)
    except FileNotFoundError:
        pass
    time.sleep(0.001)
PY
watcher=$!
echo idle >"$work/phase"
echo "load before: $(uptime)"
sleep 3.5
echo flood >"$work/phase"
"$build/zqn-announce" --port "$port" --count-macs "$macs" --total "$datagrams" --rate 0
echo after >"$work/phase"
sleep 3.5
kill "$watcher"
watcher=""
endProcess "$pid" || true
pid=""
echo "load after: $(uptime)"
awk '
    NR == 1 { first = $1 }
    {
        k = int(($1 - first) / 1e9 + 0.5)
        late = ($1 - first - k * 1e9) / 1e6
        n[$2]++
        if (!($2 in most) || late > most[$2]) most[$2] = late
    }
    END {
        for (p in n) printf "%s: %d ticks, latest %.1f ms late\n", p, n[p], most[p]
    }' "$work/pages" | sort
