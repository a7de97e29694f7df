#!/usr/bin/env bash
# A private mDNS world: runs COMMAND in a mount, network and PID namespace of its own,
# with only a loopback (multicast on), a tmpfs on /run, a system D-Bus of its own
# and an Avahi daemon that serves lo over IPv4 alone. Nothing of it is seen from
# outside, so tests can publish, browse and kill the daemon beside other runs.
#
# Usage: mdns_world.sh COMMAND [ARGS...]
# Inside, COMMAND finds:
#   mdns_world_daemon start|stop   start or stop (SIGTERM, then wait) the daemon
#   MDNS_WORLD_HOST                the daemon's host name (without .local)
# The daemon runs when COMMAND starts. Everything started here is stopped after.
# Exits with COMMAND's status; where namespaces or Avahi are missing, 77 (skip)
# with one line, or 1 with that line under CI=true.
set -uo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/real_part.sh"
unavailable() { missing "the private mDNS world needs $*"; }

if [ "${MDNS_WORLD_INSIDE:-}" != 1 ]; then
  [ $# -ge 1 ] || { echo "usage: $0 COMMAND [ARGS...]" >&2; exit 2; }
  for tool in unshare ip dbus-daemon avahi-daemon avahi-browse avahi-publish; do
    command -v "$tool" >/dev/null || unavailable "$tool (scripts/setup.sh installs it)"
  done
  [ "$(id -u)" -eq 0 ] || unavailable "root for its namespaces"
  unshare --mount --net --pid --fork true 2>/dev/null || unavailable "mount, network and PID namespaces (unshare failed)"
  # A PID namespace too: should this run be killed (a test's timeout), everything
  # it started dies with it.
  MDNS_WORLD_INSIDE=1 exec unshare --mount --net --pid --fork --kill-child --mount-proc --propagation private \
    bash "$(realpath "$0")" "$@"
fi

# Inside the namespaces from here on.
ip link set lo up && ip link set lo multicast on || { echo "mdns_world: cannot bring up lo" >&2; exit 1; }
ip route add 224.0.0.0/4 dev lo 2>/dev/null
mount -t tmpfs -o mode=0755 tmpfs /run || { echo "mdns_world: cannot mount a tmpfs on /run" >&2; exit 1; }
mkdir -p /run/dbus /run/avahi-daemon /run/mdns-world

export MDNS_WORLD_HOST=strandlink-world
cat >/run/mdns-world/avahi-daemon.conf <<CONF
[server]
host-name=$MDNS_WORLD_HOST
use-ipv4=yes
use-ipv6=no
allow-interfaces=lo
enable-dbus=yes
ratelimit-interval-usec=0
[wide-area]
enable-wide-area=no
[publish]
publish-hinfo=no
publish-workstation=no
publish-aaaa-on-ipv4=no
[reflector]
enable-reflector=no
[rlimits]
CONF

# A child of ours, so that it is reaped here when it ends.
dbus-daemon --system --nofork --nopidfile >/dev/null 2>/run/mdns-world/dbus.log &
dbus_pid=$!
for _ in $(seq 100); do
  [ -S /run/dbus/system_bus_socket ] && break
  sleep 0.05
done
[ -S /run/dbus/system_bus_socket ] || { echo "mdns_world: the private dbus-daemon did not start" >&2; exit 1; }

mdns_world_daemon() {
  case "$1" in
    start)
      avahi-daemon --no-chroot --no-drop-root --no-rlimits -f /run/mdns-world/avahi-daemon.conf -D \
        2>>/run/mdns-world/avahi.log || { echo "mdns_world: avahi-daemon did not start" >&2; return 1; }
      # Running once its name is on the bus and the host name is established.
      for _ in $(seq 100); do
        avahi-resolve -n4 "$MDNS_WORLD_HOST.local" >/dev/null 2>&1 && return 0
        sleep 0.1
      done
      echo "mdns_world: avahi-daemon did not come up: $(tail -3 /run/mdns-world/avahi.log)" >&2
      return 1
      ;;
    stop)
      local pid
      pid=$(cat /run/avahi-daemon/pid 2>/dev/null) || return 0
      kill "$pid" 2>/dev/null
      for _ in $(seq 100); do
        kill -0 "$pid" 2>/dev/null || return 0
        sleep 0.1
      done
      kill -KILL "$pid" 2>/dev/null
      ;;
  esac
}
export -f mdns_world_daemon

status=1
if mdns_world_daemon start; then
  "$@"
  status=$?
fi
mdns_world_daemon stop
kill "$dbus_pid" 2>/dev/null
wait "$dbus_pid" 2>/dev/null
exit $status
