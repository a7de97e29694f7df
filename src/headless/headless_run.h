// The link without a window: the same start-up as the window's, then Start at
// once. Status changes and received chat lines go to standard output, every
// report to standard error, and lines read from standard input are sent as chat.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "headless/line_output.h"
#include "link/link.h"
#include "link/setting_overrides.h"
#include "report/message_boxes.h"
#include "settings/settings.h"

namespace strandlink::midi {
class MidiService;
}

namespace strandlink::headless {

class ChatInput;

// Every box as one line, "title: text".
class StreamBoxes : public report::MessageBoxes {
 public:
  explicit StreamBoxes(LineOutput& err) : err_(err) {}
  int show(report::BoxIcon icon, const QString& title, const QString& text) override;

 private:
  LineOutput& err_;
};

struct HeadlessOptions {
  QString settingsFile{};              // empty: the default file, which is written at the end
  std::optional<bool> peerFilter{};    // this run's choice (remembered); otherwise the remembered one
  bool chatFromInput = true;           // lines of standard input are sent as chat
  QString defaultSettingsFile{};       // empty: the usual default file
  link::SettingOverrides overrides{};  // the command line's values, over the file's
  bool thru = false;                   // the input played on our own output too
  int ttl = 1;                         // for a group: how many routers its datagrams cross
  bool publish = false;                // publish the session on the network while it runs
  QString sessionName{};               // the name it is published under; empty: the host name
  QString remoteSession{};             // the peer's published session, in place of the remote address
  std::vector<protocol::RemoteText> moreRemotes{};  // further peers to invite (RTP-MIDI: --remote again)
  std::optional<settings::Admission> admission{};  // this run's rule (remembered); otherwise the remembered one
  QStringList allowed{};                           // inviters let in besides strandlink.conf's
  QString keyFile{};                   // the classic link's shared key (settings/key_file.h); empty: none
  // Network MIDI 2.0's authentication, the files read at prepare(); empty: none.
  QString user{};
  QString passwordFile{};
  QString secretFile{};
  QString usersFile{};
};

class HeadlessRun : public QObject {
  Q_OBJECT
 public:
  HeadlessRun(midi::MidiService& midi, HeadlessOptions options, std::FILE* out = stdout, std::FILE* err = stderr);
  ~HeadlessRun() override;

  // Start-up, then the command line's values over the file's: empty, or the one
  // line that names a value that fits no device (nothing is written at the end then).
  QString prepare();
  // Start-up unless prepare() ran, and Start; false when the link did not start.
  bool start();
  // Writes the settings as prepare() left them to path, in place of a session;
  // false after the report of a failure. The default file is not written.
  bool saveSettings(const QString& path);
  // Stop, and the end of the program: the default settings file is written when
  // no file of its own was given, and what is left to print is printed (for a
  // moment at most).
  void finish();

  // One line on standard error, after whatever is queued there.
  void printError(const QString& line) { err_.write(line); }

  link::Link& link() { return link_; }
  // Releases what sounds on our output and what we left sounding on the peer, and
  // says how much (SIGUSR1).
  void panic();
  const settings::Settings& settings() const { return settings_; }

  // The link figures are printed only when they changed, at most once in this time.
  static constexpr qint64 kFiguresLineMs = 10000;

 private:
  void startUp();
  void applyChanges(const settings::SettingsChanges& changes);
  QString readAuthentication();
  settings::Admission admission();
  void printLine(const QString& line) { out_.write(line); }
  void showStatus();
  void showFigures(const QString& text);

  HeadlessOptions options_;
  // Before the link, which reports through them until it is gone.
  LineOutput out_;
  LineOutput err_;
  StreamBoxes boxes_;
  link::Link link_;
  settings::Settings settings_;
  std::vector<std::uint8_t> key_;  // read by prepare()
  QString secret_;                  // a shared secret, or the user's password
  std::map<std::string, std::string> users_;
  std::unique_ptr<ChatInput> chat_;
  QString printedFigures_;
  QString printedStatus_;
  QElapsedTimer sinceFiguresLine_;
  bool prepared_ = false;
  bool finished_ = false;
  bool writeDefaultFile_ = false;
};

// The numbered input and output lists as the window fills them.
void printDeviceLists(midi::MidiService& midi, std::FILE* out);

}  // namespace strandlink::headless
