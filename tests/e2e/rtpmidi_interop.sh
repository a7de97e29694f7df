#!/usr/bin/env bash
# Runs the interoperation test against the npm package rtpmidi (1.0.0), installed
# once into a cache directory ($STRANDLINK_NPM_CACHE, else ~/.cache/strandlink-npm)
# through npm. Offline, a cache that holds it will do; where node, npm or the
# package cannot be had: skipped (exit 77), but under CI=true a failure, with one
# line saying what was missing.
#
# Usage: rtpmidi_interop.sh RTPMIDI_INTEROP_TEST
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../support/real_part.sh"

[ $# -eq 1 ] || { echo "usage: $0 RTPMIDI_INTEROP_TEST" >&2; exit 2; }
command -v node >/dev/null || missing "node (scripts/setup.sh installs nodejs)"
command -v npm >/dev/null || missing "npm (scripts/setup.sh installs it)"

cache=${STRANDLINK_NPM_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/strandlink-npm}
package=$cache/node_modules/rtpmidi
if [ ! -f "$package/package.json" ] || ! grep -q '"version": "1.0.0"' "$package/package.json"; then
  mkdir -p "$cache"
  if ! (cd "$cache" && timeout 120 npm install --no-audit --no-fund --no-save rtpmidi@1.0.0 >"$cache/install.log" 2>&1); then
    missing "the npm package rtpmidi 1.0.0 (npm could not install it: $(tail -n 1 "$cache/install.log"))"
  fi
fi

RTPMIDI_NODE_PATH=$cache/node_modules exec "$1"
