#include "net/chat.h"

#include <array>

#include "net/connection_check.h"
#include "net/peer_filter.h"
#include "net/socket_service.h"
#include "net/wsksock.h"
#include "session/session.h"

namespace strandlink::net {

namespace {

constexpr int kChatReadLength = 2000;

}  // namespace

QByteArray toLatin1Bytes(const QString& line) {
  QByteArray bytes;
  const auto codePoints = line.toUcs4();
  bytes.reserve(codePoints.size());
  for (char32_t c : codePoints) bytes.append(c <= 0xFF ? static_cast<char>(c) : '?');
  return bytes;
}

bool txtSend_KeyPress(Session& s, int keyAscii) {
  if (keyAscii != 13) return false;
  const QString line = s.view.text(TextControl::txtSend);
  s.view.appendText(TextControl::txtReceive, QStringLiteral("\r\nLOCAL:") + line);
  s.view.setCaret(TextControl::txtReceive, s.view.textLength(TextControl::txtReceive) - 1);

  const int fd = s.state.hSocketChatData.load();
  if (fd <= 0) {
    // Without a session there is no socket to send from; say so where the line shows.
    s.view.appendText(TextControl::txtReceive, QStringLiteral("\r\n(not sent: no session is running)"));
    s.view.setCaret(TextControl::txtReceive, s.view.textLength(TextControl::txtReceive));
  } else {
    const QByteArray bytes = toLatin1Bytes(line);
    const int result = sendTo(fd, bytes.constData(), int(bytes.size()), s.state.ChatRemoteAddr);
    s.state.LastApiResult = result;
    if (result == -1) {
      s.state.LastSocketError = WSAGetLastError();
      ReportNetworkError(s, s.state.LastSocketError, QStringLiteral("Tried to send chat message:  "),
                         Reporter::Flood::Throttle);
    }
  }
  s.view.setText(TextControl::txtSend, QString());
  return true;
}

void txtReceiveWindowChat_MouseUp(Session& s) {
  std::array<char, 2048> buffer{};
  const int fd = s.state.hSocketChatData.load();
  if (fd <= 0) return;
  const int n = recvFrom(fd, buffer.data(), kChatReadLength, s.state.RecvFromAddr);
  if (n >= 1 && !AcceptFromSender(s)) return;
  if (n == 1) {
    HandleControlByte(s, static_cast<std::uint8_t>(buffer[0]));
    return;
  }
  // Empty and failed reads (a line longer than the read length among them) are dropped.
  if (n < 1) return;
  s.view.appendText(TextControl::txtReceive, QStringLiteral("\r\nREMOTE") + QString::fromLatin1(buffer.data(), n));
  s.view.setCaret(TextControl::txtReceive, s.view.textLength(TextControl::txtReceive));
  if (s.view.checked(CheckControl::chkPopUp)) s.view.restoreAndRaise();
}

}  // namespace strandlink::net
