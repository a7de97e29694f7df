// The main window on the offscreen platform: its controls as laid out, the two
// session transitions, what the address and port boxes let in, the history box's
// lengths and caret, and the wiring of handlers to controls.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QGroupBox>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
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
#include "support/recording_boxes.h"
#include "support/stub_midi.h"
#include "ui/form1.h"
#include "ui/line_shapes.h"
#include "ui/qt_message_boxes.h"

// Readable failure messages for texts.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace strandlink {
namespace {

using ui::Form1;

// The unload writes the default settings file beside the test; put back what was there.
class DefaultFileGuard {
 public:
  DefaultFileGuard() : path_(settings::defaultSettingsPath()) {
    QFile f(path_);
    if (f.open(QIODevice::ReadOnly)) saved_ = f.readAll();
  }
  ~DefaultFileGuard() {
    if (!saved_) {
      QFile::remove(path_);
      return;
    }
    QFile f(path_);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate)) f.write(*saved_);
  }

 private:
  QString path_;
  std::optional<QByteArray> saved_;
};

class Form1Test : public ::testing::Test {
 protected:
  Form1Test() : form(midi, &boxes) {
    form.setQuitProgram([this] { ++quits; });
    // Closing the window must not end the test program.
    QApplication::setQuitOnLastWindowClosed(false);
  }

  template <class T>
  T* control(const char* name) {
    T* w = form.findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
  }
  QLineEdit* box(const char* name) { return control<QLineEdit>(name); }

  ui::LineShapes* linesWith(const QString& name) {
    for (auto* shapes : form.findChildren<ui::LineShapes*>()) {
      if (shapes->hasLine(name)) return shapes;
    }
    ADD_FAILURE() << "no line " << name.toStdString();
    return nullptr;
  }

  DefaultFileGuard guard;
  test::StubMidiService midi;
  test::RecordingBoxes boxes;
  Form1 form;
  int quits = 0;
};

const char* const kControls[] = {
    "cmdStart", "cmdStop", "cmdMinimize", "chkMidiThru", "chkPopUp", "txtPalm", "frmMidiPorts", "frmNet",
    "frmChat", "Frame1", "frmStatistic", "frmAnimation", "Label10", "Label7_0", "Label7_1", "InputDevCombo",
    "OutputDevCombo", "Label11", "Label4", "txtIPLocal", "Label3", "txtPortLocal", "Label1", "txtIPAddress",
    "Label2", "txtRemotePort", "lblConnectStatus", "Label8", "txtSend", "Label9", "txtReceive", "optReal",
    "optHigh", "chkUpdateStats", "Label12", "txtSent", "Label13", "txtRecv", "Picture1_0", "Picture1_7"};
const char* const kThruLines[] = {"lineMidiThru(0)", "lineMidiThru(1)", "lineMidiThru(2)", "lineMidiThru(3)"};
const char* const kOtherLines[] = {"Line1", "Line2", "Line3", "Line4", "Line5", "Line6",
                                   "Line7", "Line8", "Line9", "Line10", "Line11", "Line12"};

