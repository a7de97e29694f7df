#!/usr/bin/env bash
# Interoperation with qmidinet, the usual multicast MIDI gateway on Linux. qmidinet
# turns multicast loopback off, so it gets a network namespace of its own, joined
# by a veth pair to the one where our side runs: the real program, window-less,
# with --protocol multicast. Both play into and out of one private JACK server.
# Every kind of short message and a SysEx go both ways, and must arrive
# byte-exact.
#
# qmidinet itself loses and reorders a few messages on a busy machine (every
# datagram reaches its interface, as the packet counts of each run show, yet
# about one message in 300 never leaves its JACK port, even 20 ms apart; on an
# overloaded one, with JACK's cycles late by milliseconds, far more, both ways:
# some never leave its interface either). Those are counted and shown, and
# fail the test only past 5 %; a changed, padded, split, doubled or unknown
# message always fails it. Our own loss and order are the group test's to check.
#
# Usage: qmidinet_interop.sh STRANDLINK E2E_DRIVER
# Needs root and qmidinet. Where either is missing: skipped (exit 77), but under
# CI=true a failure, with one line saying what was missing.
set -uo pipefail

if [ $# -ne 2 ]; then
  echo "usage: $0 STRANDLINK E2E_DRIVER" >&2
  exit 2
fi
strandlink=$(realpath "$1")
driver=$(realpath "$2")
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
  for f in "$work"/*.log "$work"/*.out "$work"/*.err; do
    [ -e "$f" ] || continue
    echo "=== ${f##*/} (last lines)"
    tail -n 20 "$f"
  done
  network_state
  exit 1
}

# Where a message stopped on its way: each host's interface counters and queueing
# discipline, its group memberships and its UDP sockets, and the JACK connections.
network_state() {
  local ns dev
  [ -n "${nsQ:-}" ] || return 0
  for ns in "$nsQ:$vethQ" "$nsS:$vethS"; do
    dev=${ns#*:} ns=${ns%%:*}
    ip netns list 2>/dev/null | grep -q "^$ns\b" || continue
    echo "=== $ns: $dev, its groups and UDP sockets"
    ip -n "$ns" -s link show dev "$dev" 2>&1
    ip -n "$ns" maddr show dev "$dev" 2>&1 | grep inet
    ip netns exec "$ns" ss -uanp 2>&1
  done
  echo "=== JACK connections"
  jack_lsp -c 2>&1
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

echo "--- Strandlink in its host, in the group on $ipS"
# A settings file of this run's own, with the group and its port left empty: our
# defaults must be qmidinet's. Without one the program reads and writes the file
# beside it, which every test of the real program shares: whichever ran last
# would choose the group's port (the first run's 4000, say).
printf '"%s","%s"\n' REMOTEIP: "" REMOTEPORT: "" LOCALIP: "$ipS" LOCALPORT: "" >"$work/ours.stn"
printf '"%s",%s\n' MIDIOUT: 0 MIDIIN: 0 PRIORITY: '#TRUE#' >>"$work/ours.stn"
ip netns exec "$nsS" env XDG_CONFIG_HOME="$work/config-ours" \
  "$strandlink" --headless --settings "$work/ours.stn" --protocol multicast --local "$ipS" --name Ours \
  --input 0 --output 0 </dev/null >"$work/strandlink.out" 2>"$work/strandlink.err" &
ours=$!
pids+=($ours)
until jack_lsp 2>/dev/null | grep -qx 'Ours:out'; do
  ((SECONDS < end + 15)) || fail "Strandlink's JACK ports do not appear"
  sleep 0.1
done

# packets rx|tx: how many packets qmidinet's interface has taken or sent so far.
packets() { ip netns exec "$nsQ" cat "/sys/class/net/$vethQ/statistics/$1_packets"; }

# relay FROM TO WHAT: plays the listed messages into FROM, 200 a second, and
# judges what comes out of TO. The packets qmidinet's interface took and sent
# meanwhile (one a message, and a few of the system's own) tell whether a message
# was lost on the wire or inside qmidinet.
relay() {
  local recorder rx tx
  "$driver" dump --port "$2" --count "$count" --deadline-ms 10000 >"$work/played" 2>>"$work/record.log" &
  recorder=$!
  pids+=($recorder)
  wait_line "$work/played" ready 10 || fail "could not listen to $2"
  rx=$(packets rx) tx=$(packets tx)
  "$driver" play --port "$1" --count "$count" --rate 200 >"$work/play.log" 2>&1 || fail "could not play into $1"
  wait "$recorder" || fail "could not record $2 (record.log)"
  echo "qmidinet's interface meanwhile: $(($(packets rx) - rx)) packets in, $(($(packets tx) - tx)) out"
  judge "$work/expected" "$work/played" "$3" || fail "what came out of $2 is not what went into $1"
}

echo "--- $count messages from qmidinet to us"
relay '^QmidiNet:in_1$' '^Ours:out$' "qmidinet to us"
echo "--- $count messages from us to qmidinet"
relay '^Ours:in$' '^QmidiNet:out_1$' "us to qmidinet"

# A SysEx that fits one datagram and one JACK event at 128 frames: qmidinet passes
# each datagram to JACK as one event, and a larger one does not fit its buffer.
sysex=${INTEROP_SYSEX:-500}
# sysex_relay FROM TO WHAT
sysex_relay() {
  local recorder rx tx
  echo "--- a SysEx of $sysex bytes $3"
  "$driver" record --port "$2" --sysex "$sysex" --deadline-ms 10000 >"$work/record.log" 2>&1 &
  recorder=$!
  pids+=($recorder)
  wait_line "$work/record.log" ready 10 || fail "could not listen to $2"
  rx=$(packets rx) tx=$(packets tx)
  "$driver" play --port "$1" --sysex "$sysex" >>"$work/play.log" 2>&1 || fail "could not play into $1"
  wait "$recorder"
  local status=$?
  echo "qmidinet's interface meanwhile: $(($(packets rx) - rx)) packets in, $(($(packets tx) - tx)) out"
  ((status == 0)) || fail "the SysEx $3 did not arrive whole (record.log)"
}
sysex_relay '^QmidiNet:in_1$' '^Ours:out$' "from qmidinet to us"
sysex_relay '^Ours:in$' '^QmidiNet:out_1$' "from us to qmidinet"

stop_pid "$ours" || fail "Strandlink ended with status $? after SIGTERM"
grep -qx "Group joined - 1 member heard" "$work/strandlink.out" || fail "Strandlink never said it heard qmidinet"
[ -s "$work/strandlink.err" ] && fail "Strandlink reported: $(cat "$work/strandlink.err")"
echo "PASS: every kind of short message and a SysEx, byte-exact, both ways"
