# Sourced: start_private_jack NAME starts a JACK server with the dummy driver under
# its own server name (so another server is never touched) and exports
# JACK_DEFAULT_SERVER; stop_private_jack stops it again.
#
# Realtime and synchronous mode: without them the dummy driver drops MIDI events
# under load on a small machine.
#
# run_in_private_shm SCRIPT ARGS... runs SCRIPT again in a /dev/shm of its own
# (as root, where mount namespaces are allowed) and does not return; elsewhere it
# returns at once. JACK registers every server under /dev/shm in a table of eight
# slots, and a server that dies without stopping keeps its slot for good, so
# stale servers of earlier runs or other programs would otherwise refuse ours
# ("Too many servers already active"). What a run leaves there goes with it.

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

run_in_private_shm() {
  if [ -n "${STRANDLINK_PRIVATE_SHM:-}" ] || [ "$(id -u)" != 0 ] \
     || ! unshare --mount --propagation private true 2>/dev/null; then
    return 0
  fi
  export STRANDLINK_PRIVATE_SHM=1
  exec unshare --mount --propagation private bash -c '
    mount -t tmpfs -o mode=1777 strandlink-shm /dev/shm \
      || echo "note: no private /dev/shm; the tests share the system'"'"'s" >&2
    exec bash "$@"' bash "$@"
}

stop_private_jack() {
  if [ -n "${STRANDLINK_JACK_PID:-}" ]; then
    kill "$STRANDLINK_JACK_PID" 2>/dev/null || true
    wait "$STRANDLINK_JACK_PID" 2>/dev/null || true
    STRANDLINK_JACK_PID=
  fi
}
