#!/usr/bin/env bash
# Two hosts, end to end: two network namespaces joined by a veth pair, each with
# its own JACK server (dummy driver) and a window-less Strandlink configured for
# the other. A keyboard on host A plays every kind of short MIDI message into A at
# a steady rate; a synth on host B checks that all of it comes out of B byte for
# byte and in order. Then chat both ways, the connection status, host B killed
# with SIGKILL and started again in steady timing (A still immediate), A started
# again in steady timing too and the whole MIDI run once more, and a clean stop
# of both.
#
# Usage: two_hosts.sh STRANDLINK E2E_DRIVER
# Needs root for the namespaces; exits 77 (skipped) where they cannot be made,
# fails there under CI=true.
# E2E_RATE and E2E_SECONDS set the MIDI run (default 1000 messages a second for 5 s).
set -uo pipefail

if [ $# -ne 2 ]; then
  echo "usage: $0 STRANDLINK E2E_DRIVER" >&2
  exit 2
fi
strandlink=$(realpath "$1")
driver=$(realpath "$2")
rate=${E2E_RATE:-1000}
seconds=${E2E_SECONDS:-5}
count=$((rate * seconds))
# A bound on the whole run, below the test's own timeout, so that the clean-up
# below still runs when something hangs.
overall_limit=${E2E_LIMIT:-110}

# A missing real part skips here and fails under CI=true.
source "$(dirname "${BASH_SOURCE[0]}")/../support/veth_hosts.sh"

for tool in ip jackd jack_wait; do
  command -v "$tool" >/dev/null || missing "$tool is not installed (scripts/setup.sh installs it)"
done
[ "$(id -u)" -eq 0 ] || missing "network namespaces need root; run the test as root (CI does)"

nsA=strandlink-e2e-$run_id-a
nsB=strandlink-e2e-$run_id-b
vethA=sla$run_id
vethB=slb$run_id
# Addresses exist inside the two namespaces only.
subnet=10.203.$((0x${run_id:0:2}))
ipA=$subnet.1
ipB=$subnet.2
jackA=e2e-$run_id-a
jackB=e2e-$run_id-b
work=$(mktemp -d "${TMPDIR:-/tmp}/strandlink-e2e.XXXXXX")

trap 'echo "FAIL: stopped by a signal (or the ${overall_limit} s limit)"; exit 1' INT TERM

limit_run "$overall_limit"

step() { echo "--- $*"; }

fail() {
  echo "FAIL: $*"
  for f in "$work"/*.out "$work"/*.err "$work"/*.log; do
    [ -e "$f" ] || continue
    echo "=== ${f##*/} (last lines)"
    tail -n 30 "$f"
  done
  # Datagrams a host's kernel dropped (a full receive buffer counts as RcvbufErrors).
  for ns in "${made_ns[@]}"; do
    echo "=== UDP counters of $ns"
    ip netns exec "$ns" grep '^Udp:' /proc/net/snmp 2>/dev/null
  done
  exit 1
}

# The prefix that runs a command on one host: in its namespace, against its JACK
# server. An array, not a function: a function put in the background runs in a
# subshell, and $! would be that subshell's id rather than the program's.
# Each host remembers its choices (strandlink.conf) in a directory of its own.
host_A=(ip netns exec "$nsA" env JACK_DEFAULT_SERVER="$jackA" JACK_NO_AUDIO_RESERVATION=1 XDG_CONFIG_HOME="$work/config-A")
host_B=(ip netns exec "$nsB" env JACK_DEFAULT_SERVER="$jackB" JACK_NO_AUDIO_RESERVATION=1 XDG_CONFIG_HOME="$work/config-B")

lines() { wc -l <"$1"; }

# ---- the network ------------------------------------------------------------------

step "two hosts: $nsA ($ipA) and $nsB ($ipB), joined by a veth pair"
join_hosts "$nsA" "$vethA" "$ipA" "$nsB" "$vethB" "$ipB"

# ---- a JACK server on each host ---------------------------------------------------

step "a JACK server on each host"
start_jack "$jackA" "$work/jackd-A.log" "${host_A[@]}"
start_jack "$jackB" "$work/jackd-B.log" "${host_B[@]}"

# ---- Strandlink on each host ------------------------------------------------------

write_settings() {
  printf '"REMOTEIP:","%s"\r\n"REMOTEPORT:","4000"\r\n"LOCALIP:","%s"\r\n"LOCALPORT:","4000"\r\n"MIDIOUT:",0\r\n"MIDIIN:",0\r\n"PRIORITY:",#TRUE#\r\n' \
    "$2" "$3" >"$work/$1.stn"
}
write_settings A "$ipB" "$ipA"
write_settings B "$ipA" "$ipB"

