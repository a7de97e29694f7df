#!/usr/bin/env bash
# Runs the interoperation test against pymidi2 (/work/shared/peers/pymidi2, or
# $STRANDLINK_PEERS), Debian's Python and its zeroconf and typing-extensions
# packages; where one is missing: skipped (exit 77), but under CI=true a failure.
#
# Usage: pymidi2_interop.sh PYMIDI2_INTEROP_TEST
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/../support/real_part.sh"

[ $# -eq 1 ] || { echo "usage: $0 PYMIDI2_INTEROP_TEST" >&2; exit 2; }
peers=${STRANDLINK_PEERS:-/work/shared/peers}
[ -f "$peers/pymidi2/transport.py" ] || missing "pymidi2 in $peers (set STRANDLINK_PEERS)"
/usr/bin/python3 -c 'import zeroconf, typing_extensions' 2>/dev/null ||
  missing "python3-zeroconf and python3-typing-extensions (scripts/setup.sh installs them)"

PYTHONPATH=$peers exec "$1"
