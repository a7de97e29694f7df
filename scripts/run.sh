#!/usr/bin/env bash
# Sets up, builds and starts Strandlink.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "Strandlink opens a window and needs a graphical display, but neither DISPLAY nor" >&2
  echo "WAYLAND_DISPLAY is set. Run it from a desktop session, or with ssh -X." >&2
  exit 1
fi
exec "${STRANDLINK_BUILD_DIR:-build}/strandlink" "$@"
