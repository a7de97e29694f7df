// One end of an RTP-MIDI link for the tests: the real protocol on loopback, with
// a sink that records what reaches the link and shows problems as the link does,
// its own reporter and peer filter.
#pragma once

#include <QStringList>

#include <optional>
#include <vector>

#include "link/notice_text.h"
#include "link/problem_text.h"
#include "protocol/admission.h"
#include "protocol/peer_filter.h"
#include "protocol/rtp/rtp_protocol.h"
#include "report/reporter.h"
#include "support/recording_boxes.h"

namespace strandlink::test {

struct Received {
  std::vector<std::uint8_t> bytes;
  std::optional<std::uint32_t> stamp;
  std::size_t source = 0;
};

class RecordingPeerSink : public protocol::PeerSink {
 public:
  explicit RecordingPeerSink(report::Reporter& r) : reporter(r) {}
  void peerEvent(midi::MidiEventView e, std::optional<std::uint32_t> stamp, std::int64_t, std::size_t source) override {
    events.push_back({{e.bytes().begin(), e.bytes().end()}, stamp, source});
  }
  // What a participant that left took with it, as the link would release it.
  void peerMemberGone(const midi::HeldSet& sounding) override {
    sounding.release([&](const midi::ShortMessage& m) { released.emplace_back(m.wireBytes().begin(), m.wireBytes().end()); });
  }
  void peerStatus(protocol::LinkStatus s) override { status = s; }
  void peerChatLine(const QString&) override {}
  void peerNotice(const protocol::PeerNotice& n) override { notices << link::noticeLine(n); }
  void peerProblem(const protocol::PeerProblem& p) override {
    if (const QString line = link::reportProblem(reporter, p); !line.isEmpty()) notices << line;
  }
  void peerFiguresChanged() override {}

  report::Reporter& reporter;
  std::vector<Received> events;
  std::vector<std::vector<std::uint8_t>> released;
  protocol::LinkStatus status = protocol::LinkStatus::NotConnected;
  QStringList notices;
};

// One end: a protocol with its own sink, reporter and filter.
struct End {
  explicit End(int localPort, QString sessionName = {}) : port(localPort), name(std::move(sessionName)) {}
  // Invites remotePort, and each of morePorts too.
  bool start(std::optional<int> remotePort, const std::vector<int>& morePorts = {}) {
    protocol::PeerStart s;
    for (const int more : morePorts) s.moreRemotes.push_back({QStringLiteral("127.0.0.1"), QString::number(more)});
    s.settings.localHost = QStringLiteral("127.0.0.1");
    s.settings.localPort = QString::number(port);
    if (remotePort) {
      s.settings.remoteHost = QStringLiteral("127.0.0.1");
      s.settings.remotePort = QString::number(*remotePort);
    }
    s.name = name.isEmpty() ? QStringLiteral("end %1").arg(port) : name;
    return rtp.start(s).running();
  }
  bool connected() const { return sink.status == protocol::LinkStatus::Connected; }

  int port;
  QString name;
  RecordingBoxes boxes;
  report::Reporter reporter{boxes};
  RecordingPeerSink sink{reporter};
  protocol::PeerFilter filter;
  protocol::Admission admission;
  protocol::rtp::RtpProtocol rtp{{sink, filter, admission}};
};

}  // namespace strandlink::test
