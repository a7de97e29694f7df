#include "ui/form1.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>

#include <cmath>

#include "midi/devices.h"
#include "midi/held_notes.h"
#include "midi/thru.h"
#include "net/addresses.h"
#include "net/chat.h"
#include "session/priority.h"
#include "session/session_control.h"
#include "session/startup.h"
#include "session/statistics.h"
#include "settings/preferences.h"
#include "ui/app_icon.h"
#include "ui/frm_about.h"
#include "ui/frm_info.h"
#include "ui/help_texts.h"
#include "ui/qt_file_dialogs.h"
#include "ui/qt_message_boxes.h"
#include "ui/shell.h"
#include "ui/twips.h"
#include "ui/wrap_buttons.h"

namespace strandlink::ui {

namespace {

const QString kStopCaption = QStringLiteral("St&op");
const QString kExitCaption = QStringLiteral("&Exit");

// The mouse arguments of the design's mouse events: buttons 1 left, 2 right,
// 4 middle; shift 1 Shift, 2 Ctrl, 4 Alt; positions in twips.
int buttonMask(Qt::MouseButtons b) {
  return (b & Qt::LeftButton ? 1 : 0) | (b & Qt::RightButton ? 2 : 0) | (b & Qt::MiddleButton ? 4 : 0);
}

int shiftMask(Qt::KeyboardModifiers m) {
  return (m & Qt::ShiftModifier ? 1 : 0) | (m & Qt::ControlModifier ? 2 : 0) | (m & Qt::AltModifier ? 4 : 0);
}

double toTwips(double pixels) { return pixels * kTwipsPerPixel; }

// A closed help window is hidden at once and deleted a moment later; a Help
// command in between gets a new one, as after a real unload.
template <class W>
W* openWindow(QPointer<W>& window, const std::function<W*()>& make) {
  if (window && window->isHidden()) {
    window->deleteLater();
    window = nullptr;
  }
  if (!window) window = make();
  if (window->isMinimized()) {
    window->showNormal();
  } else {
    window->show();
  }
  window->raise();
  window->activateWindow();
  return window;
}

}  // namespace

Form1::Form1(midi::MidiService& midi, MessageBoxes* boxes, QWidget* parent) : QMainWindow(parent) {
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

  tmrAnimation = new QTimer(this);
  tmrAnimation->setObjectName(QStringLiteral("tmrAnimation"));
  tmrAnimation->setInterval(222);
  tmrShield = new QTimer(this);
  tmrShield->setObjectName(QStringLiteral("tmrShield"));
  tmrShield->setInterval(2000);

  if (boxes == nullptr) {
    ownBoxes_ = std::make_unique<QtMessageBoxes>(this);
    boxes = ownBoxes_.get();
  }
  session_ = std::make_unique<Session>(state_, *this, *boxes, midi);
  fileDialogs_ = makeQtFileDialogs(this);
  quitProgram_ = [] {
    QApplication::closeAllWindows();
    QCoreApplication::quit();
  };

  wireHandlers();
  tmrAnimation->start();
  cmdStart->setFocus();
}

// The help windows have no owner; whatever is still open ends with the program.
Form1::~Form1() {
  delete info_.data();
  delete about_.data();
}

void Form1::setShell(std::shared_ptr<Shell> shell) { shell_ = std::move(shell); }

frmInfo* Form1::infoWindow() const { return info_ && !info_->isHidden() ? info_.data() : nullptr; }

frmAbout* Form1::aboutWindow() const { return about_ && !about_->isHidden() ? about_.data() : nullptr; }

QString Form1::caption() {
  return QStringLiteral("Strandlink 1.0") + QString(76, QLatin1Char(' ')) +
         QStringLiteral("(c) 2026 the Strandlink authors");
}

void Form1::wireHandlers() {
  connect(cmdStart, &QPushButton::clicked, this, &Form1::cmdStart_Click);
  connect(cmdStop, &QPushButton::clicked, this, &Form1::cmdStop_Click);
  connect(cmdMinimize, &QPushButton::clicked, this, &Form1::cmdMinimize_Click);
  connect(cmdPanic, &QPushButton::clicked, this, &Form1::cmdPanic_Click);
  connect(chkPeerFilter, &QCheckBox::clicked, this, &Form1::chkPeerFilter_Click);
  // clicked: only the user's choice runs a handler, never a setter.
  connect(optHigh, &QRadioButton::clicked, this, &Form1::optHigh_Click);
  connect(optReal, &QRadioButton::clicked, this, &Form1::optReal_Click);
  connect(chkMidiThru, &QCheckBox::clicked, this, &Form1::chkMidiThru_Click);
  connect(chkUpdateStats, &QCheckBox::clicked, this, &Form1::chkUpdateStats_Click);

  connect(mnuOpen, &QAction::triggered, this, &Form1::mnuOpen_Click);
  connect(mnuSave, &QAction::triggered, this, &Form1::mnuSave_Click);
  connect(mnuExit, &QAction::triggered, this, &Form1::mnuExit_Click);
  connect(mnuReadme, &QAction::triggered, this, &Form1::mnuReadme_Click);
  connect(mnuInfo, &QAction::triggered, this, &Form1::mnuInfo_Click);
  connect(mnuWWW, &QAction::triggered, this, &Form1::mnuWWW_Click);
  connect(mnuAbout, &QAction::triggered, this, &Form1::mnuAbout_Click);

  connect(tmrAnimation, &QTimer::timeout, this, &Form1::tmrAnimation_Timer);
  connect(tmrShield, &QTimer::timeout, this, &Form1::tmrShield_Timer);

  for (QObject* o : {static_cast<QObject*>(InputDevCombo), static_cast<QObject*>(OutputDevCombo),
                     static_cast<QObject*>(txtIPAddress), static_cast<QObject*>(txtIPLocal),
                     static_cast<QObject*>(txtRemotePort), static_cast<QObject*>(txtPortLocal),
                     static_cast<QObject*>(txtSend), static_cast<QObject*>(txtPalm)}) {
    o->installEventFilter(this);
  }
  for (QLabel* p : Picture1) p->installEventFilter(this);
}

void Form1::showCentred() {
  adjustSize();
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->availableGeometry();
    move(area.center() - QPoint(width() / 2, height() / 2));
  }
  show();
}

