// A short, seeded fuzz run of the RTP-MIDI decoders: random datagrams and broken
// copies of good ones. Each input sits in a heap block of exactly its size, so that
// AddressSanitizer (scripts/asan.sh) catches a read one octet past the end. The long
// run is scripts/fuzz_rtp.sh.
#include <gtest/gtest.h>

#include <memory>
#include <random>

#include "fuzz/rtp_decode_all.h"
#include "protocol/rtp/journal_sender.h"
#include "protocol/rtp/packet_encoder.h"

using namespace strandlink::protocol::rtp;
using Bytes = std::vector<std::uint8_t>;

namespace {

std::vector<Bytes> seeds() {
  PacketEncoder encoder(1, 2, 64);
  Bytes sysEx(150, 0x11);
  sysEx.front() = 0xF0, sysEx.back() = 0xF7;
  const TimedEvent events[] = {{0, strandlink::midi::MidiEvent::fromBytes(Bytes{0x90, 60, 100})},
                               {300, strandlink::midi::MidiEvent::fromBytes(sysEx)}};
  std::vector<Bytes> out = encoder.encode(0, events);
  // Packets with a journal of every chapter this side writes, system ones included.
  JournalSender sender;
  sender.peerSendsJournals();
  const Bytes phrase[] = {{0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7}, {0xF0, 0x7F, 0x7F, 0x04, 0x01, 0, 9, 0xF7}, {0xF3, 1},
                          {0xF6}, {0xFE}, {0xFA}, {0xF8}, {0xF0, 0x7F, 0x7F, 0x01, 0x01, 1, 2, 3, 4, 0xF7},
                          {0x90, 60, 100}, {0xB0, 64, 127}, {0xC1, 5}, {0xE2, 1, 2}, {0xD3, 4}, {0xA4, 60, 9},
                          {0xB5, 99, 1}, {0xB5, 98, 2}, {0xB5, 6, 3}, {0xB5, 38, 4}, {0x80, 60, 0}};
  for (std::uint16_t i = 0; i < std::size(phrase); ++i) {
    const TimedEvent one[] = {{0, strandlink::midi::MidiEvent::fromBytes(phrase[i])}};
    Bytes packet = PacketEncoder(1, i).encode(0, one).front();
    if (sender.attach(packet, 0) && std::size_t(i) + 1 == std::size(phrase)) out.push_back(packet);
  }
  out.push_back(encodeSessionPacket(Exchange{ExchangeCommand::Invitation, 2, 1, 2, "name"}));
  out.push_back(encodeSessionPacket(ClockSync{1, 0, {1, 2, 3}}));
  // A packet with a journal (J set, a system journal and one channel journal).
  out.push_back({0x80, 0x61, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1, 0x43, 0x90, 60, 100,
                 0x60, 0, 0, 0x00, 0x03, 0x01, 0x00, 0x04, 0x00, 0x00});
  return out;
}

Bytes mutate(Bytes bytes, std::mt19937& random) {
  const int edits = 1 + int(random() % 4);
  for (int i = 0; i < edits && !bytes.empty(); ++i) {
    const std::size_t at = random() % bytes.size();
    switch (random() % 4) {
      case 0: bytes[at] = std::uint8_t(random()); break;
      case 1: bytes[at] ^= std::uint8_t(1u << (random() % 8)); break;
      case 2: bytes.resize(at); break;
      default: bytes.insert(bytes.begin() + std::ptrdiff_t(at), std::uint8_t(random())); break;
    }
  }
  return bytes;
}

}  // namespace

TEST(RtpFuzz, RandomAndMutatedDatagramsNeitherCrashNorReadPastTheEnd) {
  std::mt19937 random(20261206);
  const auto good = seeds();
  SysExAssembler assembler(4096);
  for (int i = 0; i < 200000; ++i) {
    Bytes input;
    if (i % 4 == 0) {
      input.resize(random() % 48);
      for (auto& b : input) b = std::uint8_t(random());
      if (input.size() > 1 && i % 8 == 0) input[0] = 0x80;  // past the version check
    } else {
      input = mutate(good[random() % good.size()], random);
    }
    const auto exact = std::make_unique<std::uint8_t[]>(input.size());
    std::copy(input.begin(), input.end(), exact.get());
    fuzz::decodeAll({exact.get(), input.size()}, assembler);
  }
  SUCCEED();
}
