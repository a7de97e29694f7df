#!/usr/bin/env bash
# Builds the core tests with ThreadSanitizer and runs them against a private JACK
# server: the MIDI thread and the window's thread share state only through atomics
# and hand-offs, and this shows it.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ -z "${STRANDLINK_PRIVATE_SHM:-}" ]; then bash scripts/setup.sh; fi
build_dir=${STRANDLINK_TSAN_BUILD_DIR:-build-tsan}
cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=Debug -DSTRANDLINK_SANITIZE:STRING=thread >/dev/null
cmake --build "$build_dir" --parallel "$(nproc)"
source scripts/jack.sh
run_in_private_shm scripts/tsan.sh "$@"
trap stop_private_jack EXIT
# Long periods: instrumented clients run several times slower, and one that misses
# its cycle loses the MIDI of that cycle, which is the machine's limit and no race.
export STRANDLINK_JACK_PERIOD=${STRANDLINK_JACK_PERIOD:-1024}
start_private_jack "strandlink-tsan-$$"
# die_after_fork=0: QProcess starts the program with vfork semantics (CLONE_VM), so
# ThreadSanitizer's mark for a forked child lands in the test's own memory, and the
# test's next thread would then look like one started in a child after fork.
# Every instrumented process, the tests and the programs they start, writes its
# reports to a file of its own here: a race in a started program fails the run
# even when the test that started it only sees the program end.
reports=$(mktemp -d)
export TSAN_OPTIONS="suppressions=$PWD/tests/sanitizers/tsan.supp halt_on_error=1 die_after_fork=0 log_path=$reports/report"
cd "$build_dir"
# The core tests only: the window tests add nothing of ours between threads, and
# Qt, built without ThreadSanitizer, reports its own thread pool's work there.
log=$(mktemp)
status=0
QT_QPA_PLATFORM=offscreen ctest --output-on-failure --timeout 900 -L core "$@" | tee "$log" || status=$?
# The verdict is about races, crashes and hangs. Instrumented code runs several
# times slower, and the real-time checks of the normal run (a message within a JACK
# cycle, an end within a bound) can then miss on a busy two-core machine: those
# are said, and judged by the normal run, which has already passed.
if compgen -G "$reports/report*" >/dev/null; then
  echo "ThreadSanitizer reported:" >&2
  cat "$reports"/report* >&2
  exit 1
fi
if grep -Eq '\*\*\*(Exception|Timeout)|Subprocess aborted' "$log"; then
  echo "a test crashed or hung under ThreadSanitizer (above)" >&2
  exit 1
fi
if [ "$status" != 0 ]; then
  echo "no race, crash or hang; instrumented, these missed a real-time check:" >&2
  grep -E '^\s+[0-9]+ - .*\(Failed\)' "$log" >&2 || true
fi
rm -rf "$reports" "$log"