// ---- Events -------------------------------------------------------------------

void Form1::closeEvent(QCloseEvent* event) {
  int cancel = 0;
  Form_Unload(cancel);
  // The unload never keeps the window open.
  event->accept();
}

bool Form1::eventFilter(QObject* watched, QEvent* event) {
  switch (event->type()) {
    case QEvent::KeyPress:
      return filterKey(watched, static_cast<QKeyEvent*>(event));
    case QEvent::FocusOut:
      // Opening the drop-down is no leaving of the list.
      if (static_cast<QFocusEvent*>(event)->reason() == Qt::PopupFocusReason) break;
      if (watched == InputDevCombo) InputDevCombo_LostFocus();
      if (watched == OutputDevCombo) OutputDevCombo_LostFocus();
      break;
    case QEvent::MouseMove:
    case QEvent::MouseButtonPress: {
      const auto* mouse = static_cast<QMouseEvent*>(event);
      const int button = event->type() == QEvent::MouseButtonPress ? buttonMask(mouse->button())
                                                                    : buttonMask(mouse->buttons());
      const int shift = shiftMask(mouse->modifiers());
      const double x = toTwips(mouse->position().x());
      const double y = toTwips(mouse->position().y());
      if (watched == txtPalm && event->type() == QEvent::MouseMove) txtPalm_MouseMove(button, shift, x, y);
      for (int i = 0; i < int(Picture1.size()); ++i) {
        if (watched != Picture1[std::size_t(i)]) continue;
        if (event->type() == QEvent::MouseMove) {
          Picture1_MouseMove(i, button, shift, x, y);
        } else {
          Picture1_MouseDown(i, button, shift, x, y);
        }
      }
      break;
    }
    default:
      break;
  }
  return QMainWindow::eventFilter(watched, event);
}

// Hands each typed character to the box's key handler; a refused one is dropped.
// Keys that move the focus, Delete, arrows and shortcuts (Ctrl+C, Ctrl+V) are not
// typed characters and act as usual: what a paste brings is filtered by the
// box's validator.
bool Form1::filterKey(QObject* watched, QKeyEvent* key) {
  void (Form1::*handler)(int&) = nullptr;
  if (watched == txtIPAddress) handler = &Form1::txtIPAddress_KeyPress;
  if (watched == txtIPLocal) handler = &Form1::txtIPLocal_KeyPress;
  if (watched == txtRemotePort) handler = &Form1::txtRemotePort_KeyPress;
  if (watched == txtPortLocal) handler = &Form1::txtPortLocal_KeyPress;
  if (watched == txtSend) handler = &Form1::txtSend_KeyPress;
  if (handler == nullptr || key->text().isEmpty()) return false;
  if (key->modifiers() & (Qt::ControlModifier | Qt::MetaModifier)) return false;
  if (key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab || key->key() == Qt::Key_Delete) return false;

  bool swallowed = false;
  for (const QChar c : key->text()) {
    int keyAscii = c.unicode();
    (this->*handler)(keyAscii);
    if (keyAscii == 0) swallowed = true;
  }
  return swallowed;
}

// ---- Handlers -----------------------------------------------------------------

