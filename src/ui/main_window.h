// The main window: the device lists, the addresses, Start and Stop, Panic, the
// chat, the statistics, the priority and the animation, over one link. It reads
// the user's choices from its controls when they are needed (Start, Save, exit)
// and shows what the link tells it: the status in colour, the activity lights,
// the link figures. Everything here runs on the window's thread.
#pragma once

#include <QColor>
#include <QElapsedTimer>
#include <QFont>
#include <QMainWindow>
#include <QPointer>
#include <QTimer>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "link/link.h"
#include "link/setting_overrides.h"
#include "settings/settings.h"
#include "ui/settings_dialogs.h"
#include "ui/status_line.h"

class QAction;
class QCheckBox;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;

namespace strandlink::midi {
class MidiService;
}

namespace strandlink::ui {

class AboutWindow;
class ActivityLight;
class InfoWindow;
class LatencyPlot;
class LineShapes;
class ProtocolFields;
class InviterBar;
class InviteList;
class SessionFinder;
class QtMessageBoxes;
class ReportBanner;
class SessionReports;
class Shell;
class WrapCheckBox;
class WrapPushButton;

// The window's fonts are the desktop's sans-serif family at the layout's sizes;
// 8 pt where the layout names none, less when the family is too wide for that.
inline constexpr double kDefaultPointSize = 8.0;
inline constexpr double kSmallestDefaultPointSize = 7.0;

// The chat box's first text: a prompt, not the start of a line.
inline constexpr char kChatPrompt[] = "Type message here and hit Enter!";
// The history keeps this many lines, the oldest going first, so that a chatty or
// hostile peer cannot fill the memory.
inline constexpr int kChatHistoryLines = 3000;

class MainWindow : public QMainWindow {
  Q_OBJECT
 public:
  // boxes: where reports go; null means modal boxes over this window.
  explicit MainWindow(midi::MidiService& midi, report::MessageBoxes* boxes = nullptr, QWidget* parent = nullptr);
  ~MainWindow() override;

  link::Link& link() { return link_; }
  void setFileDialogs(std::unique_ptr<FileDialogs> dialogs) { fileDialogs_ = std::move(dialogs); }
  // What ending the program does after Exit has closed the window (tests record it).
  void setQuitProgram(std::function<void()> quit) { quitProgram_ = std::move(quit); }
  // How the program ends when the system will not make a socket: at once, with
  // status 1, after its boxes (tests replace it).
  void setFatalExit(std::function<void()> fatalExit) { fatalExit_ = std::move(fatalExit); }
  // What opens the help document and the web page (tests record it).
  void setShell(std::shared_ptr<Shell> shell);
  // The settings file read at start-up and written at exit (default: the usual one).
  void setDefaultSettingsPath(const QString& path) { defaultSettingsPath_ = path; }
  // The open information window and about box, null when none is open.
  InfoWindow* infoWindow() const;
  AboutWindow* aboutWindow() const;

  // Start-up: priority, devices (the window shows itself once the first output is
  // listed), the default settings file, the local address.
  void startUp();
  // Reads a settings file into the controls, as File > Open does.
  void loadSettings(const QString& path);
  // The command line's values into the controls, after start-up and its file: empty,
  // or the line that names a value that fits no device (the window then closes
  // without writing the default file).
  QString applyCommandLine(const link::SettingOverrides& overrides);
  // Ticks or clears Midi Thru as a click does: refused with the warning when the
  // two chosen devices would feed back.
  void chooseThru(bool on);
  // For a link to a multicast group: how many routers its datagrams cross (--ttl).
  void setGroupTtl(int ttl) { groupTtl_ = ttl; }
  // Who may invite this side: the command line's rule (remembered), and inviters
  // let in besides strandlink.conf's. Without a rule, the remembered one, or asking.
  void setAdmission(std::optional<settings::Admission> rule, const QStringList& allowed);
  // The classic link's shared key (--key-file); empty: none.
  void setSharedKey(std::vector<std::uint8_t> key) { sharedKey_ = std::move(key); }
  // The seven values as the controls hold them now.
  settings::Settings currentSettings() const;
  // Releases what the peer left sounding and says for two seconds how many notes
  // that were (the Panic button; SIGUSR1).
  void panic();
  // A line the user should see but need not answer, in the chat history.
  void showNotice(const QString& line);
  // Each session is published on the network under this name (empty: the host name).
  void publishAs(const QString& name);
  // The remote is the session published under this name, looked up at each Start
  // until the user types another remote.
  void setRemoteSession(const QString& name);
  // Further peers an RTP-MIDI Start invites beside the remote (--remote again).
  void inviteAlso(const std::vector<protocol::RemoteText>& remotes);

