#!/usr/bin/env bash
# Interoperation with qmidinet, the usual multicast MIDI gateway on Linux. qmidinet
# turns multicast loopback off, so it gets a network namespace of its own, joined
# by a veth pair to the one where our side runs: multicast_peer, which speaks
# through the product's multicast socket, wire and receiver. qmidinet plays into
# and out of a private JACK server. Every kind of short message goes both ways,
# and must arrive byte-exact and in order.
#
# Usage: qmidinet_interop.sh E2E_DRIVER MULTICAST_PEER
# Needs root and qmidinet. Where either is missing: skipped (exit 77), but under
# CI=true a failure, with one line saying what was missing.
set -uo pipefail

if [ $# -ne 2 ]; then
  echo "usage: $0 E2E_DRIVER MULTICAST_PEER" >&2
  exit 2
fi
driver=$(realpath "$1")
peer=$(realpath "$2")
count=${INTEROP_COUNT:-170}

missing() {
  if [ "${CI:-}" = true ]; then
    echo "FAIL: the qmidinet interoperation test is missing $*"
    exit 1
  fi
  echo "SKIPPED: missing $*"
  exit 77
}
for tool in ip jackd jack_wait jack_lsp qmidinet; do
  command -v "$tool" >/dev/null || missing "$tool (scripts/setup.sh installs it)"
done
[ "$(id -u)" -eq 0 ] || missing "root, which network namespaces need"

# Names of this run only. Interface names have at most 15 characters.
id=$(od -An -N4 -tx1 /dev/urandom | tr -d ' \n')
nsQ=strandlink-qm-$id-q
nsS=strandlink-qm-$id-s
vethQ=slq$id
vethS=sls$id
subnet=10.204.$((0x${id:0:2}))
ipQ=$subnet.1
ipS=$subnet.2
work=$(mktemp -d "${TMPDIR:-/tmp}/strandlink-qmidinet.XXXXXX")
export JACK_DEFAULT_SERVER=qm-$id JACK_NO_AUDIO_RESERVATION=1 XDG_CONFIG_HOME=$work/config
pids=()
made_ns=()

stop_pid() {
  kill -TERM "$1" 2>/dev/null || return 0
  for _ in $(seq 50); do kill -0 "$1" 2>/dev/null || break; sleep 0.1; done
  kill -KILL "$1" 2>/dev/null
  wait "$1" 2>/dev/null
}

cleanup() {
  local rc=$? i
  trap - EXIT
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do stop_pid "${pids[i]}"; done
  for ns in "${made_ns[@]}"; do ip netns del "$ns" 2>/dev/null; done
  rm -rf "$work"
  exit "$rc"
}
trap cleanup EXIT
trap 'echo "FAIL: stopped by a signal"; exit 1' INT TERM

fail() {
  echo "FAIL: $*"
  for f in "$work"/*.log; do
    echo "=== ${f##*/} (last lines)"
    tail -n 20 "$f"
  done
  exit 1
}

# until FILE holds LINE, for at most SECONDS
wait_line() {
  local end=$((SECONDS + $3))
  until grep -qxF -- "$2" "$1" 2>/dev/null; do
    ((SECONDS < end)) || return 1
    sleep 0.1
  done
}

echo "--- qmidinet's host $nsQ ($ipQ) and ours $nsS ($ipS), joined by a veth pair"
for ns in "$nsQ" "$nsS"; do
  if ! err=$(ip netns add "$ns" 2>&1); then
    [ ${#made_ns[@]} -eq 0 ] && missing "network namespaces ($err)"
    fail "could not make the second namespace: $err"
  fi
  made_ns+=("$ns")
done
ip link add "$vethQ" netns "$nsQ" type veth peer name "$vethS" netns "$nsS" || fail "could not make the veth pair"
for side in Q S; do
  if [ $side = Q ]; then ns=$nsQ dev=$vethQ addr=$ipQ; else ns=$nsS dev=$vethS addr=$ipS; fi
  ip -n "$ns" link set lo up && ip -n "$ns" addr add "$addr/24" dev "$dev" &&
    ip -n "$ns" link set "$dev" up && ip -n "$ns" route add 224.0.0.0/4 dev "$dev" || fail "could not set up $ns"
done

echo "--- a JACK server, and qmidinet without its window, on JACK MIDI only"
# JACK talks through files, which the namespaces share.
jackd -n "$JACK_DEFAULT_SERVER" -d dummy -r 48000 -p 128 >"$work/jackd.log" 2>&1 </dev/null &
pids+=($!)
end=$((SECONDS + 15))
until jack_wait -c -s "$JACK_DEFAULT_SERVER" 2>/dev/null | grep -qx running; do
  ((SECONDS < end)) || fail "the JACK server does not answer"
  sleep 0.1
done
ip netns exec "$nsQ" env QT_QPA_PLATFORM=offscreen \
  qmidinet --no-gui --alsa-midi off --jack-midi on --interface "$vethQ" >"$work/qmidinet.log" 2>&1 </dev/null &
pids+=($!)
end=$((SECONDS + 15))
until jack_lsp 2>/dev/null | grep -qx 'QmidiNet:out_1'; do
  ((SECONDS < end)) || fail "qmidinet's JACK ports do not appear"
  sleep 0.1
done
"$driver" list --count "$count" >"$work/expected" || fail "could not list the messages"

echo "--- $count messages from qmidinet to us"
ip netns exec "$nsS" "$peer" record --interface "$ipS" --count "$count" >"$work/heard" 2>"$work/peer.log" &
recorder=$!
pids+=($recorder)
wait_line "$work/heard" ready 10 || fail "our side did not join the group"
"$driver" play --port '^QmidiNet:in_1$' --count "$count" --rate 200 >"$work/play.log" 2>&1 ||
  fail "could not play into qmidinet"
wait "$recorder"
recorded=$?
tail -n +2 "$work/heard" | diff "$work/expected" - >"$work/diff.log" || fail "what we heard differs (diff.log)"
[ $recorded -eq 0 ] || fail "our side heard garbage or too much (peer.log)"

echo "--- $count messages from us to qmidinet"
"$driver" record --port '^QmidiNet:out_1$' --count "$count" --deadline-ms 20000 >"$work/record.log" 2>&1 &
recorder=$!
pids+=($recorder)
wait_line "$work/record.log" ready 10 || fail "could not listen to qmidinet's output"
ip netns exec "$nsS" "$peer" send --interface "$ipS" --gap-ms 5 <"$work/expected" >>"$work/peer.log" 2>&1 ||
  fail "our side could not send"
wait "$recorder" || fail "qmidinet did not play what we sent (record.log)"

echo "PASS: $count messages of every short kind, byte-exact and in order, both ways"
