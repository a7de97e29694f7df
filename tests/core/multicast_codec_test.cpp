// The multicast wire against golden bytes: each message as its exact bytes, a long
// SysEx in 1,024-byte pieces, and the receiving side reading each sender's
// datagrams as a stream of its own.
#include <arpa/inet.h>

#include <gtest/gtest.h>

#include <vector>

#include "midi/midi_event.h"
#include "protocol/multicast/group_receiver.h"
#include "protocol/multicast/multicast_codec.h"
#include "support/sysex_bytes.h"

using strandlink::midi::MidiEvent;
using strandlink::test::sysExOf;
using namespace strandlink::protocol::multicast;
using Bytes = std::vector<std::uint8_t>;

namespace {

std::vector<Bytes> datagramsOf(const Bytes& message) {
  std::vector<Bytes> out;
  const bool sent = forEachDatagram(MidiEvent::fromBytes(message),
                                    [&](std::span<const std::uint8_t> d) { out.emplace_back(d.begin(), d.end()); });
  EXPECT_EQ(sent, !out.empty());
  return out;
}

sockaddr_in sender(const char* address, std::uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  inet_pton(AF_INET, address, &a.sin_addr);
  return a;
}

}  // namespace

TEST(MulticastCodec, ALongSysExGoesInConsecutive1024BytePieces) {
  EXPECT_EQ(datagramsOf(sysExOf(1024)).size(), 1u);
  const Bytes big = sysExOf(2500);
  const auto pieces = datagramsOf(big);
  ASSERT_EQ(pieces.size(), 3u);
  EXPECT_EQ(pieces[0], Bytes(big.begin(), big.begin() + 1024));
  EXPECT_EQ(pieces[1], Bytes(big.begin() + 1024, big.begin() + 2048));
  EXPECT_EQ(pieces[2], Bytes(big.begin() + 2048, big.end()));
  const auto last = datagramsOf(sysExOf(1025)).back();
  EXPECT_EQ(last, Bytes{0xF7});
  EXPECT_EQ(datagramCount(1025), 2u);
  EXPECT_EQ(datagramCount(2500), 3u);
}

// Past its bound the receiver forgets the sender heard least recently; that
// sender's unfinished SysEx is counted, never finished with another's bytes.
TEST(MulticastCodec, TheReceiverForgetsTheQuietestSenderWhenFull) {
  GroupReceiver receiver(2);
  int delivered = 0;
  const auto count = [&](std::span<const std::uint8_t>) { ++delivered; };
  receiver.receive(sender("10.0.0.1", 1), Bytes{0xF0, 0x01}, 1, count);
  receiver.receive(sender("10.0.0.2", 1), Bytes{0xF8}, 2, count);
  receiver.receive(sender("10.0.0.3", 1), Bytes{0xF8}, 3, count);  // takes 10.0.0.1's place
  receiver.receive(sender("10.0.0.1", 1), Bytes{0x02, 0xF7}, 4, count);  // no SysEx open: stray
  EXPECT_EQ(delivered, 2);
  EXPECT_EQ(receiver.senders().size(), 2u);
  EXPECT_EQ(receiver.totals().cutShort, 1u);
  EXPECT_EQ(receiver.totals().strayDataBytes, 1u);
  EXPECT_EQ(receiver.totals().strayEnds, 1u);
  EXPECT_EQ(receiver.totals().messages, 2u);
}

// A stray byte now and then makes no member, nor keeps one: only a whole message.
TEST(MulticastCodec, OnlyAWholeMessageCountsASenderHeard) {
  GroupReceiver receiver;
  const auto none = [](std::span<const std::uint8_t>) {};
  receiver.receive(sender("10.0.0.1", 1), Bytes{0xF7}, 10, none);
  receiver.receive(sender("10.0.0.2", 1), Bytes{0xF8}, 10, none);
  EXPECT_EQ(receiver.sendersHeardSince(0), 1u);
  receiver.receive(sender("10.0.0.2", 1), Bytes{0xF7}, 20, none);
  EXPECT_EQ(receiver.sendersHeardSince(15), 0u);
}
