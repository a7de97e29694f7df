#!/usr/bin/env bash
# Fuzzes the Network MIDI 2.0 decoders (datagrams and their commands, a host's and
# a client's sessions, UMP to MIDI 1.0) with libFuzzer under AddressSanitizer for
# a set time: scripts/fuzz_midi2.sh [SECONDS, default 60] [extra libFuzzer flags].
# Needs clang with libFuzzer and libsodium-dev, as scripts/fuzz_rtp.sh does clang.
# A crash leaves its input as build-fuzz/crash-*; replay it with
#   build-fuzz/midi2_fuzz build-fuzz/crash-...
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
cxx=${CXX_FUZZ:-clang++}
command -v "$cxx" >/dev/null || { echo "fuzz_midi2: $cxx not found (apt-get install clang)" >&2; exit 1; }
out=build-fuzz/midi2
mkdir -p "$out/corpus"
"$cxx" -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -fno-omit-frame-pointer -Isrc \
  src/protocol/midi2/{authentication,command_codec,session,session_admission,session_authentication,session_data,session_slots,ump_convert}.cpp \
  src/midi/midi_event.cpp src/midi/short_message.cpp tests/fuzz/midi2_fuzz_target.cpp -lsodium -o "$out/midi2_fuzz"
# Seeds, each datagram after its length: an invitation, then UMP Data with a note
# and a SysEx start; a retransmit request; a ping.
printf '\x00\x14MIDI\x01\x03\x02\x00guest\x00\x00\x00g1\x00\x00\x00\x14MIDI\xff\x03\x00\x00\x20\x90\x3c\x64\x30\x16\x01\x02\x03\x04\x05\x06' \
  >"$out/corpus/invitation-and-data"
printf '\x00\x0cMIDI\x80\x01\x00\x00\x00\x02\x00\x00' >"$out/corpus/retransmit"
printf '\x00\x0cMIDI\x20\x01\x00\x00\x12\x34\x56\x78' >"$out/corpus/ping"
cd "$out"
exec ./midi2_fuzz -max_total_time="$seconds" -max_len=4096 -print_final_stats=1 "$@" corpus
