// Apple's session packets (IN, OK, NO, BY, CK, RS) against bytes written out by
// hand from their layout, both ways, and every way a datagram can fall short.
#include <gtest/gtest.h>

#include "protocol/rtp/session_packet.h"

using namespace strandlink::protocol::rtp;
using Bytes = std::vector<std::uint8_t>;

namespace {

const Bytes kInvitation{0xFF, 0xFF, 'I', 'N', 0, 0, 0, 2, 1, 2, 3, 4, 0x0A, 0x0B, 0x0C, 0x0D, 'a', 'b', 0};
const Bytes kEnd{0xFF, 0xFF, 'B', 'Y', 0, 0, 0, 2, 1, 2, 3, 4, 0x0A, 0x0B, 0x0C, 0x0D};
const Bytes kSync{0xFF, 0xFF, 'C', 'K', 0x0A, 0x0B, 0x0C, 0x0D, 1, 0, 0, 0,  // count 1
                  0, 0, 0, 0, 0, 0, 0, 5, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0, 0, 0, 0, 0, 0, 0, 0};
const Bytes kFeedback{0xFF, 0xFF, 'R', 'S', 0x0A, 0x0B, 0x0C, 0x0D, 0x12, 0x34, 0, 0};

SessionPacket decoded(const Bytes& bytes) {
  SessionPacket packet;
  EXPECT_EQ(decodeSessionPacket(bytes, packet), DecodeError::None);
  return packet;
}

}  // namespace

TEST(RtpSessionPacket, EachKindBothWays) {
  const Exchange invitation{ExchangeCommand::Invitation, 2, 0x01020304, 0x0A0B0C0D, "ab"};
  const Exchange end{ExchangeCommand::End, 2, 0x01020304, 0x0A0B0C0D, ""};
  const ClockSync sync{0x0A0B0C0D, 1, {5, 0x0102030405060708, 0}};
  const ReceiverFeedback feedback{0x0A0B0C0D, 0x1234};
  const std::pair<SessionPacket, Bytes> golden[] = {
      {invitation, kInvitation}, {end, kEnd}, {sync, kSync}, {feedback, kFeedback}};
  for (const auto& [packet, bytes] : golden) {
    EXPECT_EQ(encodeSessionPacket(packet), bytes);
    EXPECT_EQ(decoded(bytes), packet);
    EXPECT_TRUE(isSessionPacket(bytes));
  }
  // Feedback with the number in the low half (rtpmidid's layout).
  EXPECT_EQ(decoded(Bytes{0xFF, 0xFF, 'R', 'S', 0x0A, 0x0B, 0x0C, 0x0D, 0, 0, 0x12, 0x34}), SessionPacket(feedback));
  // OK and NO share the layout; a name may be left out; bytes after its NUL are ignored.
  Bytes accept = kInvitation;
  accept[2] = 'O', accept[3] = 'K';
  EXPECT_EQ(std::get<Exchange>(decoded(accept)).command, ExchangeCommand::Accept);
  Bytes reject(kInvitation.begin(), kInvitation.begin() + 16);
  reject[2] = 'N', reject[3] = 'O';
  EXPECT_EQ(decoded(reject), SessionPacket(Exchange{ExchangeCommand::Reject, 2, 0x01020304, 0x0A0B0C0D, ""}));
  Bytes trailing = kInvitation;
  trailing.push_back('x');
  EXPECT_EQ(std::get<Exchange>(decoded(trailing)).name, "ab");
  EXPECT_FALSE(isSessionPacket(Bytes{0x80, 0x61, 0xFF}));
}

TEST(RtpSessionPacket, ShortWrongAndUnterminatedPacketsGiveTheirError) {
  // Every cut of every kind: too short, or a name without its NUL.
  for (const Bytes& whole : {kInvitation, kEnd, kSync, kFeedback}) {
    for (std::size_t size = 0; size < whole.size(); ++size) {
      const Bytes cut(whole.begin(), whole.begin() + std::ptrdiff_t(size));
      SessionPacket packet;
      const DecodeError error = decodeSessionPacket(cut, packet);
      if (whole == kInvitation && size == 16) continue;  // a name left out
      const bool inName = whole == kInvitation && size > 16;
      EXPECT_EQ(error, inName ? DecodeError::NameUnterminated : DecodeError::Truncated) << size;
    }
  }
  Bytes signature = kInvitation, command = kInvitation, count = kSync;
  signature[1] = 0xFE;
  command[2] = 'X';
  count[8] = 3;
  SessionPacket packet;
  EXPECT_EQ(decodeSessionPacket(signature, packet), DecodeError::BadSignature);
  EXPECT_EQ(decodeSessionPacket(command, packet), DecodeError::UnknownCommand);
  EXPECT_EQ(decodeSessionPacket(count, packet), DecodeError::BadSyncCount);
}
