// The main window on the offscreen platform: its controls, the session transitions,
// what the address and port boxes let in, the history box and the handlers' wiring.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <map>
#include <optional>

#include "settings/settings_file.h"
#include "support/qt_printers.h"
#include "support/recording_boxes.h"
#include "support/stub_midi.h"
#include "ui/form1.h"
#include "ui/line_shapes.h"
#include "ui/qt_message_boxes.h"

namespace strandlink {
namespace {

class Form1Test : public ::testing::Test {
 protected:
  Form1Test() : form(midi, &boxes) {
    form.setQuitProgram([this] { ++quits; });
    QApplication::setQuitOnLastWindowClosed(false);  // closing the window must not end the test
    if (QFile f(defaultFile); f.open(QIODevice::ReadOnly)) saved = f.readAll();
  }
  // The unload writes the default settings file beside the test; put back what was there.
  ~Form1Test() override {
    if (QFile f(defaultFile); !saved) f.remove();
    else if (f.open(QIODevice::WriteOnly | QIODevice::Truncate)) f.write(*saved);
  }

  template <class T = QWidget>
  T* control(const char* name) {
    T* w = form.findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
  }
  QLineEdit* box(const char* name) { return control<QLineEdit>(name); }
  bool lineShown(const QString& name) {
    for (auto* lines : form.findChildren<ui::LineShapes*>())
      if (lines->hasLine(name)) return lines->isLineVisible(name);
    ADD_FAILURE() << "no line " << name.toStdString();
    return false;
  }

