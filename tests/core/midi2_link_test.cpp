// Two Network MIDI 2.0 protocols on real loopback sockets, a host and its client,
// each with its own recording sink: the session, MIDI both ways byte-exact, the
// end of the session when one stops.
#include <gtest/gtest.h>

#include <memory>

#include "protocol/midi2/midi2_protocol.h"
#include "support/rtp_end.h"
#include "support/side.h"
#include "support/sysex_bytes.h"

namespace strandlink::test {
namespace {

struct Midi2End {
  explicit Midi2End(int localPort) : port(localPort) {}
  bool start(std::optional<int> hostPort) {
    protocol::PeerStart s;
    s.settings.localHost = QStringLiteral("127.0.0.1");
    s.settings.localPort = QString::number(port);
    if (hostPort) {
      s.settings.remoteHost = QStringLiteral("127.0.0.1");
      s.settings.remotePort = QString::number(*hostPort);
    }
    s.name = QStringLiteral("end %1").arg(port);
    return midi2.start(s).running();
  }
  bool connected() const { return sink.status == protocol::LinkStatus::Connected; }

  int port;
  RecordingBoxes boxes;
  report::Reporter reporter{boxes};
  RecordingPeerSink sink{reporter};
  protocol::PeerFilter filter;
  protocol::midi2::Midi2Protocol midi2{{sink, filter}};
};

}  // namespace

TEST(Midi2Link, HostAndClientCarryEveryKindBothWaysAndEndTogether) {
  Midi2End host(freePortPair()), guest(freePortPair());
  ASSERT_TRUE(host.start(std::nullopt));
  ASSERT_TRUE(guest.start(host.port));
  ASSERT_TRUE(waitFor([&] { return host.connected() && guest.connected(); }, 5000));
  const std::vector<std::vector<std::uint8_t>> messages = {
      {0x90, 60, 100}, {0x80, 60, 0}, {0xB3, 7, 127}, {0xC9, 5}, {0xD2, 9},  {0xA1, 60, 3}, {0xE0, 0x00, 0x40},
      {0xF8},          {0xF2, 1, 2},  {0xF1, 0x23}, sysExOf(5), sysExOf(midi::kMaxMessageBytes), {0xFE}};
  for (const auto& m : messages) ASSERT_EQ(guest.midi2.send(midi::MidiEventView(m), 0), protocol::SendResult::Sent);
  ASSERT_TRUE(waitFor([&] { return host.sink.events.size() >= messages.size(); }));
  ASSERT_EQ(host.sink.events.size(), messages.size());
  for (std::size_t i = 0; i < messages.size(); ++i) EXPECT_EQ(host.sink.events[i].bytes, messages[i]) << i;
  // And back, from the host to its client.
  ASSERT_EQ(host.midi2.send(midi::MidiEventView(messages[10]), 0), protocol::SendResult::Sent);
  ASSERT_TRUE(waitFor([&] { return !guest.sink.events.empty(); }));
  EXPECT_EQ(guest.sink.events[0].bytes, messages[10]);
  EXPECT_EQ(host.midi2.session()->counters().lost, 0u);
  guest.midi2.stop();
  ASSERT_TRUE(waitFor([&] { return !host.connected(); }, 5000));
}

}  // namespace strandlink::test
