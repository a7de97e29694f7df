#!/usr/bin/env bash
# Sets up, builds and runs every test against a private JACK server, which is
# stopped again however the tests end.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh
source scripts/jack.sh
trap stop_private_jack EXIT
start_private_jack "strandlink-test-$$"
cd "${STRANDLINK_BUILD_DIR:-build}"
QT_QPA_PLATFORM=offscreen ctest --output-on-failure --timeout 600 "$@"
