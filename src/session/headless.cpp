#include "session/headless.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>

#include <csignal>

#include "midi/devices.h"
#include "midi/held_notes.h"
#include "net/chat.h"
#include "session/session.h"
#include "session/session_control.h"
#include "session/startup.h"
#include "settings/preferences.h"
#include "settings/settings_file.h"

namespace strandlink {

namespace {

void printLine(std::FILE* f, const QString& line) {
  std::fputs(line.toLocal8Bit().constData(), f);
  std::fputc('\n', f);
  std::fflush(f);
}

// The signal handler only writes the signal number to a pipe; the event loop reads it.
int signalPipe[2] = {-1, -1};

void onSignal(int sig) {
  const char c = static_cast<char>(sig);
  [[maybe_unused]] auto n = ::write(signalPipe[1], &c, 1);
}

void installSignalPipe() {
  if (signalPipe[0] < 0 && ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0) return;
  struct sigaction sa {};
  sa.sa_handler = onSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGUSR1, &sa, nullptr);
  std::signal(SIGPIPE, SIG_IGN);
}

// Standard input as chat: every complete line is sent; the end of input is not a stop.
class ChatInput {
 public:
  explicit ChatInput(Session& s) : s_(s), notifier_(STDIN_FILENO, QSocketNotifier::Read) {
    QObject::connect(&notifier_, &QSocketNotifier::activated, [this] { readSome(); });
  }

 private:
  void readSome() {
    char chunk[4096];
    const ssize_t n = ::read(STDIN_FILENO, chunk, sizeof chunk);
    if (n <= 0) {
      notifier_.setEnabled(false);
      return;
    }
    pending_.append(chunk, n);
    qsizetype end;
    while ((end = pending_.indexOf('\n')) >= 0) {
      QByteArray line = pending_.left(end);
      pending_.remove(0, end + 1);
      if (line.endsWith('\r')) line.chop(1);
      s_.view.setText(TextControl::txtSend, QString::fromLocal8Bit(line));
      net::txtSend_KeyPress(s_, 13);
    }
  }

  Session& s_;
  QSocketNotifier notifier_;
  QByteArray pending_;
};

}  // namespace

void HeadlessView::setText(TextControl c, const QString& text) {
  if (c == TextControl::lblConnectStatus && text != FieldView::text(c)) printLine(out_, text);
  FieldView::setText(c, text);
}

void HeadlessView::appendText(TextControl c, const QString& text) {
  static const QString remote = QStringLiteral("\r\nREMOTE");
  if (c == TextControl::txtReceive && text.startsWith(remote)) printLine(out_, text.mid(2));
  // The history is not shown anywhere here; keeping it would only grow.
  if (c != TextControl::txtReceive) FieldView::appendText(c, text);
}

void HeadlessView::setLinkQuality(const QString& text) {
  FieldView::setLinkQuality(text);
  if (text.isEmpty() || text == printedLink_) return;
  if (sinceLinkLine_.isValid() && sinceLinkLine_.elapsed() < kLinkLineMs) return;
  printLine(out_, text);
  printedLink_ = text;
  sinceLinkLine_.start();
}

int StreamBoxes::show(BoxIcon, const QString& title, const QString& text) {
  printLine(err_, title + QStringLiteral(": ") + text);
  return 1;
}

int runHeadless(midi::MidiService& midi, const QString& settingsFile, std::optional<bool> peerFilter) {
  SessionState state;
  HeadlessView view(stdout);
  StreamBoxes boxes(stderr);
  Session s(state, view, boxes, midi);

  // A named file is loaded after start-up, as File > Open would, so its local
  // address stands; without one the default file is read as at any start.
  Form_Load(s, {}, settingsFile.isEmpty());
  if (!settingsFile.isEmpty()) settings::LoadSettings(s, settingsFile);
  if (peerFilter) settings::savePeerFilter(*peerFilter);
  s.peerFilter = peerFilter.value_or(settings::loadPeerFilter());
  if (!cmdStart_Click(s)) {
    Form_Unload(s, settingsFile.isEmpty());
    return 1;
  }

  installSignalPipe();
  QSocketNotifier signalNotifier(signalPipe[0], QSocketNotifier::Read);
  QObject::connect(&signalNotifier, &QSocketNotifier::activated, [&s] {
    char c = 0;
    if (::read(signalPipe[0], &c, 1) != 1) return;
    // SIGUSR1 is the panic button of a run without a window.
    if (c == SIGUSR1) {
      midi::ReleaseHeldNotes(s);
      return;
    }
    QCoreApplication::quit();
  });
  ChatInput chat(s);
  QCoreApplication::exec();

  StopSession(s);
  Form_Unload(s, settingsFile.isEmpty());
  return 0;
}

void printDeviceLists(midi::MidiService& midi, std::FILE* out) {
  const auto inputs = midi.inputNames();
  const auto outputs = midi.outputNames();
  printLine(out, QStringLiteral("MIDI inputs:"));
  for (std::size_t k = 0; k < inputs.size(); ++k) {
    printLine(out, QStringLiteral("%1 %2").arg(k).arg(midi::DeviceName(inputs, std::int64_t(k))));
  }
  printLine(out, QStringLiteral("MIDI outputs:"));
  for (std::size_t k = 0; k < outputs.size(); ++k) {
    printLine(out, QStringLiteral("%1 %2").arg(k).arg(midi::DeviceName(outputs, std::int64_t(k))));
  }
}

}  // namespace strandlink
