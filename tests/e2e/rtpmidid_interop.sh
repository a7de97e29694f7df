#!/usr/bin/env bash
# Runs the interoperation test against rtpmidid's peer library (third_party/
# rtpmidid-peer), whose small program it builds once into OUTPUT_DIR. That program
# binds every address, so the test runs in a network namespace of its own with only
# loopback up. Where g++, libfmt-dev or the rights to make a namespace are missing:
# skipped (exit 77), but under CI=true a failure, with one line saying what.
#
# Usage: rtpmidid_interop.sh RTPMIDID_INTEROP_TEST OUTPUT_DIR
set -uo pipefail
here=$(dirname "${BASH_SOURCE[0]}")
source "$here/../support/real_part.sh"

[ $# -eq 2 ] || { echo "usage: $0 RTPMIDID_INTEROP_TEST OUTPUT_DIR" >&2; exit 2; }
command -v g++ >/dev/null || missing "g++ (scripts/setup.sh installs build-essential)"
[ -e /usr/include/fmt/format.h ] || missing "libfmt-dev (scripts/setup.sh installs it)"
command -v unshare >/dev/null && command -v ip >/dev/null || missing "unshare and ip"
namespace=-n
unshare -n true 2>/dev/null || namespace=-rn
unshare $namespace true 2>/dev/null || missing "the rights to make a network namespace"

if ! sh "$here/../../third_party/rtpmidid-peer/build.sh" "$2" >"$2.log" 2>&1; then
  echo "FAIL: rtpmidid's peer did not build:"
  tail -n 20 "$2.log"
  exit 1
fi
RTPM_PEER=$2/rtpm_peer exec unshare $namespace -- sh -c 'ip link set lo up && exec "$0"' "$1"
