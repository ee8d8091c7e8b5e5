#!/usr/bin/env bash
# The service's web endpoint: requests a second for / with 8 clients, beside Debian's nginx-light
# on the same page file (sendfile on; gzip_static on a .gz made once), as identity and as gzip;
# the bytes a view costs with gzip; the CPU a datagram costs while a client fetches the page every
# 100 ms (in full, or as a browser does) against none; and idle memory with WEB and without.
#
#   bench/measure_web.sh [build-folder]        (default: build-bench beside this folder)
#
# Environment: SIZES (device counts for the request rate, default "10000 65536"), SECONDS_EACH
# (wrk's duration, default 10), DEVICES (list size for the CPU figure, default 65536), UPDATES
# (datagrams per CPU round, default 10000), RATE (their rate, default 1000/s), REPEATS (rounds of
# each, default 3).
# Targets: requests/s at least nginx's (1.0×), identity and gzip; bytes per view with gzip at most
# 1/20 of the file at 10,000 devices; CPU per datagram with the browser-like client no worse than
# 1.2× without. nginx runs one worker, as zqnlistd serves from one thread; the rounds alternate.
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
# shellcheck source=bench/common.sh
source "$here/common.sh"
build="$(cd "${1:-$here/../build-bench}" && pwd)"
sizes="${SIZES:-10000 65536}"
secondsEach="${SECONDS_EACH:-10}"
devices="${DEVICES:-65536}"
updates="${UPDATES:-10000}"
rate="${RATE:-1000}"
repeats="${REPEATS:-3}"

for tool in zqnlistd zqn-announce; do
    [[ -x "$build/$tool" ]] || { echo "missing $build/$tool; build it first (see bench/README.md)" >&2; exit 2; }
done
command -v wrk >/dev/null || { echo "wrk is missing (scripts/deps --test)" >&2; exit 2; }
nginx="${NGINX:-/usr/sbin/nginx}"
[[ -x "$nginx" ]] || { echo "nginx is missing (nginx-light, scripts/deps --test)" >&2; exit 2; }

work="$(mktemp -d "${TMPDIR:-/tmp}/zqn-web.XXXXXX")"
pid="" fetcher="" nginxPid=""
cleanup() {
    [[ -n "$fetcher" ]] && kill "$fetcher" 2>/dev/null || true
    [[ -n "$nginxPid" ]] && kill -TERM "$nginxPid" 2>/dev/null || true
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

# nginx on loopback port $1, serving folder $2, with a configuration and temporary folders of its own.
startNginx() {
    rm -rf "$work/nginx" && mkdir -p "$work/nginx/tmp"
    cat >"$work/nginx/nginx.conf" <<EOF
user $(id -un) $(id -gn);
worker_processes 1;
daemon off;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log;
events { worker_connections 256; }
http {
    access_log off;
    sendfile on;
    tcp_nopush on;
    types { text/html htm; }
    client_body_temp_path $work/nginx/tmp/body;
    proxy_temp_path $work/nginx/tmp/proxy;
    fastcgi_temp_path $work/nginx/tmp/fastcgi;
    uwsgi_temp_path $work/nginx/tmp/uwsgi;
    scgi_temp_path $work/nginx/tmp/scgi;
    server {
        listen 127.0.0.1:$1;
        root $2;
        index zqnlist.htm;
        gzip_static on;
    }
}
EOF
    "$nginx" -p "$work/nginx" -c "$work/nginx/nginx.conf" -e "$work/nginx/error.log" &
    nginxPid=$!
    for ((i = 0; i < 100; ++i)); do
        curl -s -o /dev/null "http://127.0.0.1:$1/" && return 0
        sleep 0.1
    done
    echo "nginx did not start:" >&2; cat "$work/nginx/error.log" >&2; exit 1
}
stopNginx() { endProcess "$nginxPid" || echo "nginx exited with $?" >&2; nginxPid=""; }
rate() { wrk -t2 -c8 -d"${secondsEach}s" "$@" | awk '/Requests\/sec/ {print $2}'; }

echo "== requests a second for / (wrk, 8 connections, 2 threads, ${secondsEach} s), zqnlistd against nginx"
for n in $sizes; do
    web="$(tcpPort)" nginxPort="$(tcpPort)"
    startService "$n" "127.0.0.1:$web" 600
    page="$work/run/zqnlist.htm"
    size="$(stat -c %s "$page")"
    gzip -1 -k -f "$page"
    startNginx "$nginxPort" "$work/run"
    # The first answer that wants gzip makes the compressed page, on the endpoint's thread; the
    # answer before it waits until the first write's work is done.
    curl -s -o /dev/null -I "http://127.0.0.1:$web/"
    first="$(curl -s -o /dev/null -H 'Accept-Encoding: gzip' -w '%{time_total}' "http://127.0.0.1:$web/")"
    next="$(curl -s -o /dev/null -H 'Accept-Encoding: gzip' -w '%{time_total}' "http://127.0.0.1:$web/")"
    view="$(curl -s -o /dev/null -H 'Accept-Encoding: gzip' -w '%{size_download}' "http://127.0.0.1:$web/")"
    nginxView="$(curl -s -o /dev/null -H 'Accept-Encoding: gzip' -w '%{size_download}' "http://127.0.0.1:$nginxPort/")"
    awk -v n="$n" -v s="$size" -v v="$view" -v g="$nginxView" -v f="$first" -v x="$next" 'BEGIN {
        printf "%s devices: %s-byte page; a gzip view %s bytes (1/%.0f of the file; nginx %s)", n, s, v, s / v, g
        if (n == 10000) printf " (target <= 1/20: %s)", (v * 20 <= s) ? "holds" : "MISSES"
        printf "\nfirst gzip answer, compressing: %.0f ms; the next: %.0f ms\n", f * 1000, x * 1000 }'
    for encoding in identity gzip; do
        header=()
        [[ "$encoding" == gzip ]] && header=(-H "Accept-Encoding: gzip")
        ours="" theirs=""
        for ((r = 1; r <= repeats; ++r)); do
            a="$(rate "${header[@]}" "http://127.0.0.1:$web/")"
            b="$(rate "${header[@]}" "http://127.0.0.1:$nginxPort/")"
            ours+="$a " theirs+="$b "
            echo "$n devices, $encoding, round $r: zqnlistd $a, nginx $b requests/s"
        done
        awk -v a="$(median $ours)" -v b="$(median $theirs)" -v n="$n" -v e="$encoding" 'BEGIN {
            printf "median, %s devices, %s: zqnlistd %s, nginx %s requests/s: %.2fx (target >= 1.0: %s)\n",
                n, e, a, b, a / b, (a >= b) ? "holds" : "MISSES" }'
    done
    stopNginx
    stopService
