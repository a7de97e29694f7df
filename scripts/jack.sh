# Sourced: start_private_jack NAME starts a JACK server with the dummy driver under
# its own server name (so another server is never touched) and exports
# JACK_DEFAULT_SERVER; stop_private_jack stops it again.
#
# Realtime and synchronous mode: without them the dummy driver drops MIDI events
# under load on a small machine.

start_private_jack() {
  local name=$1
  export JACK_DEFAULT_SERVER=$name
  export JACK_NO_AUDIO_RESERVATION=1
  jackd -n "$name" -R -S -d dummy -r 48000 -p "${STRANDLINK_JACK_PERIOD:-128}" \
    >"${TMPDIR:-/tmp}/jackd-$name.log" 2>&1 &
  STRANDLINK_JACK_PID=$!
  # Wait until the server answers (jack_wait -c checks without starting one).
  for _ in $(seq 1 50); do
    if jack_wait -c -s "$name" 2>/dev/null | grep -qx 'running'; then return 0; fi
    if ! kill -0 "$STRANDLINK_JACK_PID" 2>/dev/null; then break; fi
    sleep 0.1
  done
  echo "could not start the JACK server '$name'; its log:" >&2
  cat "${TMPDIR:-/tmp}/jackd-$name.log" >&2
  return 1
}

stop_private_jack() {
  if [ -n "${STRANDLINK_JACK_PID:-}" ]; then
    kill "$STRANDLINK_JACK_PID" 2>/dev/null || true
    wait "$STRANDLINK_JACK_PID" 2>/dev/null || true
    STRANDLINK_JACK_PID=
  fi
}
