#include "ui/main_window.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QStyleHints>

#include "link/priority.h"
#include "link/protocol_choice.h"
#include "midi/midi_service.h"
#include "link/settings_files.h"
#include "link/visible_text.h"
#include "net/addresses.h"
#include "settings/preferences.h"
#include "ui/about_window.h"
#include "ui/activity_light.h"
#include "ui/app_icon.h"
#include "ui/chat_history.h"
#include "ui/field_validator.h"
#include "ui/info_window.h"
#include "ui/line_shapes.h"
#include "ui/qt_file_dialogs.h"
#include "ui/qt_message_boxes.h"
#include "ui/shell.h"
#include "ui/wrap_buttons.h"
#include "version.h"

namespace strandlink::ui {

namespace {

const QString kStopCaption = QStringLiteral("St&op");
const QString kExitCaption = QStringLiteral("&Exit");

link::MessageBoxes& boxesFor(link::MessageBoxes* given, std::unique_ptr<QtMessageBoxes>& own, QWidget* parent) {
  if (given != nullptr) return *given;
  own = std::make_unique<QtMessageBoxes>(parent);
  return *own;
}

// The selected line, or -1 when none is (typed text over the selection counts as none).
int selectedPosition(const QComboBox& list) {
  const int index = list.currentIndex();
  if (index >= 0 && list.currentText() != list.itemText(index)) return -1;
  return index;
}

void selectPosition(QComboBox& list, int position) {
  const QSignalBlocker block(&list);
  list.setCurrentIndex(position >= 0 && position < list.count() ? position : -1);
}

}  // namespace

MainWindow::MainWindow(midi::MidiService& midi, link::MessageBoxes* boxes, QWidget* parent)
    : QMainWindow(parent), link_(midi, boxesFor(boxes, ownBoxes_, this)) {
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowCloseButtonHint);
  setWindowTitle(caption());
  // The desktop matches our windows to the installed entry by this name (before any
  // window is shown); message boxes and dialogs take the application's icon.
  QGuiApplication::setDesktopFileName(QString::fromLatin1(kAppId));
  const QIcon icon = appIcon();
  QApplication::setWindowIcon(icon);
  setWindowIcon(icon);
  shell_ = makeDesktopShell();
  buildControls();
  // The client area is fixed, so the window is exactly menu bar plus client area.
  layout()->setSizeConstraint(QLayout::SetFixedSize);

  animationTimer_ = new QTimer(this);
  animationTimer_->setInterval(222);
  hintTimer_ = new QTimer(this);
  hintTimer_->setInterval(2000);
  fileDialogs_ = makeQtFileDialogs(this);
  quitProgram_ = [] {
    QApplication::closeAllWindows();
    QCoreApplication::quit();
  };
  wireControls();
  wireLink();
  animationTimer_->start();
  startButton_->setFocus();
}

// The help windows have no owner; whatever is still open ends with the program.
MainWindow::~MainWindow() {
  delete info_.data();
  delete about_.data();
}

void MainWindow::setShell(std::shared_ptr<Shell> shell) { shell_ = std::move(shell); }

InfoWindow* MainWindow::infoWindow() const { return info_ && !info_->isHidden() ? info_.data() : nullptr; }

AboutWindow* MainWindow::aboutWindow() const { return about_ && !about_->isHidden() ? about_.data() : nullptr; }

QString MainWindow::caption() {
  return QString::fromLatin1(kProgramTitle) + QString(76, QLatin1Char(' ')) +
         QStringLiteral("(c) 2026 the Strandlink authors");
}