  // The caption: the program and version, blanks, and the notice; 121 characters.
  static QString caption();

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // main_window_layout.cpp
  void buildControls();
  void buildTopLevel(QWidget* client);
  void buildMidiPorts(QWidget* client);
  void buildNet(QWidget* client);
  void buildChat(QWidget* client);
  void buildPriority(QWidget* client);
  void buildStatistics(QWidget* client);
  void buildAnimation(QWidget* client);
  void buildMenus();
  void applyTabOrder();
  template <class W>
  W* place(QWidget* parent, const char* name, QRect geometry, double points = 0, bool bold = false);

  // main_window.cpp
  void wireControls();
  void wireLink();
  void showCentred();
  void fillDeviceLists();
  void refreshDeviceLists(const link::DeviceLists& before);
  void applySettings(const settings::SettingsChanges& changes);
  void start();
  void stopOrExit();
  void exitProgram();
  void closeDown();
  void choosePriority(bool high);
  void toggleThru();
  void showThru(bool on);
  void restoreWindowOptions();
  void sendChatLine();
  void sayChatLineCut();
  void showChatLine(const QString& line);
  void showRunning(bool running);
  void lockNetworkBoxes(bool locked);
  void openSettings();
  void saveSettings();
  // main_window_help.cpp
  void openGuide();
  void openInfo();
  void openWebsite();
  void openAbout();
  // main_window_stage.cpp
  void buildStageControls(QWidget* client);
  void toggleStatistics();
  void showCounts(link::Counts counts);
  void buildTimingChoice(QWidget* client);
  void showTimingChoice(settings::Timing timing, int delayMs);
  void enableTimingChoice(bool running);
  void buildProtocolChoice(QWidget* client);
  void showProtocolChoice(settings::Protocol protocol);
  settings::Protocol chosenProtocol() const;
  link::SessionOptions sessionOptions() const;
  QString remoteSessionGiven() const;
  std::vector<protocol::RemoteText> moreRemotesGiven() const;
  void showProtocolFields();
  void showStartLine();
  void showChatAvailability();
  void showDeviceMove(const link::DeviceMove& move);
  // main_window_status.cpp
  report::MessageBoxes& sessionBoxes(report::MessageBoxes* given);
  void buildSessionView(QWidget* client);
  void showStatus();
  void sayReturns(link::Missing now);
  void showSessionView(bool running);
  // main_window_discovery.cpp
  void buildSessionFinder(QWidget* frame);
  void wireSessionFinder();
  void wireInviteList();
  void restoreInviteList();
  void takeInviteList(const std::vector<protocol::RemoteText>& remotes);
  void showRemote(const QString& address, quint16 port);  // a pick from Find
  void fillRemote(const QString& address, quint16 port);
  // main_window_events.cpp
  bool filterKey(QObject* watched, QKeyEvent* key);
  void stackAnimationFrames();
  void nextAnimationFrame();
  void pointerOverAnimation(QPointF position);
  void hideHint();

