#!/usr/bin/env bash
# Builds the core tests with AddressSanitizer (and its leak checker) and runs them
# against a private JACK server: a port, socket or buffer used after the link let
# go of it shows here.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ -z "${STRANDLINK_PRIVATE_SHM:-}" ]; then bash scripts/setup.sh; fi
build_dir=${STRANDLINK_ASAN_BUILD_DIR:-build-asan}
cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=Debug -DSTRANDLINK_SANITIZE:STRING=address >/dev/null
cmake --build "$build_dir" --parallel "$(nproc)"
source scripts/jack.sh
run_in_private_shm scripts/asan.sh "$@"
trap stop_private_jack EXIT
start_private_jack "strandlink-asan-$$"
# libjack keeps a few allocations for the life of the process.
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1" LSAN_OPTIONS="suppressions=$PWD/tests/sanitizers/lsan.supp"
cd "$build_dir"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure --timeout 900 -E 'install|e2e|package' "$@"