void MainWindow::wireControls() {
  connect(startButton_, &QPushButton::clicked, this, &MainWindow::start);
  connect(stopButton_, &QPushButton::clicked, this, &MainWindow::stopOrExit);
  connect(minimizeButton_, &QPushButton::clicked, this, [this] { showMinimized(); });
  connect(panicButton_, &QPushButton::clicked, this, &MainWindow::panic);
  connect(peerOnlyBox_, &QCheckBox::clicked, this, [this](bool on) {
    link_.setPeerFilter(on);
    settings::savePeerFilter(on);
  });
  // clicked: only the user's choice runs a handler, never a setter.
  connect(highOption_, &QRadioButton::clicked, this, [this] { choosePriority(true); });
  connect(realtimeOption_, &QRadioButton::clicked, this, [this] { choosePriority(false); });
  connect(thruBox_, &QCheckBox::clicked, this, &MainWindow::toggleThru);
  connect(statsBox_, &QCheckBox::clicked, this, &MainWindow::toggleStatistics);
  connect(popUpBox_, &QCheckBox::clicked, this,
          [](bool on) { settings::saveWindowOption(settings::WindowOption::PopUpOnChat, on); });

  connect(openAction_, &QAction::triggered, this, &MainWindow::openSettings);
  connect(saveAction_, &QAction::triggered, this, &MainWindow::saveSettings);
  // The menu's Exit presses the button, so both do exactly the same.
  connect(exitAction_, &QAction::triggered, stopButton_, &QPushButton::click);
  connect(readmeAction_, &QAction::triggered, this, &MainWindow::openGuide);
  connect(infoAction_, &QAction::triggered, this, &MainWindow::openInfo);
  connect(websiteAction_, &QAction::triggered, this, &MainWindow::openWebsite);
  connect(aboutAction_, &QAction::triggered, this, &MainWindow::openAbout);

  connect(animationTimer_, &QTimer::timeout, this, &MainWindow::nextAnimationFrame);
  connect(hintTimer_, &QTimer::timeout, this, &MainWindow::hideHint);

  for (QObject* o : {static_cast<QObject*>(remoteAddressBox_), static_cast<QObject*>(localAddressBox_),
                     static_cast<QObject*>(remotePortBox_), static_cast<QObject*>(localPortBox_),
                     static_cast<QObject*>(chatInput_), static_cast<QObject*>(hintBox_)}) {
    o->installEventFilter(this);
  }
  for (QLabel* p : pictures_) p->installEventFilter(this);
}

void MainWindow::wireLink() {
  connect(&link_, &link::Link::runningChanged, this, &MainWindow::showRunning);
  connect(&link_, &link::Link::statusChanged, this, &MainWindow::showStatus);
  connect(&link_, &link::Link::chatLineReceived, this, &MainWindow::showChatLine);
  connect(chatInput_, &QLineEdit::inputRejected, this, &MainWindow::sayChatLineCut);
  connect(&link_, &link::Link::countsChanged, this, &MainWindow::showCounts);
  connect(&link_, &link::Link::figuresChanged, this, &MainWindow::showFigures);
  connect(&link_, &link::Link::deviceFollowed, this, &MainWindow::showDeviceMove);
  connect(&link_, &link::Link::devicesChanged, this, &MainWindow::refreshDeviceLists);
  connect(&link_, &link::Link::noticed, this, &MainWindow::showNotice);
  wireSessionFinder();
}

void MainWindow::showCentred() {
  if (isVisible()) return;
  adjustSize();
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - QPoint(width() / 2, height() / 2));
  }
  show();
}

void MainWindow::startUp() {
  stackAnimationFrames();
  link::setProcessPriority(link::Priority::High);
  link_.takeDeviceLists();
  fillDeviceLists();
  // Before the settings file: its devices are not its fault then.
  link_.reportNoMidiService();
  applySettings(
      link::loadSettingsFile(link_.reporter(), defaultSettingsPath_, link_.devices(), link::SettingsFileRole::Default));
  setTextUnfiltered(*localAddressBox_, link::localAddressText(link_.reporter()));
  // Without an output device the window appears only once start-up is done.
  showCentred();
  link::reportUnusablePreferences(link_.reporter());
  const bool peerOnly = settings::loadPeerFilter();
  peerOnlyBox_->setChecked(peerOnly);
  link_.setPeerFilter(peerOnly);
  showTimingChoice(settings::loadTiming(), settings::loadDelayMs());
  showProtocolChoice(link::rememberedProtocol());
  showChatAvailability();
  restoreWindowOptions();
  link_.followDeviceLists(true);
}