  std::unique_ptr<QtMessageBoxes> ownBoxes_;
  std::unique_ptr<SessionReports> reports_;  // before the link, which reports through it
  link::Link link_;
  std::unique_ptr<FileDialogs> fileDialogs_;
  std::function<void()> quitProgram_;
  std::function<void()> fatalExit_ = [] { std::exit(1); };
  std::shared_ptr<Shell> shell_;
  QString defaultSettingsPath_;
  // Top-level windows of their own, not children: they outlive a closed main window.
  QPointer<InfoWindow> info_;
  QPointer<AboutWindow> about_;
  bool closedDown_ = false;
  QElapsedTimer exitShownAt_;       // when Stop last became Exit
  bool chatPromptCleared_ = false;  // the prompt goes at the chat box's first focus
  bool chatCutSaid_ = false;        // the line in the chat box was cut, and the history says so
  link::Counts lastCounts_;
  int groupTtl_ = 1;
  QStringList allowedGiven_;
  std::vector<std::uint8_t> sharedKey_;
  InviterBar* inviterBar_ = nullptr;
  struct {
    int input = -1;
    int output = -1;
  } unlisted_;  // the settings' device positions while the lists are empty
  double defaultPoints_ = kDefaultPointSize;
  int nextFrame_ = 0;  // the animation picture to show next
  // The full names of the input and output chosen before a refresh of the lists
  // (empty: none, or our own port).
  std::array<std::string, 2> wantedDevices_;
  QFont statusFont_;            // the status line's own font, before any shrinking
  link::Missing shownMissing_;  // what the status line last said was missing
  bool publish_ = false;        // publish each session (publishAs())
  QString sessionName_;         // under this name; empty: the host name
  std::vector<protocol::RemoteText> moreRemotes_;
  QString remoteSession_;  // the remote by session name, until the user types one

  QWidget* client_ = nullptr;
  QPushButton* startButton_ = nullptr;
  QPushButton* stopButton_ = nullptr;
  WrapPushButton* minimizeButton_ = nullptr;
  QCheckBox* thruBox_ = nullptr;
  WrapCheckBox* popUpBox_ = nullptr;
  QLineEdit* hintBox_ = nullptr;
  QFrame* portsFrame_ = nullptr;
  QFrame* networkFrame_ = nullptr;
  QGroupBox* chatFrame_ = nullptr;
  QGroupBox* priorityFrame_ = nullptr;
  QGroupBox* statisticsFrame_ = nullptr;
  QFrame* animationFrame_ = nullptr;
  QComboBox* inputList_ = nullptr;
  QComboBox* outputList_ = nullptr;
  QLineEdit* localAddressBox_ = nullptr;
  QLineEdit* localPortBox_ = nullptr;
  QLineEdit* remoteAddressBox_ = nullptr;
  QLineEdit* remotePortBox_ = nullptr;
  QPushButton* findButton_ = nullptr;
  SessionFinder* finder_ = nullptr;
  QPushButton* inviteButton_ = nullptr;
  InviteList* inviteList_ = nullptr;
  QLabel* statusLabel_ = nullptr;
  QLineEdit* chatInput_ = nullptr;
  QPlainTextEdit* chatHistory_ = nullptr;
  QRadioButton* realtimeOption_ = nullptr;
  QRadioButton* highOption_ = nullptr;
  QCheckBox* statsBox_ = nullptr;
  QLineEdit* sentCount_ = nullptr;
  QLineEdit* receivedCount_ = nullptr;
  QPushButton* panicButton_ = nullptr;
  QLabel* panicNote_ = nullptr;  // what the last Panic released, for two seconds
  QTimer* panicNoteTimer_ = nullptr;
  ActivityLight* inputLight_ = nullptr;
  ActivityLight* outputLight_ = nullptr;
  QLabel* figuresLabel_ = nullptr;
  LatencyPlot* plot_ = nullptr;
  QTimer* plotTimer_ = nullptr;
  ReportBanner* banner_ = nullptr;
  QCheckBox* peerOnlyBox_ = nullptr;
  QComboBox* protocolBox_ = nullptr;
  std::unique_ptr<ProtocolFields> fields_;
  QLabel* startLine_ = nullptr;  // what Start will do, while stopped
  QComboBox* timingBox_ = nullptr;
  QSpinBox* delayBox_ = nullptr;
  std::array<QLabel*, 8> pictures_{};
  LineShapes* portsLines_ = nullptr;
  LineShapes* networkLines_ = nullptr;

  QMenu* fileMenu_ = nullptr;
  QMenu* helpMenu_ = nullptr;
  QAction* openAction_ = nullptr;
  QAction* saveAction_ = nullptr;
  QAction* exitAction_ = nullptr;
  QAction* readmeAction_ = nullptr;
  QAction* infoAction_ = nullptr;
  QAction* websiteAction_ = nullptr;
  QAction* aboutAction_ = nullptr;

  QTimer* animationTimer_ = nullptr;
  QTimer* hintTimer_ = nullptr;
};

}  // namespace strandlink::ui
