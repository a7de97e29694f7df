#include "session/startup.h"

#include <arpa/inet.h>

#include <array>

#include "midi/devices.h"
#include "net/addresses.h"
#include "net/socket_service.h"
#include "net/wsksock.h"
#include "session/priority.h"
#include "session/session.h"
#include "settings/settings_file.h"

namespace strandlink {

void Form_Load(Session& s, const std::function<void()>& showWindow, bool loadDefaultSettings) {
  bool shown = false;
  auto show = [&] {
    if (!shown && showWindow) showWindow();
    shown = true;
  };
  SetProcessPriority(s, kHighPriorityClass);
  midi::ListMidiDevices(s, show);
  // Without an output device the window appears only once start-up is done.
  if (loadDefaultSettings) settings::LoadSettings(s, QString());
  const int started = net::WSAStartup();
  s.state.LastApiResult = started;
  if (started != 0) net::ReportNetworkError(s, started, QStringLiteral("Tried to initialize socket:  "));
  ShowLocalAddress(s);
  show();
}

void ShowLocalAddress(Session& s) {
  std::array<char, 100> name{};
  const int result = net::getHostName(name.data(), int(name.size()));
  s.state.LastApiResult = result;
  if (result == -1) {
    s.state.LastSocketError = net::WSAGetLastError();
    net::ReportNetworkError(s, s.state.LastSocketError, QStringLiteral("Tried to get LocalHostName:  "));
  }
  name.back() = '\0';
  const std::uint32_t address = net::ResolveHostAddress(QString::fromLatin1(name.data()));
  s.view.setText(TextControl::txtIPLocal, formatAddress(address));
}

QString formatAddress(std::uint32_t addressNetworkOrder) {
  const std::uint32_t a = ntohl(addressNetworkOrder);
  return QStringLiteral("%1.%2.%3.%4").arg(a >> 24).arg((a >> 16) & 0xFF).arg((a >> 8) & 0xFF).arg(a & 0xFF);
}

}  // namespace strandlink
