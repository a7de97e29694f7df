#!/usr/bin/env bash
# Builds the core tests with ThreadSanitizer and runs them against a private JACK
# server: the MIDI thread and the window's thread share state only through atomics
# and hand-offs, and this shows it.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ -z "${STRANDLINK_PRIVATE_SHM:-}" ]; then bash scripts/setup.sh; fi
build_dir=${STRANDLINK_TSAN_BUILD_DIR:-build-tsan}
cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=Debug -DSTRANDLINK_SANITIZE=thread >/dev/null
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
export TSAN_OPTIONS="suppressions=$PWD/tests/sanitizers/tsan.supp halt_on_error=1 die_after_fork=0"
cd "$build_dir"
# The core tests only: the window tests add nothing of ours between threads, and
# Qt, built without ThreadSanitizer, reports its own thread pool's work there.
QT_QPA_PLATFORM=offscreen ctest --output-on-failure --timeout 900 -L core "$@"
