#!/usr/bin/env bash
# The service's web endpoint: requests a second for / with 8 clients, the CPU a datagram costs
# while a client fetches the page every 100 ms against none, and idle memory with WEB and without.
#
#   bench/measure_web.sh [build-folder]        (default: build-bench beside this folder)
#
# Environment: SIZES (device counts for the request rate, default "10000 65536"), SECONDS_EACH
# (wrk's duration, default 10), DEVICES (list size for the CPU figure, default 10000), UPDATES
# (datagrams per CPU round, default 10000), RATE (their rate, default 1000/s), REPEATS (rounds of
# each, default 3).
# Target: CPU per datagram with the fetching client no worse than 1.2× without.
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
# shellcheck source=bench/common.sh
source "$here/common.sh"
build="$(cd "${1:-$here/../build-bench}" && pwd)"
sizes="${SIZES:-10000 65536}"
secondsEach="${SECONDS_EACH:-10}"
devices="${DEVICES:-10000}"
updates="${UPDATES:-10000}"
rate="${RATE:-1000}"
repeats="${REPEATS:-3}"
hz="$(getconf CLK_TCK)"

for tool in zqnlistd zqn-announce; do
    [[ -x "$build/$tool" ]] || { echo "missing $build/$tool; build it first (see bench/README.md)" >&2; exit 2; }
done
command -v wrk >/dev/null || { echo "wrk is missing (scripts/deps --test)" >&2; exit 2; }

work="$(mktemp -d "${TMPDIR:-/tmp}/zqn-web.XXXXXX")"
pid="" fetcher=""
cleanup() {
    [[ -n "$fetcher" ]] && kill "$fetcher" 2>/dev/null || true
    [[ -n "$pid" ]] && kill -KILL "$pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

tcpPort() { python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }

# Starts zqnlistd on a list of $1 devices (MACs 02:C3:D7:00:00:01 on, as zqn-announce counts),
# with WEB=$2 (empty: no WEB line) and save interval $3.
startService() {
    local count="$1" web="$2" interval="$3"
    rm -rf "$work/run" && mkdir "$work/run"
    udp="$(freePort)"
    awk -v n="$count" 'BEGIN {
        for (i = 1; i <= n; ++i)
            printf "02:C3:D7:%02X:%02X:%02X,192.168.%d.%d,2024/05/01,09:00:00,noname\r\n", int(i / 65536) % 256, int(i / 256) % 256, i % 256, int(i / 256) % 256, i % 256
    }' >"$work/run/zqnlist.csv"
    {
        printf '[SYSTEM]\r\nPORT=%s\r\nLTIME=%s\r\n' "$udp" "$interval"
        [[ -n "$web" ]] && printf 'WEB=%s\r\n' "$web"
        printf '[DATA]\r\nCSV=zqnlist.csv\r\nHTML=zqnlist.htm\r\n'
    } >"$work/run/zqnlistd.Ini"
    (cd "$work/run" && exec "$build/zqnlistd" --settings zqnlistd.Ini >"$work/run/log" 2>&1) &
    pid=$!
    waitForFile "$work/run/zqnlist.htm" 30 || { echo "service did not start:" >&2; cat "$work/run/log" >&2; exit 1; }
}
stopService() { endProcess "$pid" || echo "service exited with $?" >&2; pid=""; }
kib() { awk -v key="$1:" '$1 == key {print $2}' "/proc/$pid/status"; }

echo "load before: $(uptime)"

echo "== requests a second for / (wrk, 8 connections, 2 threads, ${secondsEach} s)"
for n in $sizes; do
    web="$(tcpPort)"
    startService "$n" "127.0.0.1:$web" 600
    size="$(stat -c %s "$work/run/zqnlist.htm")"
    for ((r = 1; r <= repeats; ++r)); do
        line="$(wrk -t2 -c8 -d"${secondsEach}s" "http://127.0.0.1:$web/" | awk '/Requests\/sec/ {print $2}')"
        echo "$n devices ($size-byte page), round $r: $line requests/s"
    done
    stopService
done

echo "== CPU per datagram, $devices devices, $updates updates at $rate/s"
# none: no HTTP client; full: a client fetching / every 100 ms without a validator, the whole page
# each time; revalidating: the same with If-None-Match, as a browser revalidates a no-cache page.
web="$(tcpPort)"
startService "$devices" "127.0.0.1:$web" 600
declare -A perDatagram=([none]="" [full]="" [revalidating]="")
fetch() {
    local extra=()
    [[ "$1" == revalidating ]] && extra=(--etag-save "$work/etag" --etag-compare "$work/etag")
    rm -f "$work/etag"
    while true; do
        curl -s -o /dev/null "${extra[@]}" "http://127.0.0.1:$web/"
        sleep 0.1
    done
}
for ((r = 1; r <= repeats; ++r)); do
    for mode in none full revalidating; do
        before="$(idleTicks "$pid")"
        if [[ "$mode" != none ]]; then
            fetch "$mode" &
            fetcher=$!
        fi
        "$build/zqn-announce" --port "$udp" --count-macs 100 --total "$updates" --rate "$rate" >/dev/null
        if [[ -n "$fetcher" ]]; then
            kill "$fetcher" 2>/dev/null
            wait "$fetcher" 2>/dev/null || true
            fetcher=""
        fi
        after="$(idleTicks "$pid")"
        us="$(awk -v t="$((after - before))" -v n="$updates" -v hz="$hz" 'BEGIN {printf "%.2f", 1e6 * t / hz / n}')"
        perDatagram[$mode]+="$us "
        echo "round $r, $mode: $us µs of CPU per datagram"
    done
done
stopService
none="$(median ${perDatagram[none]})"
for mode in full revalidating; do
    with="$(median ${perDatagram[$mode]})"
    awk -v a="$none" -v b="$with" -v m="$mode" 'BEGIN {
        printf "median: %s µs without a client, %s µs with one fetching / every 100 ms (%s): %.2fx (target <= 1.2: %s)\n",
            a, b, m, b / a, (b / a <= 1.2) ? "holds" : "MISSES" }'
done

echo "== idle memory of zqnlistd, no devices, after two page writes"
for web in "" "127.0.0.1:$(tcpPort)"; do
    startService 0 "$web" 1
    inode="$(stat -c %i "$work/run/zqnlist.htm")" writes=0
    for ((i = 0; i < 100 && writes < 2; ++i)); do
        now="$(stat -c %i "$work/run/zqnlist.htm")"
        [[ "$now" != "$inode" ]] && inode="$now" && ((++writes))
        sleep 0.05
    done
    echo "WEB=${web:-(none)}: VmRSS $(kib VmRSS) kB"
    stopService
done
echo "load after: $(uptime)"
