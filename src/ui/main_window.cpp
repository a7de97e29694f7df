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
#include "link/problem_text.h"
#include "link/protocol_choice.h"
#include "protocol/protocol_registry.h"
#include "link/settings_files.h"
#include "midi/midi_service.h"
#include "net/addresses.h"
#include "report/visible_text.h"
#include "settings/preferences.h"
#include "ui/about_window.h"
#include "ui/activity_light.h"
#include "ui/app_icon.h"
#include "ui/chat_history.h"
#include "ui/field_validator.h"
#include "ui/info_window.h"
#include "ui/inviter_bar.h"
#include "ui/line_shapes.h"
#include "ui/protocol_fields.h"
#include "ui/qt_file_dialogs.h"
#include "ui/qt_message_boxes.h"
#include "ui/session_reports.h"
#include "ui/shell.h"
#include "ui/wrap_buttons.h"
#include "version.h"

namespace strandlink::ui {

namespace {

const QString kStopCaption = QStringLiteral("St&op");
const QString kExitCaption = QStringLiteral("&Exit");

}  // namespace

MainWindow::MainWindow(midi::MidiService& midi, report::MessageBoxes* boxes, QWidget* parent)
    : QMainWindow(parent), link_(midi, sessionBoxes(boxes)) {
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
  buildSessionView(client_);
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
  showStatus();  // in the same look as after a session
  showProtocolFields();
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
  connect(&link_, &link::Link::cannotGoOn, this, [this] { fatalExit_(); });
  connect(&link_, &link::Link::statusChanged, this, &MainWindow::showStatus);
  connect(&link_, &link::Link::figuresChanged, this, &MainWindow::showStatus);
  connect(&link_, &link::Link::chatLineReceived, this, &MainWindow::showChatLine);
  connect(chatInput_, &QLineEdit::inputRejected, this, &MainWindow::sayChatLineCut);
  connect(&link_, &link::Link::countsChanged, this, &MainWindow::showCounts);
  connect(&link_, &link::Link::deviceFollowed, this, &MainWindow::showDeviceMove);
  connect(&link_, &link::Link::devicesChanged, this, &MainWindow::refreshDeviceLists);
  connect(&link_, &link::Link::noticed, this, &MainWindow::showNotice);
  connect(&link_, &link::Link::inviterAsks, inviterBar_, &InviterBar::ask);
  connect(inviterBar_, &InviterBar::answered, this, [this](const protocol::Inviter& inviter, protocol::InviterAnswer a) {
    link_.answerInviter(inviter, a);
  });
  connect(&link_, &link::Link::runningChanged, inviterBar_, [this](bool running) {
    if (!running) inviterBar_->clear();
  });
  wireSessionFinder();
  wireInviteList();
}

void MainWindow::showCentred() {
  if (isVisible()) return;
  adjustSize();
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - QPoint(width() / 2, height() / 2));
  }
  show();
}

// A refused Start takes the user to the value it was refused for, ready to be typed over.
void MainWindow::start() {
  if (link_.start(currentSettings(), sessionOptions())) {
    settings::saveRememberedPorts(link_.sessionPorts());
    if (!sharedKey_.empty() && chosenProtocol() != settings::Protocol::Classic) showNotice(link::keyUnusedText());
    return;
  }
  QLineEdit* box = nullptr;
  switch (link_.startProblem()) {
    case protocol::SettingsField::LocalPort: box = localPortBox_; break;
    case protocol::SettingsField::RemotePort: box = remotePortBox_; break;
    case protocol::SettingsField::RemoteHost: box = remoteAddressBox_; break;
    case protocol::SettingsField::LocalHost: box = localAddressBox_; break;
    case protocol::SettingsField::None: return;
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

// The echo is what the peer gets, and a line that may not reach it says so.
void MainWindow::sendChatLine() {
  const link::SentChatLine sent = link_.sendChatLine(chatInput_->text());
  appendHistoryLine(*chatHistory_, QStringLiteral("LOCAL:") + sent.text);
  setHistoryCaret(*chatHistory_, historyLength(*chatHistory_) - 1);
  if (!sent.sent) {
    // Without a session there is no socket to send from.
    showNotice(QStringLiteral("not sent: no session is running"));
  } else if (link_.status() != protocol::LinkStatus::Connected) {
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
  appendHistoryLine(*chatHistory_, QStringLiteral("REMOTE") + report::visibleControls(line));
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
  startLine_->setVisible(!running);
  showSessionView(running);
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
  fields_->enableButtons(protocol::protocolRow(chosenProtocol()), locked);
}

}  // namespace strandlink::ui
