#!/usr/bin/env bash
# Two window-less copies of Strandlink under PipeWire's JACK, linked over loopback:
# a PipeWire of the test's own (its own runtime directory, no session bus), each
# copy one client with exactly the ports NAME:in and NAME:out, and every kind of
# short MIDI message played into A's input coming out of B's output byte for byte
# and in order, in steady timing (stamped datagrams, each message placed at its
# frame on PipeWire's clock).
#
# Usage: pipewire_link.sh STRANDLINK E2E_DRIVER
# Exits 77 (skipped) where PipeWire is missing or cannot start; fails then under CI=true.
set -uo pipefail
strandlink=$(realpath "$1")
driver=$(realpath "$2")

# A missing real part skips here and fails under CI=true.
source "$(dirname "${BASH_SOURCE[0]}")/../support/children.sh"
for tool in pipewire pw-jack jack_lsp; do
  command -v "$tool" >/dev/null || missing "$tool is not installed (scripts/setup.sh installs it)"
done

work=$(mktemp -d "${TMPDIR:-/tmp}/strandlink-pw.XXXXXX")
fail() {
  echo "FAIL: $*"
  for f in "$work"/*.out "$work"/*.err "$work"/*.log; do
    [ -e "$f" ] && echo "=== ${f##*/}" && tail -n 20 "$f"
  done
  exit 1
}

# Remembered choices go to the test's own directory, never the user's.
export XDG_RUNTIME_DIR=$work/run JACK_DEFAULT_SERVER=default XDG_CONFIG_HOME=$work/config
unset DBUS_SESSION_BUS_ADDRESS PIPEWIRE_REMOTE
mkdir -m 700 "$XDG_RUNTIME_DIR"
pipewire >"$work/pipewire.log" 2>&1 </dev/null &
pids+=($!)
for _ in $(seq 50); do pw-jack jack_lsp >/dev/null 2>&1 && break || sleep 0.1; done
pw-jack jack_lsp >/dev/null 2>&1 || missing "PipeWire does not start here: $(tail -n 3 "$work/pipewire.log")"

echo "--- two copies under PipeWire's JACK; both print \"Connected\""
port=$((20000 + (RANDOM % 10000) * 2))
for side in A B; do
  if [ $side = A ]; then local_port=$port remote_port=$((port + 2)); else local_port=$((port + 2)) remote_port=$port; fi
  printf '"REMOTEIP:","127.0.0.1"\r\n"REMOTEPORT:","%s"\r\n"LOCALIP:","127.0.0.1"\r\n"LOCALPORT:","%s"\r\n"MIDIOUT:",0\r\n"MIDIIN:",0\r\n"PRIORITY:",#TRUE#\r\n' \
    "$remote_port" "$local_port" >"$work/$side.stn"
  pw-jack "$strandlink" --headless --settings "$work/$side.stn" --name "Pw$side" --timing steady \
    >"$work/$side.out" 2>"$work/$side.err" </dev/null &
  pids+=($!)
done
for side in A B; do wait_line "$work/$side.out" Connected 20 || fail "copy $side never printed \"Connected\""; done

echo "--- one client per copy, with the ports in and out"
for side in A B; do
  ports=$(pw-jack jack_lsp | grep "^Pw$side" | sort | tr '\n' ' ')
  [ "$ports" = "Pw$side:in Pw$side:out " ] || fail "copy $side has the ports: $ports"
done

echo "--- every kind of short message from A's input to B's output"
count=1700
# Strandlink keeps PipeWire from turning a note-on of velocity 0 into a note-off
# on its own input; the test's synth is told the same.
export PIPEWIRE_PROPS='{ jack.fix-midi-events = false }'
pw-jack "$driver" record --port '^PwB:out$' --count $count --deadline-ms 30000 >"$work/record.out" 2>&1 </dev/null &
record=$!
wait_line "$work/record.out" ready 15 || fail "the synth could not connect to PwB:out"
pw-jack "$driver" play --port '^PwA:in$' --count $count --rate 1000 >"$work/play.out" 2>&1 </dev/null ||
  fail "the keyboard could not play: $(cat "$work/play.out")"
wait "$record" || fail "MIDI did not arrive intact: $(cat "$work/record.out")"
cat "$work/record.out"
for side in A B; do [ -s "$work/$side.err" ] && fail "copy $side reported: $(cat "$work/$side.err")"; done
echo "PASS: two copies linked under PipeWire's JACK"
