#!/usr/bin/env bash
# The installed service under a real systemd: boots this machine's own OS in a container
# (systemd-nspawn, a volatile root over the host's /usr, loopback only) with the install root laid
# over /usr and its settings in /etc. Sees zqnlistd become ready with its web port open, its status,
# its page over HTTP, the priorities of its lines in the journal, the watchdog kill and restart it
# after SIGSTOP, and the package's purge script remove its state folder. Exits 77 (skipped), saying why, where no container can be booted
# here. Whatever it starts is ended and removed on exit.
# Usage: container_service.sh <root> <zqnlistd.postrm>
set -u
root=${1:?usage: container_service.sh <root> <zqnlistd.postrm>}
postrm=${2:?usage: container_service.sh <root> <zqnlistd.postrm>}
machine=zqn-test-$$
work=$(mktemp -d)
nspawn=
cgroups=()

# The only check of the installed service under systemd: under CI=true a skip is a failure.
skip() {
  echo "SKIPPED: $*"
  [ "${CI:-}" = "true" ] && exit 1
  exit 77
}

fail() {
  echo "FAILED: $*"
  echo "--- zqnlistd's journal"
  in_container journalctl -u zqnlistd --no-pager -o short-monotonic 2>&1 | tail -n 30
  exit 1
}

source "$(dirname "$0")/../support/within.sh"

# The container's first process, once it has one.
leader() {
  [ -n "$nspawn" ] && pgrep -P "$nspawn" | head -n 1
}

in_container() {
  local pid
  pid=$(leader) || return 1
  [ -n "$pid" ] && nsenter -t "$pid" -m -u -i -n -p -- "$@"
}

cleanup() {
  if [ -n "$nspawn" ] && kill -0 "$nspawn" 2>/dev/null; then
    kill -TERM "$nspawn" # the container shuts down like a machine
    timeout 30 tail --pid="$nspawn" -f /dev/null || kill -KILL "$(leader)" "$nspawn" 2>/dev/null
    wait "$nspawn" 2>/dev/null
  fi
  local group pid
  for group in "${cgroups[@]}"; do
    for pid in $(find "$group" -name cgroup.procs -exec cat {} + 2>/dev/null); do
      kill -KILL "$pid" 2>/dev/null
    done
    within 10 eval 'find "$group" -depth -type d -exec rmdir {} + 2>/dev/null; [ ! -d "$group" ]' ||
      echo "could not remove the control group $group"
  done
  local propagate=/run/systemd/nspawn/propagate/$machine
  mountpoint -q "$propagate" 2>/dev/null && umount "$propagate"
  rm -rf "$propagate" "$work"
}
trap cleanup EXIT

[ "$(id -u)" -eq 0 ] || skip "booting a container needs root"
command -v systemd-nspawn >/dev/null || skip "systemd-nspawn is not installed (systemd-container)"
command -v nsenter >/dev/null || skip "nsenter is not installed (util-linux)"
[ -x /lib/systemd/systemd ] || skip "this machine has no systemd to boot"
[ "$(readlink -f /lib)" = /usr/lib ] || skip "the OS is not all in /usr, so it cannot boot over a volatile root"

# Its own control group in every hierarchy the container uses, removed at the end whatever is
# left in it. A host run by systemd gets a scope from it instead.
launch=()
if [ -d /run/systemd/system ]; then
  launch=(systemd-run --quiet --scope --unit "$machine")