# Standard input of each side is a FIFO that this script keeps open (A on fd 7,
# B on fd 8), so chat lines can be typed into it at any time.
mkfifo "$work/A.in" "$work/B.in"
exec 7<>"$work/A.in" 8<>"$work/B.in"
pid_A= pid_B=

# start_link SIDE TIMING
start_link() {
  local side=$1 timing=$2 host=("${host_A[@]}")
  [ "$side" = B ] && host=("${host_B[@]}")
  "${host[@]}" "$strandlink" --headless --settings "$work/$side.stn" --name "Host$side" --timing "$timing" \
    <"$work/$side.in" >>"$work/strandlink-$side.out" 2>>"$work/strandlink-$side.err" 7>&- 8>&- &
  pids+=($!)
  printf -v "pid_$side" '%s' $!
}

step "a window-less Strandlink on each host; both print \"Connected\""
: >"$work/strandlink-A.out"
: >"$work/strandlink-B.out"
start_link A immediate
start_link B immediate
wait_line "$work/strandlink-A.out" "Connected" 20 || fail "host A never printed \"Connected\""
wait_line "$work/strandlink-B.out" "Connected" 20 || fail "host B never printed \"Connected\""

# ---- MIDI from A to B -------------------------------------------------------------

# run_midi FIRST COUNT: plays messages FIRST .. FIRST+COUNT-1 into A and checks them at B.
run_midi() {
  local first=$1 n=$2 record play rc
  "${host_B[@]}" "$driver" record --port '^HostB:out$' --first "$first" --count "$n" --deadline-ms 60000 \
    >"$work/record.out" 2>&1 </dev/null 7>&- 8>&- &
  record=$!
  pids+=("$record")
  if ! wait_line "$work/record.out" "ready" 15; then
    fail "the synth on host B could not connect to Strandlink's output"
  fi
  # In the background, so that a signal (the time limit) is handled at once.
  "${host_A[@]}" "$driver" play --port '^HostA:in$' --first "$first" --count "$n" --rate "$rate" \
    >"$work/play.out" 2>&1 </dev/null 7>&- 8>&- &
  play=$!
  pids+=("$play")
  wait "$play" || fail "the keyboard on host A could not play: $(cat "$work/play.out")"
  wait "$record"
  rc=$?
  cat "$work/record.out"
  [ $rc -eq 0 ] || fail "MIDI from host A did not arrive intact at host B"
}

step "immediate timing: $count messages of every short kind, $rate a second, from A's keyboard to B's synth"
run_midi 0 "$count"

# ---- chat ---------------------------------------------------------------------------

step "chat lines both ways"
echo "hello from A, over the veth" >&7
wait_line "$work/strandlink-B.out" "REMOTEhello from A, over the veth" 10 || fail "B did not show A's chat line"
echo "and back from B" >&8
wait_line "$work/strandlink-A.out" "REMOTEand back from B" 10 || fail "A did not show B's chat line"

# Nothing so far deserved a message box.
for side in A B; do
  if [ -s "$work/strandlink-$side.err" ]; then fail "host $side reported: $(cat "$work/strandlink-$side.err")"; fi
done

# ---- the peer lost and back -----------------------------------------------------------

step "host B killed with SIGKILL: A prints \"Not Connected\""
seen=$(lines "$work/strandlink-A.out")
kill -KILL "$pid_B"
wait "$pid_B" 2>/dev/null
wait_line "$work/strandlink-A.out" "Not Connected" 15 "$seen" || fail "A did not notice that B is gone"

step "host B started again in steady timing: both print \"Connected\""
seen=$(lines "$work/strandlink-A.out")
seenB=$(lines "$work/strandlink-B.out")
start_link B steady
wait_line "$work/strandlink-B.out" "Connected" 20 "$seenB" || fail "the new B never printed \"Connected\""
wait_line "$work/strandlink-A.out" "Connected" 20 "$seen" || fail "A did not print \"Connected\" again"

step "MIDI flows through the new B, which times A's messages without stamps by their arrival"
run_midi "$count" 200

step "host A started again in steady timing: stamped datagrams both ways"
stop_pid "$pid_A" || fail "host A ended with status $? after SIGTERM"
seen=$(lines "$work/strandlink-A.out")
start_link A steady
wait_line "$work/strandlink-A.out" "Connected" 20 "$seen" || fail "the new A never printed \"Connected\""

step "steady timing: $count messages of every short kind, $rate a second, from A's keyboard to B's synth"
run_midi "$((count + 200))" "$count"

# ---- a clean stop -----------------------------------------------------------------------

step "SIGTERM stops both with exit status 0"
for side in A B; do
  pid_var=pid_$side
  stop_pid "${!pid_var}"
  rc=$?
  [ $rc -eq 0 ] || fail "host $side ended with status $rc after SIGTERM"
done

echo "PASS: two hosts linked end to end"
