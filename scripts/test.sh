#!/usr/bin/env bash
# Sets up, builds and runs every test against a private JACK server, which is
# stopped again however the tests end.
set -euo pipefail
cd "$(dirname "$0")/.."
if [ -z "${STRANDLINK_PRIVATE_SHM:-}" ]; then
  bash scripts/setup.sh
  bash scripts/build.sh
fi
source scripts/jack.sh
run_in_private_shm scripts/test.sh "$@"
trap stop_private_jack EXIT
start_private_jack "strandlink-test-$$"
cd "${STRANDLINK_BUILD_DIR:-build}"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure --timeout 600 "$@"