else
  for entry in /sys/fs/cgroup:cgroup2fs /sys/fs/cgroup/unified:cgroup2fs /sys/fs/cgroup/systemd:cgroupfs; do
    hierarchy=${entry%:*}
    [ "$(stat -fc %T "$hierarchy" 2>/dev/null)" = "${entry#*:}" ] || continue
    mkdir "$hierarchy/$machine" 2>/dev/null || skip "cannot create a control group in $hierarchy"
    cgroups+=("$hierarchy/$machine")
  done
  [ ${#cgroups[@]} -gt 0 ] || skip "no control group hierarchy is mounted under /sys/fs/cgroup"
fi

(
  for group in "${cgroups[@]}"; do
    echo "$BASHPID" >"$group/cgroup.procs" || exit 1
  done
  exec "${launch[@]}" systemd-nspawn --quiet --directory=/ --volatile=yes --machine="$machine" \
    --register=no --keep-unit --private-network --console=passive \
    --overlay-ro="/usr:$root/usr:/usr" --bind-ro="$root/etc/zqnlist:/etc/zqnlist" \
    --boot systemd.firstboot=off
) >"$work/boot.log" 2>&1 </dev/null &
nspawn=$!

manager_runs() {
  local state
  state=$(in_container systemctl is-system-running 2>/dev/null)
  [ "$state" = running ] || [ "$state" = degraded ]
}
booted_or_gone() { ! kill -0 "$nspawn" 2>/dev/null || manager_runs; }
within 90 booted_or_gone
if ! manager_runs; then
  tail -n 20 "$work/boot.log"
  kill -0 "$nspawn" 2>/dev/null && skip "the container's systemd did not finish booting within 90 s"
  skip "systemd-nspawn could not boot this machine's OS (its output is above)"
fi

property() { in_container systemctl show --property="$1" --value zqnlistd; }
active() { [ "$(in_container systemctl is-active zqnlistd)" = active ]; }

# Type=notify: active only once READY=1 came; STATUS= carries the status after the first write.
[ "$(property Type)" = notify ] || fail "the unit's type is $(property Type)"
in_container systemctl start --no-block zqnlistd || fail "systemctl start zqnlistd"
within 30 active || fail "zqnlistd did not become ready"
# Ready means the web port is open too (the packaged settings set WEB=5080).
in_container curl -fsS -o /dev/null http://127.0.0.1:5080/metrics || fail "ready, but the web port does not answer"
within 10 eval '[ "$(property StatusText)" = 開始 ]' || fail "the status is '$(property StatusText)', not 開始"
# The page over HTTP is the page file, byte for byte (a tick may rewrite it in between: again).
served_page() { in_container sh -c 'curl -fsS http://127.0.0.1:5080/ | cmp -s - /var/lib/zqnlist/zqnlist.htm'; }
within 10 served_page || fail "the page served on port 5080 is not the page file"

# In the journal, errors are at err priority and the status at info: a second copy, run beside the
# service with a settings file that is not there, finds the default port taken.
in_container systemd-run --quiet --wait --unit=zqnlistd-second --property=WorkingDirectory=/tmp \
  /usr/bin/zqnlistd --settings /etc/zqnlist/typo.Ini && fail "a second copy could listen on the service's port"
expected="zqnlistd: 設定ファイル /etc/zqnlist/typo.Ini がありません。既定の設定で動きます
zqnlistd: ポート 5000 は開けません"
err_lines() { [ "$(in_container journalctl -u zqnlistd-second -p err -o cat)" = "$expected" ]; }
within 10 err_lines || fail "the journal's err lines were: $(in_container journalctl -u zqnlistd-second -p err -o cat)"

# A new device is one journal entry with its fields; the host's python3 sends its announcement.
in_container python3 -c 'import socket; socket.socket(socket.AF_INET, socket.SOCK_DGRAM).sendto(bytes(9) + b"\x01\x00\x0c" + bytes(2) + bytes.fromhex("02c3d7000077"), ("127.0.0.1", 5000))' ||
  fail "could not send an announcement in the container"
new_device() {
  in_container journalctl -u zqnlistd -o json MESSAGE_ID=0c0e2e70ad5c4d0faae64e08f43d8d25 |
    python3 -c 'import json, sys; e = json.loads(sys.stdin.readline()); sys.exit(not (e["ZQN_MAC"] == "02:C3:D7:00:00:77" and e["ZQN_IP"] == "127.0.0.1" and e["PRIORITY"] == "5"))'
}
within 10 new_device || fail "no journal entry for the new device: $(in_container journalctl -u zqnlistd -o json MESSAGE_ID=0c0e2e70ad5c4d0faae64e08f43d8d25)"

# systemctl reload: the same process reads its settings again and runs on.
pid_before=$(property MainPID)
in_container systemctl reload zqnlistd || fail "systemctl reload zqnlistd"
reloaded() { in_container journalctl -u zqnlistd -o cat | grep -qF 設定を読み直します; }
within 10 reloaded || fail "the reload was not logged"
within 10 eval '[ "$(property StatusText)" = 開始 ]' || fail "after the reload the status is '$(property StatusText)'"
[ "$(property MainPID)" = "$pid_before" ] || fail "the reload started a new process"

# A stuck event loop stops the watchdog pings: systemd kills the program and starts it again.
stuck=$(property MainPID)
in_container systemctl kill --kill-whom=main --signal=SIGSTOP zqnlistd || fail "SIGSTOP could not be sent"
restarted() { [ "$(property NRestarts)" = 1 ] && active && [ "$(property MainPID)" != "$stuck" ]; }
within 75 restarted || fail "the watchdog did not restart the stopped zqnlistd"
in_container journalctl -u zqnlistd -o cat | grep -qF "Failed with result 'watchdog'" ||
  fail "zqnlistd restarted, but not for its watchdog"

# The list and the page are the dynamic user's: purging the package takes them away too.
in_container systemctl stop zqnlistd
in_container test -f /var/lib/private/zqnlist/zqnlist.htm -a -L /var/lib/zqnlist || fail "no state folder with the page"
in_container sh -s purge <"$postrm" || fail "the purge script failed"
in_container test ! -e /var/lib/private/zqnlist -a ! -L /var/lib/zqnlist || fail "the purge left the state folder"
echo "1 passed, 0 failed"