// The window shows itself as soon as the first output (our own port) is listed.
void MainWindow::fillDeviceLists() {
  const auto fill = [](QComboBox& list, const std::vector<std::string>& names, const std::function<void()>& first) {
    const QSignalBlocker block(&list);
    const QString shown = list.currentText();
    for (std::size_t k = 0; k < names.size(); ++k) {
      list.addItem(QString::fromStdString(midi::listedPortName(names[k])));
      if (k == 0 && first) first();
    }
    if (names.empty()) {
      list.setEditText(shown);
    } else {
      list.setCurrentIndex(0);
    }
  };
  fill(*outputList_, link_.devices().outputs, [this] { showCentred(); });
  fill(*inputList_, link_.devices().inputs, {});
}

// Ports came or went while stopped. Each list keeps its choice by name; a chosen
// device that went is wanted still, and chosen again as soon as it is back.
void MainWindow::refreshDeviceLists(const link::DeviceLists& before) {
  const auto refill = [](QComboBox& list, const std::vector<std::string>& was, const std::vector<std::string>& now,
                         std::string& wanted) {
    const int position = selectedPosition(list);
    if (position >= 0 && position < int(was.size()))
      wanted = position == 0 ? std::string() : was[std::size_t(position)];
    const QSignalBlocker block(&list);
    list.clear();
    for (const std::string& name : now) list.addItem(QString::fromStdString(midi::listedPortName(name)));
    int found = position == 0 && !now.empty() ? 0 : -1;
    for (std::size_t k = 1; k < now.size() && !wanted.empty(); ++k)
      if (now[k] == wanted) found = int(k);
    list.setCurrentIndex(found);
  };
  refill(*inputList_, before.inputs, link_.devices().inputs, wantedDevices_[0]);
  refill(*outputList_, before.outputs, link_.devices().outputs, wantedDevices_[1]);
}

void MainWindow::loadSettings(const QString& path) {
  applySettings(link::loadSettingsFile(link_.reporter(), path, link_.devices(), link::SettingsFileRole::Named));
}

QString MainWindow::applyCommandLine(const link::SettingOverrides& overrides) {
  const link::ResolvedOverrides resolved = link::resolveOverrides(overrides, link_.devices());
  if (resolved.error.isEmpty()) {
    applySettings(resolved.changes);
    // Remembered choices rather than settings: given, they are remembered.
    if (overrides.timing) settings::saveTiming(*overrides.timing);
    if (overrides.delayMs) settings::saveDelayMs(*overrides.delayMs);
    if (overrides.protocol) settings::saveProtocol(*overrides.protocol);
    showTimingChoice(settings::loadTiming(), settings::loadDelayMs());
    showProtocolChoice(link::rememberedProtocol());
    showChatAvailability();
  } else {
    closedDown_ = true;
    link_.shutDown();
  }
  return resolved.error;
}

void MainWindow::applySettings(const settings::SettingsChanges& c) {
  if (c.remoteHost) setTextUnfiltered(*remoteAddressBox_, *c.remoteHost);
  if (c.remotePort) setTextUnfiltered(*remotePortBox_, *c.remotePort);
  if (c.localHost) setTextUnfiltered(*localAddressBox_, *c.localHost);
  if (c.localPort) setTextUnfiltered(*localPortBox_, *c.localPort);
  if (c.outputPosition) selectPosition(*outputList_, *c.outputPosition);
  if (c.inputPosition) selectPosition(*inputList_, *c.inputPosition);
  // An empty list (no MIDI service runs) cannot show a device: its position is
  // kept for the files written, so a run without the service loses no choice.
  if (c.outputPosition && outputList_->count() == 0) unlisted_.output = *c.outputPosition;
  if (c.inputPosition && inputList_->count() == 0) unlisted_.input = *c.inputPosition;
  if (c.highPriority) {
    const bool wasHigh = highOption_->isChecked();
    const QSignalBlocker blockHigh(highOption_);
    const QSignalBlocker blockReal(realtimeOption_);
    (*c.highPriority ? highOption_ : realtimeOption_)->setChecked(true);
    link::applyPriorityChange(wasHigh, *c.highPriority);
  }
}

