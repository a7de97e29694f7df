#include "net/endpoints.h"

#include <cmath>

#include "net/addresses.h"
#include "net/chat.h"
#include "net/midi_datagrams.h"
#include "net/socket_service.h"
#include "net/wsksock.h"
#include "session/session.h"

namespace strandlink::net {

namespace {

// The port of a box: rounded half to even, as a fraction from a settings file
// would be. The validation before Start has kept it within 1..65534.
std::uint16_t portOf(const QString& text, int offset) {
  double value = 0;
  parsePortValue(text, value);
  return static_cast<std::uint16_t>(std::nearbyint(value + offset));
}

sockaddr_in addressOf(const QString& ip, const QString& port, int offset) {
  return makeAddress(inetAddr(ip.toStdString()), portOf(port, offset));
}

void report(Session& s, const char* context) {
  const int error = WSAGetLastError();
  s.state.LastSocketError = error;
  ReportNetworkError(s, error, QString::fromLatin1(context));
}

// Ends the program after the socket service is cleaned up; returns only in tests.
void shutDown(Session& s) {
  s.state.LastApiResult = WSACleanup();
  s.fatalExit();
}

}  // namespace

bool OpenUdpEndpoints(Session& s) {
  bool failed = false;
  auto& st = s.state;
  const QString remoteIp = s.view.text(TextControl::txtIPAddress);
  const QString remotePort = s.view.text(TextControl::txtRemotePort);
  const QString localIp = s.view.text(TextControl::txtIPLocal);
  const QString localPort = s.view.text(TextControl::txtPortLocal);

  const int midiFd = createUdpSocket();
  st.hSocketMidiData.store(midiFd, std::memory_order_release);
  if (midiFd == -1) {
    report(s, "Tried to get hSocketMidiData:  ");
    s.reporter.boxes().show(BoxIcon::None, kAppTitle, QStringLiteral(" Cannot create socket.....exit program"));
    shutDown(s);
    return true;
  }
  st.MidiRemoteAddr.store(addressOf(remoteIp, remotePort, 0));
  st.MidiLocalAddr = addressOf(localIp, localPort, 0);
  // Read notifications are armed with the socket; a QSocketNotifier cannot fail
  // on a valid descriptor, so the design's "asynch mode" failure has no path here.
  s.midiNotifier = std::make_unique<ReadNotifier>(midiFd, [&s] { txtReceiveWindow_MouseUp(s); });
  st.LastApiResult = bindSocket(midiFd, st.MidiLocalAddr);
  if (st.LastApiResult == -1) {
    report(s, "Tried to bind MIDI socket:  ");
    failed = true;
  }

  const int chatFd = createUdpSocket();
  st.hSocketChatData.store(chatFd, std::memory_order_release);
  if (chatFd == -1) {
    report(s, "Tried to get hSocketChatData:  ");
    CloseUdpEndpoints(s);
    shutDown(s);
    return true;
  }
  st.ChatRemoteAddr = addressOf(remoteIp, remotePort, 1);
  st.ChatLocalAddr = addressOf(localIp, localPort, 1);
  s.chatNotifier = std::make_unique<ReadNotifier>(chatFd, [&s] { txtReceiveWindowChat_MouseUp(s); });
  st.LastApiResult = bindSocket(chatFd, st.ChatLocalAddr);
  if (st.LastApiResult == -1) {
    report(s, "Tried to bind Chat socket:  ");
    failed = true;
  }

  // A socket left bound would make every later Start on this port fail.
  if (failed) CloseUdpEndpoints(s);
  return failed;
}

void CloseUdpEndpoints(Session& s) {
  s.midiNotifier.reset();
  s.chatNotifier.reset();
  for (auto* handle : {&s.state.hSocketMidiData, &s.state.hSocketChatData}) {
    const int fd = handle->exchange(-1, std::memory_order_acq_rel);
    if (fd > 0) closeSocket(fd);
  }
}

}  // namespace strandlink::net
