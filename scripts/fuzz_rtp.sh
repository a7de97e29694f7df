#!/usr/bin/env bash
# Fuzzes the RTP-MIDI decoders (session packets, RTP packets with their command
# section and journal, the SysEx assembler) with libFuzzer under AddressSanitizer
# for a set time: scripts/fuzz_rtp.sh [SECONDS, default 60] [extra libFuzzer flags].
# Needs clang with libFuzzer (Debian: apt-get install clang); the test suite does not.
# A crash leaves its input as build-fuzz/crash-*; replay it with
#   build-fuzz/rtp_fuzz build-fuzz/crash-...
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
cxx=${CXX_FUZZ:-clang++}
if ! command -v "$cxx" >/dev/null; then
  echo "fuzz_rtp: $cxx not found (apt-get install clang)" >&2
  exit 1
fi
out=build-fuzz
mkdir -p "$out/corpus"
# The codec's files only: the session's state machine is no decoder (and uses C++20
# that older clang cannot build), and the sockets' side needs Qt.
codec=$(ls src/protocol/rtp/*.cpp | grep -v -e '/session\.cpp' -e '/session_sync\.cpp' -e '/clock_sync\.cpp' \
  -e '/packet_sender\.cpp' -e '/rtp_protocol\.cpp' -e '/start_check\.cpp')
"$cxx" -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -fno-omit-frame-pointer \
  -Isrc -Itests $codec src/midi/midi_event.cpp src/midi/short_message.cpp \
  tests/fuzz/rtp_fuzz_target.cpp -o "$out/rtp_fuzz"
# Seeds: an invitation, a clock sync, packets with a journal (empty chapters, a note
# log with off bits, every system chapter), SysEx segments; each after its length.
printf '\x13\xff\xffIN\x00\x00\x00\x02\x01\x02\x03\x04\x0a\x0b\x0c\x0d\x61\x62\x00' >"$out/corpus/invitation"
printf '\x24\xff\xffCK\x00\x00\x00\x01\x01\x00\x00\x00%024d' 0 >"$out/corpus/sync"
printf '\x1a\x80\x61\x00\x01\x00\x00\x00\x00\x00\x00\x00\x01\x43\x90\x3c\x64\x60\x00\x00\x00\x03\x01\x00\x04\x00\x00' \
  >"$out/corpus/journal"
printf '\x1c\x80\x61\x00\x02\x00\x00\x00\x00\x00\x00\x00\x01\x43\x90\x3c\x64\xa0\x00\x07\xc8\x09\x08\x81\x78\xbc\xe4\x02\x80' \
  >"$out/corpus/journal-notes"
printf '\x23\x80\x61\x00\x03\x00\x00\x00\x00\x00\x00\x00\x01\x43\x90\x3c\x64\x40\x00\x01\x7c\x10\x90\x84\x82\xc0\xc7\x00\x00\x00\x01\xa1\x01\xab\x02\x85' \
  >"$out/corpus/journal-system"
printf '\x13\x80\x61\x00\x01\x00\x00\x00\x00\x00\x00\x00\x01\x06\xf0\x01\x02\xf0\x00\xf8\x0f\x80\x61\x00\x02\x00\x00\x00\x00\x00\x00\x00\x01\x02\xf7\xf7' \
  >"$out/corpus/segments"
cd "$out"
exec ./rtp_fuzz -max_total_time="$seconds" -max_len=4096 -print_final_stats=1 "$@" corpus