settings::Settings MainWindow::currentSettings() const {
  settings::Settings s;
  s.remoteHost = remoteAddressBox_->text();
  s.remotePort = remotePortBox_->text();
  s.localHost = localAddressBox_->text();
  s.localPort = localPortBox_->text();
  s.outputPosition = outputList_->count() == 0 ? unlisted_.output : selectedPosition(*outputList_);
  s.inputPosition = inputList_->count() == 0 ? unlisted_.input : selectedPosition(*inputList_);
  s.highPriority = highOption_->isChecked();
  return s;
}

// A refused Start takes the user to the value it was refused for, ready to be typed over.
void MainWindow::start() {
  if (link_.start(currentSettings(), sessionOptions())) {
    settings::saveRememberedPorts(link_.sessionPorts());
    return;
  }
  QLineEdit* box = nullptr;
  switch (link_.startProblem()) {
    case link::SettingsField::LocalPort: box = localPortBox_; break;
    case link::SettingsField::RemotePort: box = remotePortBox_; break;
    case link::SettingsField::RemoteHost: box = remoteAddressBox_; break;
    case link::SettingsField::LocalHost: box = localAddressBox_; break;
    case link::SettingsField::None: return;
  }
  box->setFocus(Qt::OtherFocusReason);
  box->selectAll();
}

// Stop becomes Exit as the session ends, under the pointer: the second click of a
// double-click on Stop must not end the program.
void MainWindow::stopOrExit() {
  if (link_.running()) {
    link_.stop();
  } else if (!exitShownAt_.isValid() ||
             exitShownAt_.elapsed() >= QGuiApplication::styleHints()->mouseDoubleClickInterval()) {
    exitProgram();
  }
}

void MainWindow::exitProgram() {
  close();
  if (quitProgram_) quitProgram_();
}

void MainWindow::closeEvent(QCloseEvent* event) {
  closeDown();
  // The window always closes.
  event->accept();
}

// Whatever is still open is closed, each part on its own, and the settings are
// written to the default file.
void MainWindow::closeDown() {
  if (closedDown_) return;
  closedDown_ = true;
  link_.shutDown();
  link::saveSettingsFile(link_.reporter(), defaultSettingsPath_, currentSettings());
}

void MainWindow::choosePriority(bool high) {
  link::setProcessPriority(high ? link::Priority::High : link::Priority::Realtime);
}

void MainWindow::chooseThru(bool on) {
  thruBox_->setChecked(on);
  toggleThru();
}

void MainWindow::toggleThru() {
  if (thruBox_->isChecked() && !link_.thruAllowed(selectedPosition(*inputList_), selectedPosition(*outputList_))) {
    thruBox_->setChecked(false);
  }
  showThru(thruBox_->isChecked());
  settings::saveWindowOption(settings::WindowOption::MidiThru, thruBox_->isChecked());
}

void MainWindow::showThru(bool on) {
  thruBox_->setChecked(on);
  networkLines_->setLineVisible(QStringLiteral("thruLine0"), on);
  for (int i = 1; i <= 3; ++i) portsLines_->setLineVisible(QStringLiteral("thruLine%1").arg(i), on);
}

// The options of the last run. Thru comes back only where the devices it joins
// make no loop, and without a box: the user did not ask for anything yet.
void MainWindow::restoreWindowOptions() {
  using settings::WindowOption;
  statsBox_->setChecked(settings::loadWindowOption(WindowOption::UpdateStatistic));
  popUpBox_->setChecked(settings::loadWindowOption(WindowOption::PopUpOnChat));
  showThru(settings::loadWindowOption(WindowOption::MidiThru) &&
           !link::thruWouldLoop(link_.devices(), selectedPosition(*inputList_), selectedPosition(*outputList_)));
}

