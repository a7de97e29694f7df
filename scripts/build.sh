#!/usr/bin/env bash
# Configures and builds Strandlink into build/ (or $STRANDLINK_BUILD_DIR).
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${STRANDLINK_BUILD_DIR:-build}
cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE:-RelWithDebInfo} "$@" >/dev/null
cmake --build "$build_dir" --parallel "$(nproc)"