TEST_F(Form1Test, ControlsStartWithTheirCaptionsTextsAndStates) {
  const auto caption = [&](const char* name) {
    QWidget* w = control<QWidget>(name);
    if (auto* b = qobject_cast<QAbstractButton*>(w)) return b->text();
    if (auto* l = qobject_cast<QLabel*>(w)) return l->text();
    if (auto* g = qobject_cast<QGroupBox*>(w)) return g->title();
    return qobject_cast<QLineEdit*>(w)->text();
  };
  const std::map<const char*, QString> texts = {
      {"cmdStart", "&Start"}, {"cmdStop", "&Exit"}, {"cmdMinimize", "&Minimize Window"},
      {"chkMidiThru", "Midi Thru"}, {"chkPopUp", "Pop this window back up when receiving a chat message"},
      {"optReal", "Realtime"}, {"optHigh", "High"}, {"chkUpdateStats", "Update Statistic"},
      {"Label10", "Select Midi Ports"}, {"Label7_0", "Midi Input"}, {"Label7_1", "Midi Output"},
      {"Label11", "Network settings"}, {"Label4", "Local Host IP Address"}, {"Label3", "Local Host Port:"},
      {"Label1", "Remote Host IP Address"}, {"Label2", "Remote Host Port:"}, {"lblConnectStatus", "Not Connected"},
      {"Label8", "Send"}, {"Label9", "Receive"}, {"Label12", "Midi Events sent"},
      {"Label13", "Midi Events received"}, {"frmChat", "Chat Window"}, {"Frame1", "Priority"},
      {"frmStatistic", "Statistics"}, {"txtSend", "Type message here and hit Enter!"},
      {"txtPalm", "So what's this wiggely thing all about?"}, {"txtIPLocal", ""}, {"txtPortLocal", ""},
      {"txtIPAddress", ""}, {"txtRemotePort", ""}, {"txtSent", ""}, {"txtRecv", ""}};
  for (const auto& [name, text] : texts) EXPECT_EQ(caption(name), text) << name;
  EXPECT_TRUE(control<QLabel>("lblConnectStatus")->alignment() & Qt::AlignHCenter);
  EXPECT_EQ(box("txtPalm")->palette().color(QPalette::Base), QColor(255, 255, 0));
  EXPECT_TRUE(control<QPlainTextEdit>("txtReceive")->toPlainText().isEmpty());
  EXPECT_EQ(control<QPlainTextEdit>("txtReceive")->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
  for (const char* name : {"InputDevCombo", "OutputDevCombo"}) {
    auto* list = control<QComboBox>(name);
    EXPECT_TRUE(list->isEditable() && list->count() == 0) << name;
    EXPECT_EQ(list->currentText(), "Combo1") << name;
  }
  EXPECT_TRUE(control<QRadioButton>("optHigh")->isChecked());
  EXPECT_FALSE(control<QRadioButton>("optReal")->isChecked());
  for (const char* name : {"chkMidiThru", "chkPopUp", "chkUpdateStats"}) {
    EXPECT_FALSE(control<QCheckBox>(name)->isChecked()) << name;
  }
  for (const char* name : kControls) {
    QWidget* w = control<QWidget>(name);
    EXPECT_TRUE(w->isEnabled()) << name;
    EXPECT_EQ(w->isVisibleTo(&form), QLatin1String(name) != "txtPalm") << name;
  }
  EXPECT_EQ(form.focusWidget(), control<QWidget>("cmdStart"));
}

// A representative set: every frame and one control of each kind. Captions are
// checked for clipping on every label below.
TEST_F(Form1Test, ControlsSitWhereTheLayoutPutsThemInTheDesktopFont) {
  form.layout()->activate();
  EXPECT_EQ(form.centralWidget()->size(), QSize(639, 426));
  EXPECT_EQ(form.minimumSize(), form.maximumSize());
  EXPECT_EQ(form.height(), form.menuBar()->height() + 426);
  const std::map<const char*, QRect> places = {
      {"cmdStart", {24, 208, 97, 45}},       {"chkPopUp", {348, 204, 133, 53}},
      {"txtPalm", {440, -4, 185, 21}},       {"frmMidiPorts", {20, -8, 485, 77}},
      {"frmNet", {20, 96, 485, 105}},        {"frmChat", {20, 260, 485, 157}},
      {"Frame1", {512, 184, 125, 73}},       {"frmStatistic", {512, 264, 125, 153}},
      {"frmAnimation", {512, 16, 129, 169}}, {"InputDevCombo", {8, 44, 225, 21}},
      {"txtRemotePort", {416, 68, 53, 21}},  {"lblConnectStatus", {184, 72, 117, 21}},
      {"txtReceive", {60, 56, 385, 93}},     {"optHigh", {8, 52, 65, 17}},
      {"Picture1_7", {12, 0, 105, 153}}};
  for (const auto& [name, rect] : places) EXPECT_EQ(control<QWidget>(name)->geometry(), rect) << name;
  // Lines are in twips of their frame too: Line8 runs along the bottom of the network frame.
  EXPECT_EQ(linesWith("Line8")->linePixels("Line8"), QLine(152, 92, 400, 92));
  EXPECT_EQ(linesWith("Line8")->parentWidget(), control<QWidget>("frmNet"));
  EXPECT_EQ(linesWith("Line3")->parentWidget(), control<QWidget>("frmMidiPorts"));

  const double base = form.defaultPointSize();
  EXPECT_LE(base, ui::kDefaultPointSize);
  EXPECT_GE(base, ui::kSmallestDefaultPointSize);
  const std::map<const char*, std::pair<double, bool>> fonts = {  // points, bold
      {"cmdStart", {12, false}},    {"frmChat", {12, false}},     {"Label10", {13.5, false}},
      {"Label7_1", {9.75, false}},  {"Label11", {12, true}},      {"cmdMinimize", {base, false}},
      {"Label4", {base, false}},    {"txtSend", {base, false}},   {"InputDevCombo", {base, false}}};
  for (const auto& [name, want] : fonts) {
    const QFont f = control<QWidget>(name)->font();
    EXPECT_DOUBLE_EQ(f.pointSizeF(), want.first) << name;
    EXPECT_EQ(f.bold(), want.second) << name;
    EXPECT_EQ(f.family(), QApplication::font().family()) << name;
  }
  // A label the family draws too wide for its box at its size is drawn at most a point smaller.
  const double status = control<QLabel>("lblConnectStatus")->font().pointSizeF();
  EXPECT_TRUE(status >= 11 && status <= 12) << status;
}

TEST_F(Form1Test, NoCaptionIsCutOrRunsUnderItsNeighbour) {
  for (QLabel* l : form.findChildren<QLabel*>()) {
    if (l->text().isEmpty()) continue;
    EXPECT_LE(l->fontMetrics().horizontalAdvance(l->text()), l->width()) << l->objectName().toStdString();
  }
  const auto rightEdge = [&](const char* label) {
    QLabel* l = control<QLabel>(label);
    return l->x() + l->fontMetrics().horizontalAdvance(l->text());
  };
  EXPECT_LE(rightEdge("Label3"), box("txtPortLocal")->x());
  EXPECT_LE(rightEdge("Label2"), box("txtRemotePort")->x());
  QLineEdit* palm = box("txtPalm");
  EXPECT_LT(palm->fontMetrics().horizontalAdvance(palm->text()), palm->width() - 8);
}

TEST_F(Form1Test, TabFollowsTheTabIndexes) {
  const QStringList expected = {"cmdStart",      "optReal",      "optHigh",      "cmdStop",     "cmdMinimize",
                                "OutputDevCombo", "InputDevCombo", "txtReceive",  "txtSend",     "txtIPLocal",
                                "txtPortLocal",  "txtRemotePort", "txtIPAddress", "chkPopUp",    "txtPalm",
                                "chkMidiThru",   "txtSent",      "txtRecv",      "chkUpdateStats"};
  QStringList seen;
  QWidget* w = control<QWidget>("cmdStart");
  do {
    if (expected.contains(w->objectName()) && !seen.contains(w->objectName())) seen << w->objectName();
    w = w->nextInFocusChain();
  } while (w != control<QWidget>("cmdStart") && seen.size() < expected.size());
  EXPECT_EQ(seen, expected);
}

TEST_F(Form1Test, WindowHasItsCaptionMenusAndTimers) {
  const QString title = form.windowTitle();
  EXPECT_EQ(title.size(), 121);
  EXPECT_TRUE(title.startsWith("Strandlink 1.0" + QString(76, ' ') + "(c)"));
  EXPECT_FALSE(title.endsWith(' '));
  const Qt::WindowFlags flags = form.windowFlags();
  EXPECT_FALSE(flags & Qt::WindowMinimizeButtonHint);
  EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
  EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
  EXPECT_TRUE(flags & Qt::WindowTitleHint);

  QStringList bar;
  for (QAction* a : form.menuBar()->actions()) bar << a->text();
  EXPECT_EQ(bar, QStringList({"&File", "&Help"}));
  const auto entries = [&](const char* menu) {
    QStringList out;
    for (QAction* a : control<QMenu>(menu)->actions()) out << (a->isSeparator() ? "-" : a->objectName() + "=" + a->text());
    return out;
  };
  EXPECT_EQ(entries("mnuFile"), QStringList({"mnuOpen=&Open", "mnuSave=&Save", "-", "mnuExit=&Exit"}));
  EXPECT_EQ(entries("mnuHelp"), QStringList({"mnuReadme=&Readme File", "mnuInfo=&Info", "mnuWWW=&Goto Website", "-",
                                             "mnuAbout=&About"}));

  EXPECT_EQ(control<QTimer>("tmrAnimation")->interval(), 222);
  EXPECT_TRUE(control<QTimer>("tmrAnimation")->isActive());
  EXPECT_EQ(control<QTimer>("tmrShield")->interval(), 2000);
  EXPECT_FALSE(control<QTimer>("tmrShield")->isActive());
  EXPECT_EQ(form.session().tmrCeckConnection.interval(), 1000);
  EXPECT_FALSE(form.session().tmrCeckConnection.isActive());
}

TEST_F(Form1Test, SettersRunNoHandlersButClicksDo) {
  const auto thruShown = [&](bool shown) {
    for (const char* name : kThruLines) EXPECT_EQ(linesWith(name)->isLineVisible(name), shown) << name;
    for (const char* name : kOtherLines) EXPECT_TRUE(linesWith(name)->isLineVisible(name)) << name;
  };
  thruShown(false);
  form.setChecked(CheckControl::chkMidiThru, true);
  form.setChecked(CheckControl::chkUpdateStats, true);
  EXPECT_FALSE(form.state().MidiThruEnabled.load());
  EXPECT_FALSE(form.state().StatsEnabled.load());
  thruShown(false);
  form.setChecked(CheckControl::chkMidiThru, false);
  form.setChecked(CheckControl::chkUpdateStats, false);

  control<QCheckBox>("chkMidiThru")->click();
  control<QCheckBox>("chkUpdateStats")->click();
  EXPECT_TRUE(form.state().MidiThruEnabled.load());
  EXPECT_TRUE(form.state().StatsEnabled.load());
  thruShown(true);
  control<QCheckBox>("chkMidiThru")->click();
  thruShown(false);

  form.setHighPrioritySelected(false);
  EXPECT_TRUE(control<QRadioButton>("optReal")->isChecked());
  EXPECT_FALSE(form.highPrioritySelected());
  form.setHighPrioritySelected(true);
  EXPECT_TRUE(control<QRadioButton>("optHigh")->isChecked() && !control<QRadioButton>("optReal")->isChecked());
}

TEST_F(Form1Test, RunningAndIdleSwitchTheWindow) {
  QLineEdit* palm = box("txtPalm");
  palm->show();
  control<QTimer>("tmrShield")->start();
  form.setText(TextControl::lblConnectStatus, "Connected");
  for (const bool running : {true, false}) {
    SCOPED_TRACE(running ? "running" : "idle");
    running ? form.enterRunning() : form.enterIdle();
    for (const char* name : {"chkMidiThru", "cmdStart", "InputDevCombo", "OutputDevCombo"}) {
      EXPECT_EQ(control<QWidget>(name)->isEnabled(), !running) << name;
    }
    // Left alone in both states.
    for (const char* name : {"chkUpdateStats", "chkPopUp", "optHigh", "txtIPAddress", "txtSend", "cmdStop"}) {
      EXPECT_TRUE(control<QWidget>(name)->isEnabled()) << name;
    }
    EXPECT_EQ(control<QPushButton>("cmdStop")->text(), running ? "St&op" : "&Exit");
    EXPECT_EQ(control<QAction>("mnuExit")->text(), running ? "St&op" : "&Exit");
    EXPECT_EQ(control<QMenu>("mnuFile")->menuAction()->isEnabled(), !running);
    EXPECT_EQ(control<QMenu>("mnuHelp")->menuAction()->isEnabled(), !running);
    EXPECT_EQ(control<QTimer>("tmrAnimation")->isActive(), !running);
    // The hint and its timer go, and wait for the next mouse move.
    EXPECT_FALSE(palm->isVisible());
    EXPECT_FALSE(control<QTimer>("tmrShield")->isActive());
  }
  EXPECT_EQ(control<QLabel>("lblConnectStatus")->text(), "Not Connected");
}

TEST_F(Form1Test, StopButtonActsOnItsCaptionExactly) {
  QPushButton* stop = control<QPushButton>("cmdStop");
  form.show();

  stop->setText("Stop");  // neither caption: nothing happens
  stop->click();
  EXPECT_TRUE(form.isVisible());
  EXPECT_EQ(quits, 0);

  form.enterRunning();
  stop->click();  // St&op stops the session
  EXPECT_EQ(stop->text(), "&Exit");
  EXPECT_TRUE(control<QWidget>("cmdStart")->isEnabled());
  EXPECT_TRUE(form.isVisible());
  EXPECT_EQ(quits, 0);

  control<QAction>("mnuExit")->trigger();  // &Exit: File > Exit does what the button does
  EXPECT_FALSE(form.isVisible());
  EXPECT_EQ(quits, 1);
  EXPECT_TRUE(QFile::exists(settings::defaultSettingsPath()));  // the unload wrote the settings
}

TEST_F(Form1Test, AddressAndPortBoxesLetInOnlyWhatTheyAccept) {
  struct Case {
    const char* name;
    const char* digitsOnly;  // what "a1.b2" becomes
  };
  for (const Case& c : {Case{"txtIPAddress", "1.2"}, Case{"txtIPLocal", "1.2"}, Case{"txtRemotePort", "12"},
                        Case{"txtPortLocal", "12"}}) {
    SCOPED_TRACE(c.name);
    QLineEdit* b = box(c.name);

    QTest::keyClicks(b, "a1.b2");
    EXPECT_EQ(b->text(), QString(c.digitsOnly));
    QTest::keyClick(b, Qt::Key_Backspace);
    QTest::keyClick(b, Qt::Key_Home);
    QTest::keyClick(b, Qt::Key_Delete);
    EXPECT_EQ(b->text(), QString(c.digitsOnly).mid(1).chopped(1));

    b->clear();
    QApplication::clipboard()->setText("x1.y2");
    b->paste();  // the context menu's Paste
    QTest::keyClick(b, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(b->text(), QString(c.digitsOnly) + c.digitsOnly);

    b->clear();
    b->insert("q1.w2");
    EXPECT_EQ(b->text(), QString(c.digitsOnly));

    b->clear();
    QInputMethodEvent ime;
    ime.setCommitString("m1.n2");
    QApplication::sendEvent(b, &ime);
    EXPECT_EQ(b->text(), QString(c.digitsOnly));

    b->clear();
    QMimeData dropped;
    dropped.setText("d1.r2");
    QDragEnterEvent enter(QPoint(2, 2), Qt::CopyAction, &dropped, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(b, &enter);
    QDropEvent drop(QPointF(2, 2), Qt::CopyAction, &dropped, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(b, &drop);
    EXPECT_EQ(b->text(), QString(c.digitsOnly));

    // Copying out still works.
    b->selectAll();
    QTest::keyClick(b, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), QString(c.digitsOnly));
  }
}

TEST_F(Form1Test, HostNamesFromTheProgramSurviveEditing) {
  form.setText(TextControl::txtIPAddress, "peer.example.org");
  QLineEdit* b = box("txtIPAddress");
  EXPECT_EQ(b->text(), "peer.example.org");

  b->setCursorPosition(4);
  QTest::keyClicks(b, "7x");
  EXPECT_EQ(b->text(), "peer7.example.org");
  QApplication::clipboard()->setText("z9");
  b->paste();
  EXPECT_EQ(b->text(), "peer79.example.org");
  QTest::keyClick(b, Qt::Key_Backspace);
  EXPECT_EQ(form.text(TextControl::txtIPAddress), "peer7.example.org");
}

TEST_F(Form1Test, EnterInTheSendBoxShowsTheLineAndClearsTheBox) {
  QLineEdit* send = box("txtSend");
  send->clear();
  QTest::keyClicks(send, "hello");
  QTest::keyClick(send, Qt::Key_Return);
  EXPECT_TRUE(form.text(TextControl::txtReceive).startsWith("\r\nLOCAL:hello"));
  EXPECT_TRUE(send->text().isEmpty());
}

TEST_F(Form1Test, HistoryCountsLineBreaksAsCrLf) {
  form.appendText(TextControl::txtReceive, "\r\nab\r\ncd");
  EXPECT_EQ(form.text(TextControl::txtReceive), "\r\nab\r\ncd");
  EXPECT_EQ(form.textLength(TextControl::txtReceive), 8);
  auto* history = control<QPlainTextEdit>("txtReceive");
  // Position in CR LF counting -> position in the box: before "a" is 2 -> 1,
  // between CR and LF (5) lies at the end of "ab", "d" (7) -> 5, past the end -> end.
  for (auto [given, shown] : {std::pair{0, 0}, {2, 1}, {3, 2}, {4, 3}, {5, 3}, {6, 4}, {7, 5}, {8, 6}, {99, 6}}) {
    form.setCaret(TextControl::txtReceive, given);
    EXPECT_EQ(history->textCursor().position(), shown) << given;
  }
  form.setText(TextControl::txtReceive, "one\rtwo\nthree");
  EXPECT_EQ(form.text(TextControl::txtReceive), "one\r\ntwo\r\nthree");
  EXPECT_EQ(form.textLength(TextControl::txtReceive), 15);
}

TEST_F(Form1Test, HistoryTakesAHundredThousandLines) {
  qsizetype expected = 0;
  for (int i = 0; i < 100000; ++i) {
    const QString line = "\r\nREMOTEline " + QString::number(i);
    form.appendText(TextControl::txtReceive, line);
    expected += line.size();
  }
  form.setCaret(TextControl::txtReceive, form.textLength(TextControl::txtReceive));
  EXPECT_EQ(form.textLength(TextControl::txtReceive), expected);
  EXPECT_TRUE(form.text(TextControl::txtReceive).endsWith("\r\nREMOTEline 99999"));
  EXPECT_EQ(control<QPlainTextEdit>("txtReceive")->document()->blockCount(), 100001);
}

TEST_F(Form1Test, ListsKeepPositionsAndReportTheSelectionOnLeaving) {
  form.addListItem(ListControl::InputDevCombo, "Strandlink Input");
  form.addListItem(ListControl::InputDevCombo, "Keyboard");
  auto* list = control<QComboBox>("InputDevCombo");
  EXPECT_EQ(form.listIndex(ListControl::InputDevCombo), -1);  // adding selects nothing
  EXPECT_EQ(list->currentText(), "Combo1");
  form.setListIndex(ListControl::InputDevCombo, 5);
  EXPECT_EQ(form.listIndex(ListControl::InputDevCombo), -1);

  list->setCurrentIndex(1);  // the user's choice
  QFocusEvent popup(QEvent::FocusOut, Qt::PopupFocusReason);
  QApplication::sendEvent(list, &popup);
  EXPECT_EQ(form.state().MidiInDeviceId, 0);  // opening the drop-down is no leaving
  QFocusEvent leave(QEvent::FocusOut, Qt::TabFocusReason);
  QApplication::sendEvent(list, &leave);
  EXPECT_EQ(form.state().MidiInDeviceId, 1);

  // Typed text over a selection selects no line, and Enter adds no line.
  list->lineEdit()->selectAll();
  QTest::keyClicks(list->lineEdit(), "Nothing");
  QTest::keyClick(list->lineEdit(), Qt::Key_Return);
  EXPECT_EQ(list->count(), 2);
  EXPECT_EQ(form.listIndex(ListControl::InputDevCombo), -1);
}

TEST_F(Form1Test, StartUpListsDevicesStacksTheFramesAndCentresTheWindow) {
  midi.inputs = {"Strandlink Input", "Keyboard"};
  midi.outputs = {"Strandlink Output", "Synth"};
  form.Form_Load();
  EXPECT_TRUE(form.isVisible());
  EXPECT_EQ(form.listCount(ListControl::OutputDevCombo), 2);
  EXPECT_EQ(form.listIndex(ListControl::OutputDevCombo), 0);
  EXPECT_EQ(form.listIndex(ListControl::InputDevCombo), 0);
  EXPECT_EQ(control<QComboBox>("OutputDevCombo")->currentText(), "Strandlink Output");
  EXPECT_FALSE(form.text(TextControl::txtIPLocal).isEmpty());
  for (int i = 0; i < 7; ++i) {
    const QByteArray name = "Picture1_" + QByteArray::number(i);
    EXPECT_EQ(control<QWidget>(name.constData())->geometry(), control<QWidget>("Picture1_7")->geometry()) << i;
  }
  const QPoint centre = QGuiApplication::primaryScreen()->availableGeometry().center();
  // Centred on the window's own size: its border, not known before it shows, may shift it a little.
  EXPECT_LE((form.geometry().center() - centre).manhattanLength(), 8);
}

TEST_F(Form1Test, AnimationShowsOneFrameAfterAnother) {
  form.Form_Load();
  const auto shown = [&] {
    QList<int> out;
    for (int i = 0; i < 8; ++i) {
      if (control<QWidget>(("Picture1_" + QByteArray::number(i)).constData())->isVisibleTo(&form)) out << i;
    }
    return out;
  };
  for (int tick = 0; tick < 9; ++tick) {  // round again: 0 follows 7
    form.tmrAnimation_Timer();
    EXPECT_TRUE(shown().contains(tick % 8)) << tick;
    EXPECT_FALSE(shown().contains((tick + 7) % 8)) << tick;
  }
}

TEST_F(Form1Test, HintFollowsThePointerOnlyWhileIdle) {
  QLineEdit* palm = box("txtPalm");
  QMouseEvent move(QEvent::MouseMove, QPointF(10, 20), QPointF(10, 20), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
  QApplication::sendEvent(control<QWidget>("Picture1_3"), &move);
  EXPECT_TRUE(palm->isVisibleTo(&form));
  EXPECT_TRUE(control<QTimer>("tmrShield")->isActive());
  // x 150 - 2775 (hint width) + 7680 (frame left) - 200 = 4855 twips; y 300 twips.
  EXPECT_EQ(palm->pos(), QPoint(324, 20));

  form.tmrShield_Timer();
  EXPECT_FALSE(palm->isVisibleTo(&form));
  EXPECT_FALSE(control<QTimer>("tmrShield")->isActive());

  form.Picture1_MouseMove(0, 0, 0, 0, 0);
  QApplication::sendEvent(palm, &move);  // the pointer onto the hint hides it
  EXPECT_FALSE(palm->isVisibleTo(&form));

  form.enterRunning();
  form.Picture1_MouseMove(0, 0, 0, 150, 300);
  EXPECT_FALSE(palm->isVisibleTo(&form));
  EXPECT_FALSE(control<QTimer>("tmrShield")->isActive());
}

TEST_F(Form1Test, PopUpRestoresAMinimisedWindow) {
  form.show();
  control<QPushButton>("cmdMinimize")->click();
  EXPECT_TRUE(form.windowState() & Qt::WindowMinimized);
  form.restoreAndRaise();
  EXPECT_FALSE(form.windowState() & Qt::WindowMinimized);
  EXPECT_TRUE(form.isVisible());
}

TEST(QtMessageBoxesTest, ShowsAModalBoxWithTitleTextIconAndOk) {
  QWidget owner;
  ui::QtMessageBoxes boxes(&owner);
  for (auto [icon, qtIcon] : {std::pair{BoxIcon::Exclamation, QMessageBox::Warning},
                              {BoxIcon::Information, QMessageBox::Information}, {BoxIcon::None, QMessageBox::NoIcon}}) {
    bool seen = false;
    // Checks and closes the box from inside its own event loop once it is up.
    QTimer closer;
    closer.setInterval(10);
    QObject::connect(&closer, &QTimer::timeout, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (box == nullptr) return;
      seen = true;
      EXPECT_EQ(box->windowTitle(), "Device Error");
      EXPECT_EQ(box->text(), "Midi Input: <b>x</b> :  busy");
      EXPECT_EQ(box->icon(), qtIcon);
      EXPECT_TRUE(box->isModal());
      EXPECT_EQ(box->buttons().size(), 1);
      EXPECT_EQ(box->textFormat(), Qt::PlainText);
      EXPECT_EQ(box->parentWidget(), &owner);
      box->button(QMessageBox::Ok)->click();
    });
    closer.start();
    EXPECT_EQ(boxes.show(icon, "Device Error", "Midi Input: <b>x</b> :  busy"), 1);
    EXPECT_TRUE(seen);
  }
}

}  // namespace
}  // namespace strandlink