void Form1::Form_Load() {
  // The animation frames lie on top of each other, on the place of the last one.
  for (std::size_t i = 0; i + 1 < Picture1.size(); ++i) Picture1[i]->setGeometry(Picture1[7]->geometry());
  strandlink::Form_Load(*session_, [this] { showCentred(); });
  session_->peerFilter = settings::loadPeerFilter();
  chkPeerFilter->setChecked(session_->peerFilter);
}

void Form1::Form_Unload(int& cancel) {
  (void)cancel;  // never set: the window always closes
  if (unloaded_) return;
  unloaded_ = true;
  strandlink::Form_Unload(*session_);
}

void Form1::cmdStart_Click() { strandlink::cmdStart_Click(*session_); }

void Form1::cmdStop_Click() {
  // The caption is the session's state.
  const QString caption = cmdStop->text();
  if (caption == kStopCaption) {
    StopSession(*session_);
  } else if (caption == kExitCaption) {
    close();
    if (quitProgram_) quitProgram_();
  }
}

void Form1::mnuExit_Click() { cmdStop->click(); }

void Form1::cmdMinimize_Click() { showMinimized(); }

void Form1::optHigh_Click() { strandlink::optHigh_Click(*session_); }

void Form1::optReal_Click() { strandlink::optReal_Click(*session_); }

void Form1::InputDevCombo_LostFocus() { midi::InputDevCombo_LostFocus(*session_); }

void Form1::OutputDevCombo_LostFocus() { midi::OutputDevCombo_LostFocus(*session_); }

void Form1::chkMidiThru_Click() { midi::chkMidiThru_Click(*session_); }

void Form1::chkUpdateStats_Click() { strandlink::chkUpdateStats_Click(*session_); }

void Form1::cmdPanic_Click() { midi::ReleaseHeldNotes(*session_); }

void Form1::chkPeerFilter_Click() {
  session_->peerFilter = chkPeerFilter->isChecked();
  settings::savePeerFilter(session_->peerFilter);
}

void Form1::txtIPAddress_KeyPress(int& keyAscii) {
  if (!net::addressKeyAllowed(char16_t(keyAscii))) keyAscii = 0;
}

void Form1::txtIPLocal_KeyPress(int& keyAscii) {
  if (!net::addressKeyAllowed(char16_t(keyAscii))) keyAscii = 0;
}

void Form1::txtRemotePort_KeyPress(int& keyAscii) {
  if (!net::portKeyAllowed(char16_t(keyAscii))) keyAscii = 0;
}

void Form1::txtPortLocal_KeyPress(int& keyAscii) {
  if (!net::portKeyAllowed(char16_t(keyAscii))) keyAscii = 0;
}

void Form1::txtSend_KeyPress(int& keyAscii) {
  if (net::txtSend_KeyPress(*session_, keyAscii)) keyAscii = 0;
}

void Form1::mnuOpen_Click() { settings::mnuOpen_Click(*session_, *fileDialogs_); }

void Form1::mnuSave_Click() { settings::mnuSave_Click(*session_, *fileDialogs_); }

void Form1::mnuReadme_Click() { ShellOpen(*shell_, this, userGuidePath()); }

void Form1::mnuInfo_Click() {
  openWindow<frmInfo>(info_, [this] { return new frmInfo(shell_); });
}

void Form1::mnuWWW_Click() { ShellOpen(*shell_, this, productWebsite()); }

void Form1::mnuAbout_Click() {
  openWindow<frmAbout>(about_, [] { return new frmAbout; });
}

void Form1::Picture1_MouseDown(int, int, int, double, double) {
  // The animation is a way into the information window while no link runs.
  if (cmdStart->isEnabled()) mnuInfo_Click();
}

void Form1::Picture1_MouseMove(int, int, int, double x, double y) {
  if (!cmdStart->isEnabled()) return;
  tmrShield->start();
  txtPalm->show();
  // The hint's right edge sits left of the pointer; all in twips of the client area.
  const double left = x - toTwips(txtPalm->width()) + toTwips(frmAnimation->x()) - 200;
  txtPalm->move(int(std::lround(left / kTwipsPerPixel)), int(std::lround(y / kTwipsPerPixel)));
}

void Form1::txtPalm_MouseMove(int, int, double, double) { txtPalm->hide(); }

void Form1::tmrShield_Timer() {
  txtPalm->hide();
  tmrShield->stop();
}

void Form1::tmrAnimation_Timer() {
  if (frameCounter_ < 0 || frameCounter_ > 7) frameCounter_ = 0;
  QLabel* now = Picture1[std::size_t(frameCounter_)];
  // No nested event processing here: it would run socket handlers inside a timer
  // tick. The raise is painted with the next frame anyway.
  now->raise();
  now->show();
  Picture1[frameCounter_ == 0 ? 7 : std::size_t(frameCounter_ - 1)]->hide();
  ++frameCounter_;
}

}  // namespace strandlink::ui