// The echo is what the peer gets, and a line that may not reach it says so.
void MainWindow::sendChatLine() {
  const link::SentChatLine sent = link_.sendChatLine(chatInput_->text());
  appendHistoryLine(*chatHistory_, QStringLiteral("LOCAL:") + sent.text);
  setHistoryCaret(*chatHistory_, historyLength(*chatHistory_) - 1);
  if (!sent.sent) {
    // Without a session there is no socket to send from.
    showNotice(QStringLiteral("not sent: no session is running"));
  } else if (link_.status() != link::LinkStatus::Connected) {
    showNotice(QStringLiteral("Not Connected: the peer may not hear it"));
  }
  chatInput_->clear();
  chatCutSaid_ = false;
}

// Once per line: a paste or a key past the limit is cut, and the peer could read no more.
void MainWindow::sayChatLineCut() {
  if (chatCutSaid_ || chatInput_->text().size() < chatInput_->maxLength()) return;
  chatCutSaid_ = true;
  showNotice(QStringLiteral("a chat line holds at most %1 characters: the rest was cut").arg(link::kChatLineLimit));
}

// Our own remark in the history, in brackets, which no chat line starts with.
void MainWindow::showNotice(const QString& note) {
  appendHistoryLine(*chatHistory_, u'(' + note + u')');
  setHistoryCaret(*chatHistory_, historyLength(*chatHistory_));
}

// A peer's line is shown as one line, its control characters made visible: a line
// break in it would fake a line of ours.
void MainWindow::showChatLine(const QString& line) {
  appendHistoryLine(*chatHistory_, QStringLiteral("REMOTE") + link::visibleControls(line));
  setHistoryCaret(*chatHistory_, historyLength(*chatHistory_));
  if (popUpBox_->isChecked()) {
    showNormal();
    raise();
    activateWindow();
  }
}

// The window's changes of the two session transitions, in order.
void MainWindow::showRunning(bool running) {
  panicButton_->setEnabled(running);
  thruBox_->setEnabled(!running);
  startButton_->setEnabled(!running);
  stopButton_->setText(running ? kStopCaption : kExitCaption);
  if (!running) exitShownAt_.start();
  exitAction_->setText(running ? kStopCaption : kExitCaption);
  fileMenu_->menuAction()->setEnabled(!running);
  helpMenu_->menuAction()->setEnabled(!running);
  inputList_->setEnabled(!running);
  outputList_->setEnabled(!running);
  enableTimingChoice(running);
  lockNetworkBoxes(running);
  // No session is connected at its start, and none after its end.
  showStatus(link::LinkStatus::NotConnected);
  if (running) {
    animationTimer_->stop();
    hintBox_->hide();
    hintTimer_->stop();
  } else {
    animationTimer_->start();
    inputLight_->putOut();
    outputLight_->putOut();
  }
}

// The session has taken its addresses at Start: an edit now would do nothing
// until the next Start, so the boxes take none and look it.
void MainWindow::lockNetworkBoxes(bool locked) {
  for (QLineEdit* box : {localAddressBox_, localPortBox_, remoteAddressBox_, remotePortBox_}) {
    box->setReadOnly(locked);
    QPalette p = box->palette();
    p.setColor(QPalette::Base, locked ? p.color(QPalette::Window) : QApplication::palette(box).color(QPalette::Base));
    box->setPalette(p);
  }
  findButton_->setEnabled(!locked);
}

// A cancelled dialog answers with no name, which means the default file.
void MainWindow::openSettings() {
  const QString chosen = chooseSettingsFile(*fileDialogs_, DialogMode::Open);
  if (!chosen.isEmpty()) {
    loadSettings(chosen);
    return;
  }
  applySettings(
      link::loadSettingsFile(link_.reporter(), defaultSettingsPath_, link_.devices(), link::SettingsFileRole::Default));
}

void MainWindow::saveSettings() {
  const QString chosen = chooseSettingsFile(*fileDialogs_, DialogMode::Save);
  link::saveSettingsFile(link_.reporter(), chosen.isEmpty() ? defaultSettingsPath_ : chosen, currentSettings());
}

}  // namespace strandlink::ui
