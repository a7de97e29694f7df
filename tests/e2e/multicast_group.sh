#!/usr/bin/env bash
# Three copies of the real program in one multicast group on one host: a network
# namespace of its own whose loopback carries the group, one JACK server, three
# window-less copies with --protocol multicast under different names. Each in turn
# plays every kind of short message; the other two must play all of it, byte-exact
# and in order, and the one that played must hear nothing of it. Then a SysEx
# longer than a datagram from one to the other two.
#
# Usage: multicast_group.sh STRANDLINK E2E_DRIVER
# Needs root for the namespace; exits 77 (skipped) where it cannot be made, fails
# there under CI=true.
set -uo pipefail

if [ $# -ne 2 ]; then
  echo "usage: $0 STRANDLINK E2E_DRIVER" >&2
  exit 2
fi
strandlink=$(realpath "$1")
driver=$(realpath "$2")
count=${GROUP_COUNT:-340}
rate=${GROUP_RATE:-500}

source "$(dirname "${BASH_SOURCE[0]}")/../support/veth_hosts.sh"
for tool in ip jackd jack_wait jack_lsp; do
  command -v "$tool" >/dev/null || missing "$tool (scripts/setup.sh installs it)"
done
[ "$(id -u)" -eq 0 ] || missing "root, which network namespaces need"

ns=strandlink-group-$run_id
work=$(mktemp -d "${TMPDIR:-/tmp}/strandlink-group.XXXXXX")
export JACK_DEFAULT_SERVER=group-$run_id JACK_NO_AUDIO_RESERVATION=1

fail() {
  echo "FAIL: $*"
  for f in "$work"/*.out "$work"/*.err "$work"/*.log; do
    [ -e "$f" ] || continue
    echo "=== ${f##*/} (last lines)"
    tail -n 20 "$f"
  done
  exit 1
}
# A bound below the test's own timeout: a hang still shows every log.
trap 'fail "stopped by a signal (or the ${GROUP_LIMIT:-105} s limit)"' INT TERM
limit_run "${GROUP_LIMIT:-105}"

echo "--- a host of its own ($ns) whose loopback carries multicast, and a JACK server"
err=$(ip netns add "$ns" 2>&1) || missing "network namespaces cannot be made here: $err"
made_ns+=("$ns")
ip -n "$ns" link set lo up multicast on && ip -n "$ns" route add 224.0.0.0/4 dev lo || fail "could not set up $ns"
start_jack "$JACK_DEFAULT_SERVER" "$work/jackd.log"

copies=(A B C)
echo "--- three copies in the group 225.0.0.37:21928: ${copies[*]}"
for c in "${copies[@]}"; do
  # A settings file of each copy's own: without one the program reads and writes
  # the file beside it, which every test of the real program shares.
  printf '"%s","%s"\n' REMOTEIP: "" REMOTEPORT: "" LOCALIP: "" LOCALPORT: "" >"$work/$c.stn"
  printf '"%s",%s\n' MIDIOUT: 0 MIDIIN: 0 PRIORITY: '#TRUE#' >>"$work/$c.stn"
  ip netns exec "$ns" env XDG_CONFIG_HOME="$work/config-$c" "$strandlink" --headless --settings "$work/$c.stn" \
    --protocol multicast --remote 225.0.0.37:21928 --local 127.0.0.1 --name "Copy$c" --input 0 --output 0 \
    </dev/null >"$work/$c.out" 2>"$work/$c.err" &
  pids+=($!)
  printf -v "pid_$c" '%s' $!
done
end=$((SECONDS + 15))
for c in "${copies[@]}"; do
  until timeout 5 jack_lsp 2>/dev/null | grep -qx "Copy$c:out"; do
    ((SECONDS < end)) || fail "copy $c's JACK ports do not appear"
    sleep 0.1
  done
done

# round INDEX SENDER: SENDER plays its share; the other two check it, SENDER's own
# output must stay silent.
round() {
  local first=$(($1 * count)) sender=$2 c recorders=() quiet
  for c in "${copies[@]}"; do
    if [ "$c" = "$sender" ]; then
      "$driver" dump --port "^Copy$c:out\$" --count 1 --deadline-ms $((count * 1000 / rate + 3000)) \
        >"$work/own-$c.log" 2>&1 &
      quiet=$!
      pids+=($quiet)
      wait_line "$work/own-$c.log" ready 10 || fail "could not listen to copy $c's output"
    else
      "$driver" record --port "^Copy$c:out\$" --first "$first" --count "$count" --deadline-ms 20000 \
        >"$work/record-$c.log" 2>&1 &
      recorders+=($!)
      pids+=($!)
      wait_line "$work/record-$c.log" ready 10 || fail "could not listen to copy $c's output"
    fi
  done
  # In the background: a wait, unlike a command, gives way to the limit's TERM.
  "$driver" play --port "^Copy$sender:in\$" --first "$first" --count "$count" --rate "$rate" >"$work/play.log" 2>&1 &
  pids+=($!)
  wait $! || fail "could not play into copy $sender"
  for c in "${recorders[@]}"; do wait "$c" || fail "what copy $sender played did not reach the others intact"; done
  wait "$quiet"
  [ "$(cat "$work/own-$sender.log")" = ready ] ||
    fail "copy $sender heard itself: $(tail -n +2 "$work/own-$sender.log" | head -3)"
  echo "$count messages from $sender reached the other two byte-exact and in order; $sender heard none of them"
}

round 0 A
round 1 B
round 2 C

sysex=${GROUP_SYSEX:-3000}
echo "--- a SysEx of $sysex bytes (more than one datagram) from A to B and C"
recorders=()
for c in B C; do
  "$driver" record --port "^Copy$c:out\$" --sysex "$sysex" --deadline-ms 10000 >"$work/sysex-$c.log" 2>&1 &
  recorders+=($!)
  pids+=($!)
  wait_line "$work/sysex-$c.log" ready 10 || fail "could not listen to copy $c's output"
done
"$driver" play --port '^CopyA:in$' --sysex "$sysex" >"$work/play.log" 2>&1 &
pids+=($!)
wait $! || fail "could not play the SysEx into A"
for r in "${recorders[@]}"; do wait "$r" || fail "the SysEx did not reach B and C whole"; done

for c in "${copies[@]}"; do
  pid_var=pid_$c
  stop_pid "${!pid_var}" || fail "copy $c ended with status $? after SIGTERM"
  grep -qx "Group joined - 2 members heard" "$work/$c.out" || fail "copy $c never said it heard the other two"
  [ -s "$work/$c.err" ] && fail "copy $c reported: $(cat "$work/$c.err")"
done
echo "PASS: three copies in one group hear each other byte-exact and never themselves"
