#!/usr/bin/env bash
# Announcements across a real link: the monitor runs in one network namespace, the device simulator
# in another, joined by a veth pair (10.77.0.1 and 10.77.0.2). Without the privilege to make
# namespaces (CAP_NET_ADMIN and CAP_SYS_ADMIN) or without ip's netns the test exits 77, which CTest counts as skipped.
# Usage: netns_test.sh <zqnlist executable> <zqn-announce executable>
set -u

monitor=${1:?usage: netns_test.sh <zqnlist> <zqn-announce>}
announce=${2:?usage: netns_test.sh <zqnlist> <zqn-announce>}
ns_monitor=zqn-a-$$
ns_device=zqn-b-$$
veth_monitor=zqna$$ # interface names hold at most 15 characters
veth_device=zqnb$$
port=47123
work=$(mktemp -d)
monitor_pid=
stopped_pid=
passed=0
failed=0

cleanup() {
  local pid
  for pid in $monitor_pid $stopped_pid; do
    if kill -0 "$pid" 2>/dev/null; then
      kill -KILL "$pid" 2>/dev/null
      wait "$pid" 2>/dev/null
    fi
  done
  # Deleting a namespace deletes the veth end inside it, and with it the pair.
  ip netns del "$ns_monitor" 2>/dev/null
  ip netns del "$ns_device" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

# Skips only for what it names, a missing tool or a missing capability; under CI=true, where the
# machines have both, a skip is a failure. Any later step that fails is a failure.
unavailable() {
  echo "network namespaces not available: $*"
  [ "${CI:-}" = "true" ] && exit 1
  exit 77
}
broken() {
  echo "setup failed: $*"
  exit 1
}

command -v ip >/dev/null || unavailable "no ip command (iproute2)"
ip netns list >/dev/null 2>&1 || unavailable "this ip has no netns support"
cap_eff=$(awk '/^CapEff:/ { print $2 }' /proc/self/status)
[ -n "$cap_eff" ] || broken "no CapEff in /proc/self/status"
(((16#$cap_eff >> 12) & 1)) || unavailable "no CAP_NET_ADMIN"
# ip netns add mounts the namespace's file.
(((16#$cap_eff >> 21) & 1)) || unavailable "no CAP_SYS_ADMIN"
error=$(ip netns add "$ns_monitor" 2>&1) || broken "$error"
error=$(ip netns add "$ns_device" 2>&1) || broken "$error"
error=$(ip link add "$veth_monitor" type veth peer name "$veth_device" 2>&1) || broken "$error"
error=$({
  ip link set "$veth_monitor" netns "$ns_monitor" &&
    ip link set "$veth_device" netns "$ns_device" &&
    ip -n "$ns_monitor" addr add 10.77.0.1/24 dev "$veth_monitor" &&
    ip -n "$ns_device" addr add 10.77.0.2/24 dev "$veth_device" &&
    ip -n "$ns_monitor" link set lo up &&
    ip -n "$ns_device" link set lo up &&
    ip -n "$ns_monitor" link set "$veth_monitor" up &&
    ip -n "$ns_device" link set "$veth_device" up &&
    # Like a device on a real network: without a route, 255.255.255.255 is unreachable.
    ip -n "$ns_device" route add default via 10.77.0.1
} 2>&1) || broken "$error"

check() {
  local name=$1
  shift
  if "$@"; then
    echo "ok: $name"
    passed=$((passed + 1))
  else
    echo "FAILED: $name"
    failed=$((failed + 1))
  fi
}

source "$(dirname "$0")/../support/within.sh"

csv_exists() { [ -f "$work/zqnlist.csv" ] && [ -f "$work/zqnlist.htm" ]; }

# The number of device lines for MACs starting with $1 that came from the simulator's address.
lines_from_device() {
  grep -Ec "^$1:0[0-9],10\.77\.0\.2,[0-9]{4}/[0-9]{2}/[0-9]{2},[0-9]{2}:[0-9]{2}:[0-9]{2},noname"$'\r$' \
    "$work/zqnlist.csv" 2>/dev/null
}
has_lines() { [ "$(lines_from_device "$1")" = "$2" ]; }

send_and_see() {
  local prefix=$1
  shift
  ip netns exec "$ns_device" "$announce" --port "$port" --mac "$prefix:01" --count-macs 3 "$@" >/dev/null &&
    within 10 has_lines "$prefix" 3
}

cp "$monitor" "$work/zqnlist" || broken "cannot copy $monitor"
[ -x "$announce" ] || broken "no simulator at $announce"
printf '[SYSTEM]\r\nAUTO=1\r\nWINDOW=1\r\nPORT=%d\r\nLTIME=1\r\n[DATA]\r\nCSV=zqnlist.csv\r\nHTML=zqnlist.htm\r\n' \
  "$port" >"$work/zqnlist.Ini"
(cd "$work" && exec ip netns exec "$ns_monitor" env QT_QPA_PLATFORM=offscreen "$work/zqnlist") \
  >"$work/monitor.log" 2>&1 &
monitor_pid=$!

check "the monitor writes its files inside its namespace" within 20 csv_exists
check "a broadcast to 255.255.255.255 is recorded with the sender's address" \
  send_and_see 02:C3:D7:AA:00 --broadcast
check "a broadcast to the subnet, 10.77.0.255, is recorded with the sender's address" \
  send_and_see 02:C3:D7:BB:00 --host 10.77.0.255
check "a datagram sent to 10.77.0.1 itself is recorded with the sender's address" \
  send_and_see 02:C3:D7:CC:00 --host 10.77.0.1

stopped_cleanly() {
  kill -TERM "$monitor_pid" 2>/dev/null || return 1
  within 10 eval '! kill -0 "$monitor_pid" 2>/dev/null' || return 1
  wait "$monitor_pid"
  local status=$?
  monitor_pid=
  [ "$status" -eq 0 ]
}
check "SIGTERM ends the monitor with exit status 0" stopped_cleanly

# A stopped copy (AUTO=0) beside it: its socket sits on a port of the system's choice, on the
# loopback address only. The web endpoint's counters tell what its handler recorded.
web_port=47124
mkdir "$work/stopped" || broken "cannot make $work/stopped"
cp "$monitor" "$work/stopped/zqnlist" || broken "cannot copy $monitor"
printf '[SYSTEM]\r\nAUTO=0\r\nWINDOW=1\r\nPORT=%d\r\nWEB=127.0.0.1:%d\r\n' "$port" "$web_port" >"$work/stopped/zqnlist.Ini"
(cd "$work/stopped" && exec ip netns exec "$ns_monitor" env QT_QPA_PLATFORM=offscreen "$work/stopped/zqnlist") \
  >"$work/stopped.log" 2>&1 &
stopped_pid=$!
# The local address of the copy's UDP socket, as "address:port".
stopped_socket() { ip netns exec "$ns_monitor" ss -Hunap | awk -v pid="pid=$stopped_pid," 'index($0, pid) { print $4 }'; }
recorded() {
  ip netns exec "$ns_monitor" curl -fsS "http://127.0.0.1:$web_port/metrics" 2>/dev/null |
    awk '/^zqnlist_datagrams_total\{result="recorded"\}/ { print $2 }'
}
has_recorded() { [ "$(recorded)" = "$1" ]; }
recorded_any() { [ "$(recorded)" -ge 1 ] 2>/dev/null; }
socket_seen() { [ -n "$(stopped_socket)" ] && has_recorded 0; }
while_stopped_only_loopback_is_heard() {
  within 20 socket_seen || return 1
  local socket stopped_port
  socket=$(stopped_socket)
  stopped_port=${socket##*:}
  # From the network first, then from the loopback address: the second one arrives, so the first,
  # sent before it, would have arrived by then.
  ip netns exec "$ns_device" "$announce" --port "$stopped_port" --mac 02:C3:D7:DD:00:01 --host 10.77.0.1 >/dev/null
  ip netns exec "$ns_monitor" "$announce" --port "$stopped_port" --mac 02:C3:D7:DD:00:02 --host 127.0.0.1 >/dev/null
  within 10 recorded_any || { echo "nothing recorded, not even from the loopback address"; return 1; }
  has_recorded 1 || { echo "recorded: $(recorded)"; return 1; }
  [ "${socket%:*}" = 127.0.0.1 ] || { echo "the stopped socket is on $socket"; return 1; }
}
check "while stopped, a datagram from the network is not recorded, one from the loopback address is" \
  while_stopped_only_loopback_is_heard
kill -TERM "$stopped_pid" 2>/dev/null
wait "$stopped_pid" 2>/dev/null
stopped_pid=

# Nine devices, each on one line, all from 10.77.0.2, and nothing else.
final_list_holds_only_the_nine() {
  [ "$(grep -c '' "$work/zqnlist.csv")" = 9 ] &&
    has_lines 02:C3:D7:AA:00 3 && has_lines 02:C3:D7:BB:00 3 && has_lines 02:C3:D7:CC:00 3
}
check "the final CSV file holds the nine devices and nothing else" final_list_holds_only_the_nine

if [ "$failed" -ne 0 ]; then
  echo "--- zqnlist.csv"
  cat -A "$work/zqnlist.csv" 2>/dev/null
  echo "--- monitor output"
  cat "$work/monitor.log"
  echo "--- stopped copy's output"
  cat "$work/stopped.log" 2>/dev/null
fi
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
