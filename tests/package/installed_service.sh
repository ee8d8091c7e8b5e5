#!/usr/bin/env bash
# The installed zqnlistd, run from the install root with its own settings on a free loopback port:
# it records an announcement, ends on SIGTERM with status 0 after a last write, and leaves the
# settings file as it was.
# Usage: installed_service.sh <root> <zqn-announce executable>
set -u
root=${1:?usage: installed_service.sh <root> <zqn-announce>}
announce=${2:?usage: installed_service.sh <root> <zqn-announce>}
work=$(mktemp -d)
pid=
mac=02:C3:D7:5E:00:01

cleanup() {
  [ -n "$pid" ] && kill -KILL "$pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAILED: $*"
  echo "--- zqnlistd output"
  cat "$work/log"
  echo "--- zqnlist.csv"
  cat -A "$work/out/zqnlist.csv" 2>/dev/null
  exit 1
}

source "$(dirname "$0")/../support/within.sh"

port=$(python3 -c 'import socket; s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
printf '[SYSTEM]\r\nPORT=%d\r\nLTIME=1\r\n[DATA]\r\nCSV=zqnlist.csv\r\nHTML=zqnlist.htm\r\n' "$port" >"$work/settings.Ini"
cp "$work/settings.Ini" "$work/settings.orig"
mkdir "$work/out"

# Relative paths land in the current folder, as the unit's WorkingDirectory= relies on.
(cd "$work/out" && exec "$root/usr/bin/zqnlistd" --settings "$work/settings.Ini") >"$work/log" 2>&1 &
pid=$!

page_written() { [ -f "$work/out/zqnlist.htm" ]; }
device_recorded() { grep -q "^$mac,127\.0\.0\.1," "$work/out/zqnlist.csv" 2>/dev/null; }
has_ended() { ! kill -0 "$pid" 2>/dev/null; }

within 20 page_written || fail "no page was written after the start"
"$announce" --port "$port" --mac "$mac" >/dev/null || fail "the announcement could not be sent"
within 10 device_recorded || fail "the device was not recorded"

kill -TERM "$pid"
within 10 has_ended || fail "SIGTERM did not end zqnlistd"
wait "$pid"
status=$?
pid=
[ "$status" -eq 0 ] || fail "exit status $status after SIGTERM"
device_recorded || fail "the last write lost the device"
cmp -s "$work/settings.Ini" "$work/settings.orig" || fail "the settings file was written"
echo "1 passed, 0 failed"