done

echo "== CPU per datagram, $devices devices, $updates updates at $rate/s"
# none: no HTTP client; full: a client fetching / every 100 ms without a validator or gzip, the
# whole page each time; browser: the same over one kept-alive connection offering gzip and sending
# the ETag back, as a browser revalidates a no-cache page (304 until the next write).
web="$(tcpPort)"
startService "$devices" "127.0.0.1:$web" 600
# The page's gzip is made once a version, at the first request that wants it (timed above), and
# the page stays one version for all rounds: it is made here, so that no round counts it.
curl -s -o /dev/null -H 'Accept-Encoding: gzip' "http://127.0.0.1:$web/"
declare -A perDatagram=([none]="" [full]="" [browser]="")
fetch() {
    exec python3 - "$web" "$1" <<'PY'
import http.client, sys, time
port, mode = int(sys.argv[1]), sys.argv[2]
connection, etag = http.client.HTTPConnection("127.0.0.1", port), None
while True:
    headers = {"Accept-Encoding": "gzip"} if mode == "browser" else {"Accept-Encoding": "identity"}
    if mode == "browser" and etag:
        headers["If-None-Match"] = etag
    connection.request("GET", "/", headers=headers)
    response = connection.getresponse()
    response.read()
    if mode == "browser" and response.status == 200:
        etag = response.getheader("ETag")
    time.sleep(0.1)
PY
}
for ((r = 1; r <= repeats; ++r)); do
    for mode in none full browser; do
        idleTicks "$pid" >/dev/null
        before="$(cpuNanoseconds "$pid")"
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
        idleTicks "$pid" >/dev/null
        after="$(cpuNanoseconds "$pid")"
        us="$(awk -v t="$((after - before))" -v n="$updates" 'BEGIN {printf "%.2f", t / 1000 / n}')"
        perDatagram[$mode]+="$us "
        echo "round $r, $mode: $us µs of CPU per datagram"
    done
done
stopService
none="$(median ${perDatagram[none]})"
for mode in full browser; do
    with="$(median ${perDatagram[$mode]})"
    awk -v a="$none" -v b="$with" -v m="$mode" 'BEGIN {
        printf "median: %s µs without a client, %s µs with one fetching / every 100 ms (%s): %.2fx", a, b, m, b / a
        if (m == "browser") printf " (target <= 1.2: %s)", (b / a <= 1.2) ? "holds" : "MISSES"
        printf "\n" }'
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
