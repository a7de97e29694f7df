#include "net/connection_check.h"

#include "midi/held_notes.h"
#include "net/socket_service.h"
#include "net/wsksock.h"
#include "session/session.h"

namespace strandlink::net {

namespace {

// Probe and reply both leave from the MIDI socket for the peer's chat port.
void sendControl(Session& s, std::uint8_t byte, const char* context) {
  const int result = sendTo(s.state.hSocketMidiData.load(), &byte, 1, s.state.ChatRemoteAddr);
  s.state.LastApiResult = result;
  if (result == -1) {
    s.state.LastSocketError = WSAGetLastError();
    ReportNetworkError(s, s.state.LastSocketError, QString::fromLatin1(context), Reporter::Flood::Throttle);
  }
}

}  // namespace

void tmrCeckConnection_Timer(Session& s) {
  if (s.state.ReadyToProbe) {
    s.state.ReadyToProbe = false;
    sendControl(s, kConnectionCheck, "Tried to send Connection_Check:  ");
    s.link.probeSent(LinkQuality::Clock::now());
  } else {
    // Only the fall releases: "Not Connected" is set anew on every unanswered tick.
    static const QString connected = QStringLiteral("Connected");
    if (s.view.text(TextControl::lblConnectStatus) == connected) midi::ReleaseHeldNotes(s);
    s.view.setText(TextControl::lblConnectStatus, QStringLiteral("Not Connected"));
    s.state.ReadyToProbe = true;
    s.link.tickUnanswered(LinkQuality::Clock::now());
  }
  ShowLinkQuality(s);
}

void HandleControlByte(Session& s, std::uint8_t byte) {
  if (byte == kConnectionCheck) {
    // The reply goes to the configured peer, not to where the probe came from.
    sendControl(s, kConnectionCheckReply, "Tried to send Connection_Check_Reply:  ");
  } else if (byte == kConnectionCheckReply) {
    s.link.replyArrived(LinkQuality::Clock::now());
    s.state.ReadyToProbe = true;
    s.view.setText(TextControl::lblConnectStatus, QStringLiteral("Connected"));
    ShowLinkQuality(s);
  }
}

void ShowLinkQuality(Session& s) {
  s.view.setLinkQuality(formatLinkQuality(s.link.figures(LinkQuality::Clock::now()), s.rejectedDatagrams));
}

}  // namespace strandlink::net