  const QString defaultFile = settings::defaultSettingsPath();
  std::optional<QByteArray> saved;
  test::StubMidiService midi;
  test::RecordingBoxes boxes;
  ui::Form1 form;
  int quits = 0;
};

// Representative captions; every label is checked for clipping below.
TEST_F(Form1Test, WindowAndControlsStartWithTheirCaptionsAndStates) {
  const QString t = form.windowTitle();
  EXPECT_TRUE(t.size() == 121 && t.startsWith("Strandlink 1.0" + QString(76, ' ') + "(c)") && !t.endsWith(' '))
      << t.toStdString();
  const auto buttons = Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint;
  EXPECT_EQ(form.windowFlags() & (buttons | Qt::WindowTitleHint), Qt::WindowCloseButtonHint | Qt::WindowTitleHint);
  const std::map<const char*, QString> texts = {
      {"cmdStart", "&Start"}, {"cmdStop", "&Exit"}, {"cmdMinimize", "&Minimize Window"}, {"Label3", "Local Host Port:"},
      {"chkPopUp", "Pop this window back up when receiving a chat message"}, {"lblConnectStatus", "Not Connected"},
      {"txtSend", "Type message here and hit Enter!"}, {"txtPalm", "So what's this wiggely thing all about?"}};
  for (const auto& [name, text] : texts) EXPECT_EQ(control(name)->property("text").toString(), text) << name;
  for (const char* name : {"InputDevCombo", "OutputDevCombo"}) {
    auto* list = control<QComboBox>(name);
    EXPECT_TRUE(list->isEditable() && list->count() == 0 && list->currentText() == "Combo1") << name;
  }
  EXPECT_TRUE(control<QRadioButton>("optHigh")->isChecked() && !control<QRadioButton>("optReal")->isChecked());
  for (const char* name : {"chkMidiThru", "chkPopUp", "chkUpdateStats"})
    EXPECT_FALSE(control<QCheckBox>(name)->isChecked()) << name;
  EXPECT_FALSE(box("txtPalm")->isVisibleTo(&form));
  EXPECT_EQ(form.focusWidget(), control("cmdStart"));
}

TEST_F(Form1Test, ControlsSitWhereTheLayoutPutsThemInTheDesktopFontAndNothingIsCut) {
  form.layout()->activate();
  EXPECT_EQ(form.centralWidget()->size(), QSize(639, 426));
  EXPECT_EQ(form.minimumSize(), form.maximumSize());
  const std::map<const char*, QRect> places = {{"frmNet", {20, 96, 485, 105}}, {"txtRemotePort", {416, 68, 53, 21}},
                                               {"cmdStart", {24, 208, 97, 45}}};
  for (const auto& [name, rect] : places) EXPECT_EQ(control(name)->geometry(), rect) << name;
  const double base = form.defaultPointSize();  // the layout's 8 pt, less when the family is too wide
  EXPECT_TRUE(base >= ui::kSmallestDefaultPointSize && base <= ui::kDefaultPointSize) << base;
  const std::map<const char*, std::pair<double, bool>> fonts = {  // points, bold
      {"cmdStart", {12, false}}, {"Label10", {13.5, false}}, {"Label11", {12, true}}, {"Label4", {base, false}}};
  for (const auto& [name, want] : fonts) {
    const QFont f = control(name)->font();
    EXPECT_TRUE(f.pointSizeF() == want.first && f.bold() == want.second && f.family() == QApplication::font().family())
        << name << ": " << f.toString().toStdString();
  }
  // No caption is cut or runs under its neighbour.
  for (QLabel* l : form.findChildren<QLabel*>()) {
    EXPECT_LE(l->fontMetrics().horizontalAdvance(l->text()), l->width()) << l->objectName().toStdString();
  }
  for (auto [label, next] : {std::pair{"Label3", "txtPortLocal"}, {"Label2", "txtRemotePort"}}) {
    QLabel* l = control<QLabel>(label);
    EXPECT_LE(l->x() + l->fontMetrics().horizontalAdvance(l->text()), control(next)->x()) << label;
  }
  QLineEdit* palm = box("txtPalm");
  EXPECT_LT(palm->fontMetrics().horizontalAdvance(palm->text()), palm->width() - 8);
}

TEST_F(Form1Test, SettersRunNoHandlersButClicksDo) {
  const auto thruShown = [&](bool shown) {
    for (int i = 0; i < 4; ++i) EXPECT_EQ(lineShown(QStringLiteral("lineMidiThru(%1)").arg(i)), shown) << i;
    EXPECT_TRUE(lineShown("Line1"));
  };
  form.setChecked(CheckControl::chkMidiThru, true);
  EXPECT_FALSE(form.state().MidiThruEnabled.load());
  thruShown(false);
  form.setChecked(CheckControl::chkMidiThru, false);
  control<QCheckBox>("chkMidiThru")->click();
  EXPECT_TRUE(form.state().MidiThruEnabled.load());
  thruShown(true);
  control<QCheckBox>("chkMidiThru")->click();
  thruShown(false);
}

TEST_F(Form1Test, RunningAndIdleSwitchTheWindowAndStopFollowsItsCaption) {
  box("txtPalm")->show();
  control<QTimer>("tmrShield")->start();
  form.setText(TextControl::lblConnectStatus, "Connected");
  for (const bool running : {true, false}) {
    SCOPED_TRACE(running ? "running" : "idle");
    running ? form.enterRunning() : form.enterIdle();
    for (const char* name : {"chkMidiThru", "cmdStart", "InputDevCombo", "OutputDevCombo"})
      EXPECT_EQ(control(name)->isEnabled(), !running) << name;
    for (const char* name : {"chkUpdateStats", "optHigh", "txtIPAddress", "txtSend", "cmdStop"})
      EXPECT_TRUE(control(name)->isEnabled()) << name;  // left alone in both states
    EXPECT_EQ(control<QPushButton>("cmdStop")->text(), running ? "St&op" : "&Exit");
    EXPECT_EQ(control<QAction>("mnuExit")->text(), running ? "St&op" : "&Exit");
    for (const char* m : {"mnuFile", "mnuHelp"}) EXPECT_EQ(control<QMenu>(m)->menuAction()->isEnabled(), !running) << m;
    EXPECT_EQ(control<QTimer>("tmrAnimation")->isActive(), !running);
    EXPECT_FALSE(box("txtPalm")->isVisible() || control<QTimer>("tmrShield")->isActive());
  }
  EXPECT_EQ(control<QLabel>("lblConnectStatus")->text(), "Not Connected");

  // The Stop button acts on its caption exactly.
  QPushButton* stop = control<QPushButton>("cmdStop");
  form.show();
  stop->setText("Stop");  // neither caption: nothing happens
  stop->click();
  EXPECT_TRUE(form.isVisible());
  form.enterRunning();
  stop->click();  // St&op stops the session
  EXPECT_EQ(stop->text(), "&Exit");
  EXPECT_TRUE(control("cmdStart")->isEnabled() && form.isVisible());
  EXPECT_EQ(quits, 0);
  control<QAction>("mnuExit")->trigger();  // &Exit: File > Exit does what the button does
  EXPECT_FALSE(form.isVisible());
  EXPECT_EQ(quits, 1);
  EXPECT_TRUE(QFile::exists(defaultFile));  // the unload wrote the settings
}

// Typing meets the key handlers, any other way in the boxes' filter (paste stands for it).
TEST_F(Form1Test, AddressAndPortBoxesLetInOnlyWhatTheyAcceptAndKeepTheProgramsText) {
  for (auto [name, digitsOnly] : {std::pair{"txtIPAddress", "1.2"}, {"txtIPLocal", "1.2"}, {"txtRemotePort", "12"},
                                  {"txtPortLocal", "12"}}) {
    SCOPED_TRACE(name);
    QLineEdit* b = box(name);
    QTest::keyClicks(b, "a1.b2");
    EXPECT_EQ(b->text(), digitsOnly);
    for (auto key : {Qt::Key_Backspace, Qt::Key_Home, Qt::Key_Delete}) QTest::keyClick(b, key);
    EXPECT_EQ(b->text(), QString(digitsOnly).mid(1).chopped(1));
    b->clear();
    QApplication::clipboard()->setText("x1.y2");
    QTest::keyClick(b, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(b->text(), digitsOnly);
    b->selectAll();
    QTest::keyClick(b, Qt::Key_C, Qt::ControlModifier);  // copying out still works
    EXPECT_EQ(QApplication::clipboard()->text(), digitsOnly);
  }
  // A host name the program put there (from a settings file) survives editing next to it.
  form.setText(TextControl::txtIPAddress, "peer.example.org");
  QLineEdit* b = box("txtIPAddress");
  b->setCursorPosition(4);
  QTest::keyClicks(b, "7x");
  QApplication::clipboard()->setText("z9");
  b->paste();
  EXPECT_EQ(b->text(), "peer79.example.org");
  QTest::keyClick(b, Qt::Key_Backspace);
  EXPECT_EQ(form.text(TextControl::txtIPAddress), "peer7.example.org");
}

TEST_F(Form1Test, HistoryCountsLineBreaksAsCrLfAndEnterInTheSendBoxAddsTheLine) {
  form.appendText(TextControl::txtReceive, "\r\nab\r\ncd");
  EXPECT_EQ(form.textLength(TextControl::txtReceive), 8);
  // Position in CR LF counting -> position in the box: before "a" is 2 -> 1,
  // between CR and LF (5) lies at the end of "ab", "d" (7) -> 5, past the end -> end.
  for (auto [given, shown] : {std::pair{0, 0}, {2, 1}, {4, 3}, {5, 3}, {6, 4}, {7, 5}, {8, 6}, {99, 6}}) {
    form.setCaret(TextControl::txtReceive, given);
    EXPECT_EQ(control<QPlainTextEdit>("txtReceive")->textCursor().position(), shown) << given;
  }
  form.setText(TextControl::txtReceive, "one\rtwo\nthree");
  EXPECT_EQ(form.text(TextControl::txtReceive), "one\r\ntwo\r\nthree");
  EXPECT_EQ(form.textLength(TextControl::txtReceive), 15);
  QLineEdit* send = box("txtSend");
  send->clear();
  QTest::keyClicks(send, "hello\r");
  EXPECT_TRUE(form.text(TextControl::txtReceive).startsWith("one\r\ntwo\r\nthree\r\nLOCAL:hello"));
  EXPECT_TRUE(send->text().isEmpty());
}

// The history is never trimmed: a long show's worth of lines must stay whole and
// the caret must still reach the end.
TEST_F(Form1Test, HistoryKeepsAHundredThousandLines) {
  form.setText(TextControl::txtReceive, QString());
  for (int i = 0; i < 100000; ++i) form.appendText(TextControl::txtReceive, QStringLiteral("\r\nREMOTEline"));
  const qsizetype length = form.textLength(TextControl::txtReceive);
  EXPECT_EQ(length, 100000 * 12);
  form.setCaret(TextControl::txtReceive, length);
  auto* history = control<QPlainTextEdit>("txtReceive");
  EXPECT_EQ(history->blockCount(), 100001);
  EXPECT_EQ(history->textCursor().position(), history->document()->characterCount() - 1);
}

TEST_F(Form1Test, ListsKeepPositionsAndReportTheSelectionOnLeaving) {
  for (const char* item : {"Strandlink Input", "Keyboard"}) form.addListItem(ListControl::InputDevCombo, item);
  auto* list = control<QComboBox>("InputDevCombo");
  EXPECT_EQ(list->currentText(), "Combo1");  // adding selects nothing
  form.setListIndex(ListControl::InputDevCombo, 5);
  EXPECT_EQ(form.listIndex(ListControl::InputDevCombo), -1);
  list->setCurrentIndex(1);  // the user's choice
  for (auto [reason, id] : {std::pair{Qt::PopupFocusReason, 0}, {Qt::TabFocusReason, 1}}) {
    QFocusEvent leave(QEvent::FocusOut, reason);  // opening the drop-down is no leaving
    QApplication::sendEvent(list, &leave);
    EXPECT_EQ(form.state().MidiInDeviceId, id) << reason;
  }
  // Typed text over a selection selects no line, and Enter adds no line.
  list->lineEdit()->selectAll();
  QTest::keyClicks(list->lineEdit(), "Nothing");
  QTest::keyClick(list->lineEdit(), Qt::Key_Return);
  EXPECT_EQ(list->count(), 2);
  EXPECT_EQ(form.listIndex(ListControl::InputDevCombo), -1);
}

TEST_F(Form1Test, StartUpListsDevicesAndCentresTheWindow) {
  midi.inputs = {"Strandlink Input", "Keyboard"};
  midi.outputs = {"Strandlink Output", "Synth"};
  form.Form_Load();
  EXPECT_EQ(control<QComboBox>("OutputDevCombo")->currentText(), "Strandlink Output");
  EXPECT_EQ(control<QComboBox>("InputDevCombo")->count(), 2);
  // Centred on the window's own size: its border, not known before it shows, may shift it a little.
  const QPoint centre = QGuiApplication::primaryScreen()->availableGeometry().center();
  EXPECT_LE((form.geometry().center() - centre).manhattanLength(), 8);
}

// Which picture shows and the hint after a session are animation_test's.
TEST_F(Form1Test, HintFollowsThePointerUntilTheShieldTickOrThePointerOnIt) {
  QLineEdit* palm = box("txtPalm");
  QMouseEvent move(QEvent::MouseMove, QPointF(10, 20), QPointF(10, 20), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
  QApplication::sendEvent(control("Picture1_3"), &move);
  EXPECT_TRUE(palm->isVisibleTo(&form) && control<QTimer>("tmrShield")->isActive());
  // x 150 - 2775 (hint width) + 7680 (frame left) - 200 = 4855 twips; y 300 twips.
  EXPECT_EQ(palm->pos(), QPoint(324, 20));
  form.tmrShield_Timer();
  EXPECT_FALSE(palm->isVisibleTo(&form) || control<QTimer>("tmrShield")->isActive());

  form.Picture1_MouseMove(0, 0, 0, 0, 0);
  QApplication::sendEvent(palm, &move);  // the pointer onto the hint hides it
  EXPECT_FALSE(palm->isVisibleTo(&form));
}

TEST(QtMessageBoxesTest, ShowsAModalPlainTextBoxWithTitleIconAndOk) {
  QWidget owner;
  ui::QtMessageBoxes boxes(&owner);
  for (auto [icon, qtIcon] : {std::pair{BoxIcon::Exclamation, QMessageBox::Warning},
                              {BoxIcon::Information, QMessageBox::Information}, {BoxIcon::None, QMessageBox::NoIcon}}) {
    bool seen = false;
    QTimer closer;  // checks and closes the box from inside its own event loop once it is up
    QObject::connect(&closer, &QTimer::timeout, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (box == nullptr) return;
      seen = true;
      EXPECT_EQ(box->windowTitle() + "|" + box->text(), "Device Error|Midi Input: <b>x</b> :  busy");
      EXPECT_EQ(std::pair(box->icon(), box->textFormat()), std::pair(qtIcon, Qt::PlainText));
      EXPECT_TRUE(box->isModal() && box->buttons().size() == 1 && box->parentWidget() == &owner);
      box->button(QMessageBox::Ok)->click();
    });
    closer.start();
    EXPECT_EQ(boxes.show(icon, "Device Error", "Midi Input: <b>x</b> :  busy"), 1);
    EXPECT_TRUE(seen);
  }
}

}  // namespace
}  // namespace strandlink
