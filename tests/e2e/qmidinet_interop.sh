#!/usr/bin/env bash
# Interoperation with qmidinet, the usual multicast MIDI gateway on Linux. qmidinet
# turns multicast loopback off, so it gets a network namespace of its own, joined
# by a veth pair to the one where our side runs: multicast_peer, which speaks
# through the product's multicast socket, wire and receiver. qmidinet plays into
# and out of a private JACK server. Every kind of short message and a SysEx go
# both ways, and must arrive byte-exact.
#
# qmidinet itself loses and reorders a few messages on a busy machine (every
# datagram reaches its interface, as tcpdump shows, yet about one message in 300
# never leaves its JACK port, even 20 ms apart). Those are counted and shown, and
# fail the test only past 5 %; a changed, padded, split, doubled or unknown
# message always fails it. Our own order is the unit tests' to check.
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

source "$(dirname "${BASH_SOURCE[0]}")/../support/veth_hosts.sh"
for tool in ip jackd jack_wait jack_lsp qmidinet; do
  command -v "$tool" >/dev/null || missing "$tool (scripts/setup.sh installs it)"
done
[ "$(id -u)" -eq 0 ] || missing "root, which network namespaces need"

nsQ=strandlink-qm-$run_id-q
nsS=strandlink-qm-$run_id-s
vethQ=slq$run_id
vethS=sls$run_id
subnet=10.204.$((0x${run_id:0:2}))
ipQ=$subnet.1
ipS=$subnet.2
work=$(mktemp -d "${TMPDIR:-/tmp}/strandlink-qmidinet.XXXXXX")
export JACK_DEFAULT_SERVER=qm-$run_id JACK_NO_AUDIO_RESERVATION=1 XDG_CONFIG_HOME=$work/config
trap 'echo "FAIL: stopped by a signal"; exit 1' INT TERM

fail() {
  echo "FAIL: $*"
  for f in "$work"/*.log; do
    echo "=== ${f##*/} (last lines)"
    tail -n 20 "$f"
  done
  exit 1
}

# judge EXPECTED GOT WHAT: every line of GOT is one of EXPECTED's, not more often
# than there; every kind of message came; at most 5 % lost.
judge() {
  awk -v what="$3" '
    function kind(m) { return substr(m, 1, 1) == "F" ? substr(m, 1, 2) : substr(m, 1, 1) "x" }
    NR == FNR { n++; want[$0]++; times[$0]++; at[$0] = FNR; kinds[kind($0)] = 1; next }
    $0 == "ready" && FNR == 1 { next }
    !want[$0] { bad = bad "\n  " $0; next }
    {
      want[$0]--; came++; seen[kind($0)] = 1
      if (times[$0] == 1) { if (at[$0] < last) late++; else last = at[$0] }
    }
    END {
      for (k in kinds) if (!(k in seen)) absent = absent " " k
      printf "%s: %d of %d came, %d out of order\n", what, came, n, late
      if (bad != "") print "FAIL: messages that were never sent:" bad
      if (absent != "") print "FAIL: no message of the kinds" absent
      if ((n - came) * 20 > n) print "FAIL: more than 5 % lost"
      exit bad != "" || absent != "" || (n - came) * 20 > n
    }' "$1" "$2"
}

echo "--- qmidinet's host $nsQ ($ipQ) and ours $nsS ($ipS), joined by a veth pair"
join_hosts "$nsQ" "$vethQ" "$ipQ" "$nsS" "$vethS" "$ipS" 224.0.0.0/4

echo "--- a JACK server, and qmidinet without its window, on JACK MIDI only"
# JACK talks through files, which the namespaces share.
start_jack "$JACK_DEFAULT_SERVER" "$work/jackd.log"
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
wait "$recorder" || fail "our side heard garbage (peer.log)"
judge "$work/expected" "$work/heard" "qmidinet to us" || fail "what we heard is not what qmidinet was given"

echo "--- $count messages from us to qmidinet"
"$driver" dump --port '^QmidiNet:out_1$' --count "$count" --deadline-ms 10000 >"$work/played" 2>>"$work/record.log" &
recorder=$!
pids+=($recorder)
wait_line "$work/played" ready 10 || fail "could not listen to qmidinet's output"
ip netns exec "$nsS" "$peer" send --interface "$ipS" --gap-ms 5 <"$work/expected" >>"$work/peer.log" 2>&1 ||
  fail "our side could not send"
wait "$recorder" || fail "could not record qmidinet's output (record.log)"
judge "$work/expected" "$work/played" "us to qmidinet" || fail "what qmidinet played is not what we sent"

# A SysEx that fits one datagram and one JACK event at 128 frames: qmidinet passes
# each datagram to JACK as one event, and a larger one does not fit its buffer.
sysex=${INTEROP_SYSEX:-500}
"$driver" list --sysex "$sysex" >"$work/sysex" || fail "could not list the SysEx"

echo "--- a SysEx of $sysex bytes from qmidinet to us"
ip netns exec "$nsS" "$peer" record --interface "$ipS" --count 1 >"$work/heard" 2>>"$work/peer.log" &
recorder=$!
pids+=($recorder)
wait_line "$work/heard" ready 10 || fail "our side did not join the group"
"$driver" play --port '^QmidiNet:in_1$' --sysex "$sysex" >>"$work/play.log" 2>&1 || fail "could not play into qmidinet"
wait "$recorder"
recorded=$?
tail -n +2 "$work/heard" | diff -q "$work/sysex" - >/dev/null || fail "the SysEx we heard differs"
[ $recorded -eq 0 ] || fail "our side heard garbage (peer.log)"

echo "--- a SysEx of $sysex bytes from us to qmidinet"
"$driver" record --port '^QmidiNet:out_1$' --sysex "$sysex" --deadline-ms 10000 >"$work/record.log" 2>&1 &
recorder=$!
pids+=($recorder)
wait_line "$work/record.log" ready 10 || fail "could not listen to qmidinet's output"
ip netns exec "$nsS" "$peer" send --interface "$ipS" <"$work/sysex" >>"$work/peer.log" 2>&1 || fail "our side could not send"
wait "$recorder" || fail "qmidinet did not play the SysEx we sent (record.log)"

echo "PASS: every kind of short message and a SysEx, byte-exact, both ways"
