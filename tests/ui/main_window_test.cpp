// The main window on the offscreen platform: the session transitions over a real
// link, the chat, the statistics, thru, the timing choice, the settings files,
// what the address and port boxes let in, and the window program's end on SIGTERM.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QStyleHints>
#include <QProcess>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTest>

#include <csignal>

#include <unistd.h>

#include "link/protocol_choice.h"
#include "settings/preferences.h"
#include "settings/settings_file.h"
#include "support/jack_client.h"
#include "support/program_copy.h"
#include "support/rtp_end.h"
#include "ui/activity_light.h"
#include "ui/chat_history.h"
#include "ui/field_validator.h"
#include "ui/line_shapes.h"
#include "ui/qt_message_boxes.h"
#include "window_fixture.h"
#include "support/real_part.h"

namespace strandlink::test {
namespace {

settings::SettingsChanges readBack(const QString& path) {
  const auto r = settings::readSettingsFile(path, 2, 2);
  EXPECT_EQ(r.outcome, settings::ReadResult::Outcome::Read) << path;
  return r.changes;
}

class RecordingDialogs : public ui::FileDialogs {
 public:
  QString run(const ui::FileDialogRequest& r) override {
    requests << r;
    return answers.isEmpty() ? QString() : answers.takeFirst();
  }
  QStringList answers;  // an empty one is a cancel
  QList<ui::FileDialogRequest> requests;
};

TEST(MainWindow, SettingsComeFromStartUpAndOpenAndGoToSaveAndTheCloseBoxCancelMeaningTheDefaultFile) {
  WindowUnderTest t({"In", "Keyboard"}, {"Out", "Synth"});
  ASSERT_EQ(settings::writeSettingsFile(t.defaultFile(), {"peer.example.org", "4100", "", "4200", 1, 0, true}), "");
  t.window.startUp();
  auto* remote = t.get<QLineEdit>("remoteAddressBox");
  auto* output = t.get<QComboBox>("outputList");
  EXPECT_EQ(remote->text(), "peer.example.org");
  EXPECT_EQ(output->currentIndex(), 1);
  auto* dialogs = new RecordingDialogs;
  t.window.setFileDialogs(std::unique_ptr<ui::FileDialogs>(dialogs));
  // Saved without a suffix, the file gets the one Open's filter shows.
  QDir(t.dir.path()).mkdir("sets");
  const QString chosen = t.dir.filePath("sets/chosen.stn");
  dialogs->answers = {chosen.chopped(4) + QChar(0) + "rest", "", chosen, ""};
  remote->setText("10.0.0.1");
  t.get<QAction>("saveAction")->trigger();  // to the chosen name, up to its NUL
  remote->setText("10.0.0.2");
  output->setCurrentIndex(0);
  t.get<QAction>("saveAction")->trigger();
  EXPECT_EQ(std::pair(*readBack(chosen).remoteHost, *readBack(chosen).outputPosition), std::pair(QString("10.0.0.1"), 1));
  EXPECT_EQ(*readBack(t.defaultFile()).remoteHost, "10.0.0.2");
  t.get<QAction>("openAction")->trigger();
  EXPECT_EQ(std::pair(remote->text(), output->currentIndex()), std::pair(QString("10.0.0.1"), 1));
  t.get<QAction>("openAction")->trigger();
  EXPECT_EQ(std::pair(remote->text(), output->currentIndex()), std::pair(QString("10.0.0.2"), 0));
  ASSERT_EQ(dialogs->requests.size(), 4);
  for (int i = 0; i < 4; ++i) {
    const auto& r = dialogs->requests[i];
    EXPECT_TRUE(r.open == (i >= 2) && r.fileMustExist == r.open && r.confirmOverwrite == !r.open) << i;
    EXPECT_EQ(r.filters, QStringList({"All Files (*)", "Strandlink Files (*.stn)"}));
    EXPECT_TRUE(r.selectedFilter == 1 && r.title == "Strandlink") << i;
    if (i > 0) {
      EXPECT_EQ(r.initialDirectory, t.dir.filePath("sets")) << i;  // where the last choice was
    }
  }
  // Typed text over a selection selects no entry, and Enter adds none.
  output->lineEdit()->selectAll();
  QTest::keyClicks(output->lineEdit(), "Nothing\r");
  EXPECT_EQ(output->count(), 2);
  t.window.close();
  EXPECT_EQ(std::pair(*readBack(t.defaultFile()).outputPosition, t.quits), std::pair(-1, 0));
  EXPECT_TRUE(t.boxes.boxes.isEmpty()) << t.boxes.texts();
}

// The command line's values go over the file's; one that fits no device ends the
// window without a default file written.
TEST(MainWindow, CommandLineValuesGoOverTheFileAndABadDeviceLeavesNoDefaultFile) {
  WindowUnderTest t({"In", "Keyboard"}, {"Out", "Synth"});
  t.window.startUp();
  link::SettingOverrides o;
  o.remoteHost = "stage.example";
  o.localPort = "5000";
  o.output = "synth";
  EXPECT_EQ(t.window.applyCommandLine(o), "");
  const auto s = t.window.currentSettings();
  EXPECT_TRUE(s.remoteHost == "stage.example" && s.localPort == "5000" && s.outputPosition == 1 &&
              s.remotePort == "4000");  // the file's (here the first run's)
  // RTP-MIDI carries no chat: the box says so and takes nothing, until classic again.
  auto* chat = t.get<QLineEdit>("chatInput");
  o.protocol = settings::Protocol::Rtp;
  EXPECT_EQ(t.window.applyCommandLine(o), "");
  EXPECT_TRUE(!chat->isEnabled() && chat->text() == "RTP-MIDI carries no chat") << chat->text();
  o.protocol = settings::Protocol::Classic;
  EXPECT_EQ(t.window.applyCommandLine(o), "");
  EXPECT_TRUE(chat->isEnabled() && chat->text() == ui::kChatPrompt) << chat->text();
  o.input = "Pads";
  EXPECT_TRUE(t.window.applyCommandLine(o).startsWith("--input: "));
  t.window.close();
  EXPECT_FALSE(QFile::exists(t.defaultFile()));
}

// Without a MIDI service the lists are empty: launch and Start say so, and the
// settings file's devices are neither blamed on it nor lost.
TEST(MainWindow, WithoutAMidiServiceLaunchAndStartSayThatNoneRuns) {
  WindowUnderTest t(kNoDevices, kNoDevices);
  ASSERT_EQ(settings::writeSettingsFile(t.defaultFile(), {"127.0.0.1", "4000", "", "4000", 1, 1, true}), "");
  t.window.startUp();
  EXPECT_EQ(t.boxes.texts(), QStringList{"No MIDI service is running."});
  EXPECT_EQ(t.get<QLineEdit>("remoteAddressBox")->text(), "127.0.0.1");
  t.boxes.boxes.clear();
  const int p = freePortPair();
  EXPECT_FALSE(t.start(p, p));
  ASSERT_EQ(t.boxes.texts(), QStringList{"No MIDI service is running."});
  EXPECT_EQ(t.boxes.boxes[0].title, "Device Error");
  t.window.close();  // the devices chosen are kept for a run with a service
  EXPECT_EQ(std::pair(*readBack(t.defaultFile()).outputPosition, *readBack(t.defaultFile()).inputPosition),
            std::pair(1, 1));
}

// Typing meets the key filter, any other way in the boxes' validator (paste stands for it).
TEST(MainWindow, AddressAndPortBoxesLetInOnlyWhatTheyTakeAndKeepTheProgramsText) {
  WindowUnderTest t(kNoDevices, kNoDevices);
  // Host names as the command line takes them: letters, digits, "." and "-".
  for (auto [name, kept] : {std::pair{"remoteAddressBox", "stage-12.local3"}, {"localAddressBox", "stage-12.local3"},
                            {"remotePortBox", "123"}, {"localPortBox", "123"}}) {
    SCOPED_TRACE(name);
    auto* box = t.get<QLineEdit>(name);
    box->clear();
    QTest::keyClicks(box, "st@age -12,.local3");
    EXPECT_EQ(box->text(), kept);
    for (auto key : {Qt::Key_Backspace, Qt::Key_Home, Qt::Key_Delete}) QTest::keyClick(box, key);
    EXPECT_EQ(box->text(), QString(kept).mid(1).chopped(1));
    box->clear();
    QApplication::clipboard()->setText("st@age -12,.local3");
    QTest::keyClick(box, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(box->text(), kept);
  }
  // A text the program put there (a settings file's) survives editing next to it.
  auto* box = t.get<QLineEdit>("remoteAddressBox");
  ui::setTextUnfiltered(*box, "peer!.example.org");
  box->setCursorPosition(4);
  QTest::keyClicks(box, "7!");
  QApplication::clipboard()->setText("#9");
  box->paste();
  QTest::keyClick(box, Qt::Key_Backspace);
  EXPECT_EQ(t.window.currentSettings().remoteHost, "peer7!.example.org");
}

TEST(MainWindow, HistoryCountsLineBreaksAsCrLf) {
  QPlainTextEdit h;
  ui::appendHistoryLine(h, "ab");
  ui::appendHistoryLine(h, "cd");
  EXPECT_EQ(ui::historyLength(h), 8);
  // CR LF counting -> the box: before "a" is 2 -> 1, between CR and LF (5) is the end
  // of "ab", "d" (7) -> 5, past the end -> the end.
  for (auto [given, shown] : {std::pair{0, 0}, {2, 1}, {4, 3}, {5, 3}, {6, 4}, {7, 5}, {8, 6}, {99, 6}}) {
    ui::setHistoryCaret(h, given);
    EXPECT_EQ(h.textCursor().position(), shown) << given;
  }
  ui::appendHistoryLine(h, "one\rtwo\r\nthree");  // breaks a peer sends break the history's line too
  EXPECT_EQ(ui::historyText(h), "\r\nab\r\ncd\r\none\r\ntwo\r\nthree");
}

// The history cannot be typed into and keeps the last lines only; the chat box
// takes what a peer reads and says when a line was cut.
TEST(MainWindow, ChatHistoryIsReadOnlyAndBoundedAndALongLineIsCutWithAWord) {
  WindowUnderTest t(kNoDevices, kNoDevices);
  auto* history = t.get<QPlainTextEdit>("chatHistory");
  auto* input = t.get<QLineEdit>("chatInput");
  ASSERT_TRUE(t.activate());
  QTest::keyClicks(history, "typed");
  EXPECT_EQ(ui::historyText(*history), "");
  for (int i = 0; i < ui::kChatHistoryLines + 10; ++i) emit t.window.link().chatLineReceived(QString::number(i));
  EXPECT_EQ(history->blockCount(), ui::kChatHistoryLines);
  EXPECT_TRUE(ui::historyText(*history).endsWith(QString("\r\nREMOTE%1").arg(ui::kChatHistoryLines + 9)));
  QApplication::clipboard()->setText(QString(link::kChatLineLimit + 1, u'a'));
  input->clear();
  for (int paste = 0; paste < 2; ++paste) QTest::keyClick(input, Qt::Key_V, Qt::ControlModifier);
  EXPECT_EQ(input->text().size(), link::kChatLineLimit);
  EXPECT_TRUE(ui::historyText(*history).endsWith("\r\n(a chat line holds at most 2000 characters: the rest was cut)"))
      << ui::historyText(*history).right(100);
  EXPECT_EQ(ui::historyText(*history).count("the rest was cut"), 1);  // said once
}

TEST(MainWindow, ASessionLocksTheSetUpChatsAndStopThenExitEndsTheProgramButNotByADoubleClick) {
  REQUIRE_REAL_PART(jackAvailable(), kNoJackServer);
  WindowUnderTest t;
  t.window.startUp();
  t.boxes.boxes.clear();  // no default file yet
  auto* input = t.get<QLineEdit>("chatInput");
  auto* history = t.get<QPlainTextEdit>("chatHistory");
  ASSERT_TRUE(t.activate());
  QTest::mouseClick(input, Qt::LeftButton);  // the prompt goes as the box takes the focus
  QTest::keyClicks(input, "early\r");
  EXPECT_EQ(ui::historyText(*history), "\r\nLOCAL:early\r\n(not sent: no session is running)");
  EXPECT_TRUE(history->textCursor().atEnd() && input->text().isEmpty());
  const int p = freePortPair(), q = freePortPair();
  Side peer(midi::makeMidiService("UiPeer"));
  peer.configure(q, p);
  ASSERT_TRUE(t.start(p, q)) << t.boxes.texts();
  const auto check = [&](bool running) {
    SCOPED_TRACE(running ? "running" : "idle");
    for (const char* name : {"startButton", "thruBox", "inputList", "outputList", "protocolBox", "timingBox"})
      EXPECT_EQ(t.get(name)->isEnabled(), !running) << name;
    for (const char* name : {"stopButton", "statsBox", "chatInput", "highOption", "peerOnlyBox"})
      EXPECT_TRUE(t.get(name)->isEnabled()) << name;
    for (const char* name : {"remoteAddressBox", "localAddressBox", "remotePortBox", "localPortBox"})
      EXPECT_EQ(t.get<QLineEdit>(name)->isReadOnly(), running) << name;
    EXPECT_EQ(t.get("panicButton")->isEnabled(), running);
    const QString stop = running ? "St&op" : "&Exit";
    EXPECT_EQ(t.get<QPushButton>("stopButton")->text() + t.get<QAction>("exitAction")->text(), stop + stop);
    for (const char* menu : {"fileMenu", "helpMenu"})
      EXPECT_EQ(t.get<QMenu>(menu)->menuAction()->isEnabled(), !running) << menu;
  };
  check(true);
  auto* status = t.get<QLabel>("statusLabel");
  auto* figures = t.get<QLabel>("figuresLabel");
  const auto green = [&] {
    return status->autoFillBackground() && status->palette().color(QPalette::Window).green() > 100;
  };
  // Probes sent before the peer is up are no loss of the link.
  QTest::qWait(2500);
  ASSERT_TRUE(peer.start()) << peer.boxes.texts();
  // Before the first reply the line goes out, with a word that it may not be heard.
  QTest::keyClicks(input, "x\r");
  EXPECT_TRUE(ui::historyText(*history).endsWith("\r\nLOCAL:x \r\n(Not Connected: the peer may not hear it)"))
      << ui::historyText(*history);
  EXPECT_TRUE(waitFor([&] { return peer.chat == QStringList{"x "}; })) << peer.chat;
  EXPECT_TRUE(waitFor([&] {
    return status->text() == "Connected" && green() && status->toolTip().contains("\nLink: rtt") &&
           figures->text().startsWith("Round trip ");
  })) << status->text() << status->toolTip() << figures->text();
  EXPECT_TRUE(figures->text().endsWith(" ms, 0% lost")) << figures->text();

  // The echo is what the peer got; a peer's line breaks cannot fake a line of ours.
  input->insert(QString::fromUtf8("h\u00e9llo \u65e5"));
  QTest::keyClicks(input, "\r");
  EXPECT_TRUE(waitFor([&] { return peer.chat.size() == 2 && peer.chat[1] == QString::fromUtf8("h\u00e9llo ?"); }))
      << peer.chat;
  peer.link.sendChatLine("hi\r\nLOCAL:yes");
  EXPECT_TRUE(waitFor([&] {
    return ui::historyText(*history).endsWith(QString::fromUtf8("\r\nLOCAL:h\u00e9llo ?\r\nREMOTEhi\\x0d\\x0aLOCAL:yes"));
  })) << ui::historyText(*history);
  // The peer gone, its last round trip is no figure of the link any more.
  peer.link.stop();
  EXPECT_TRUE(waitFor([&] { return status->text() == "Not Connected" && figures->text().startsWith("No answer, "); }))
      << status->text() << figures->text();

  // Stop becomes Exit under the pointer: the second click of a double-click is no Exit.
  auto* hints = QGuiApplication::styleHints();
  const int interval = hints->mouseDoubleClickInterval();
  hints->setMouseDoubleClickInterval(60000);
  for (int click = 0; click < 2; ++click) QTest::mouseClick(t.get("stopButton"), Qt::LeftButton);
  check(false);
  EXPECT_TRUE(status->text() == "Not Connected" && !green() && (status->toolTip() + figures->text()).isEmpty());
  EXPECT_TRUE(t.window.isVisible() && t.quits == 0 && !QFile::exists(t.defaultFile()));
  hints->setMouseDoubleClickInterval(1);
  QTest::qWait(20);
  t.get<QAction>("exitAction")->trigger();  // File > Exit presses the button
  hints->setMouseDoubleClickInterval(interval);
  EXPECT_TRUE(!t.window.isVisible() && t.quits == 1);
  EXPECT_EQ(readBack(t.defaultFile()).remotePort, QString::number(q));
  EXPECT_TRUE(t.boxes.boxes.isEmpty()) << t.boxes.texts();
}

TEST(MainWindow, ARefusedStartSaysWhatAndWhereInOneBoxAndLeavesTheCursorOnTheFirstValueInQuestion) {
  WindowUnderTest t({"In"}, {"Out"});
  ASSERT_TRUE(t.activate());
  const QString taken = QString::number(freePortPair()), free = QString::number(freePortPair());
  RawPeer holder(taken.toInt());
  struct Case {
    QString localPort, remoteHost;
    const char* field;
    QString text;
  };
  for (const Case& c : {Case{"65535", "127.0.0.1", "localPortBox",
                             "Local Port value must be at most 65534: the chat uses the port above it"},
                        Case{free, "nosuch.invalid", "remoteAddressBox",
                             "Could not find the host name nosuch.invalid for Remote IP Address"},
                        Case{taken, "127.0.0.1", "localPortBox",
                             "Tried to bind MIDI socket:  Address already in use. (local port " + taken + ", the MIDI port)"}}) {
    t.boxes.boxes.clear();
    for (auto [name, text] : {std::pair{"localPortBox", c.localPort}, {"remoteAddressBox", c.remoteHost},
                              {"localAddressBox", QString("127.0.0.1")}, {"remotePortBox", free}})
      ui::setTextUnfiltered(*t.get<QLineEdit>(name), text);  // a host name comes from a settings file
    QTest::mouseClick(t.get("startButton"), Qt::LeftButton);
    EXPECT_EQ(t.boxes.texts(), QStringList{c.text});
    auto* field = t.get<QLineEdit>(c.field);
    EXPECT_TRUE(QApplication::focusWidget() == field && field->selectedText() == field->text()) << c.field;
  }
  // All four empty: one box lists them, and the first of them takes the cursor.
  t.boxes.boxes.clear();
  for (const char* name : {"remoteAddressBox", "remotePortBox", "localAddressBox", "localPortBox"})
    t.get<QLineEdit>(name)->clear();
  t.get<QLineEdit>("remoteAddressBox")->setFocus();
  QTest::mouseClick(t.get("startButton"), Qt::LeftButton);
  ASSERT_EQ(t.boxes.boxes.size(), 1) << t.boxes.texts();
  EXPECT_EQ(t.boxes.boxes[0].text.count('\n'), 3) << t.boxes.texts();
  EXPECT_EQ(QApplication::focusWidget(), t.get("localPortBox"));
  EXPECT_FALSE(t.window.link().running());
}

TEST(MainWindow, CountsShowOnlyWhileTickedTheLightsAlwaysAndPanicReleasesThePeersNotesAndSaysSo) {
  REQUIRE_REAL_PART(jackAvailable(), kNoJackServer);
  WindowUnderTest t;
  t.window.startUp();
  const int p = freePortPair(), q = freePortPair();
  RawPeer peer(q);
  ASSERT_TRUE(t.start(p, q)) << t.boxes.texts();
  JackSynth synth("ui-synth");  // on our output port, which Start has opened
  const auto ours = synth.midiPorts("^UiWindow:out$", JackPortIsOutput);
  ASSERT_TRUE(ours.size() == 1 && synth.connect(ours[0], synth.port()));
  link::Counts told;  // what the window was last told
  QObject::connect(&t.window.link(), &link::Link::countsChanged, [&](link::Counts c) { told = c; });
  const auto play = [&](char note) {
    peer.sendTo(p, QByteArray("\x90") + note + char(100));
    const auto want = told.received + 1;
    EXPECT_TRUE(waitFor([&] { return told.received == want; }));
  };
  auto* light = t.get<ui::ActivityLight>("outputLight");
  QSignalSpy lit(light, &ui::ActivityLight::litChanged);
  auto* stats = t.get<QCheckBox>("statsBox");
  auto* sent = t.get<QLineEdit>("sentCount");
  auto* received = t.get<QLineEdit>("receivedCount");
  stats->click();
  play(60);
  EXPECT_EQ(received->text() + "|" + sent->text(), "1|");
  stats->click();  // off: both emptied, counting goes on, and the light still shows the traffic
  EXPECT_EQ(received->text() + sent->text(), "");
  light->putOut();
  lit.clear();
  play(61);
  EXPECT_TRUE(!lit.isEmpty() && lit[0][0].toBool());
  stats->click();  // on again: empty until the next change
  EXPECT_EQ(received->text() + sent->text(), "");
  play(62);
  EXPECT_EQ(received->text() + "|" + sent->text(), "3|");

  ASSERT_TRUE(synth.waitFor(3));
  synth.clear();
  t.get<QPushButton>("panicButton")->click();
  ASSERT_TRUE(synth.waitFor(3));
  EXPECT_EQ(synth.received(), std::vector<MidiBytes>({{0x80, 60, 0}, {0x80, 61, 0}, {0x80, 62, 0}}));
  EXPECT_EQ(t.get<QLabel>("panicNote")->text(), "3 notes released");
}

TEST(MainWindow, ThruIsRefusedForAFeedbackLoopAndPeerOnlyTheTimingChoiceAndTheOptionsAreRemembered) {
  settings::savePeerFilter(true);
  WindowUnderTest t({"Loop", "Keyboard"}, {"Loop", "Synth"});
  t.window.startUp();
  t.boxes.boxes.clear();
  auto* thru = t.get<QCheckBox>("thruBox");
  const auto linesShown = [&] {
    int shown = 0;
    for (auto* lines : t.window.findChildren<ui::LineShapes*>())
      for (int i = 0; i < 4; ++i) shown += lines->isLineVisible(QStringLiteral("thruLine%1").arg(i));
    return shown;
  };
  thru->click();  // entry 0 of both lists: the same name
  EXPECT_TRUE(!thru->isChecked() && linesShown() == 0);
  ASSERT_EQ(t.boxes.boxes.size(), 1);
  EXPECT_EQ(t.boxes.boxes[0].title, "Strandlink Warning");
  EXPECT_TRUE(t.boxes.boxes[0].text.startsWith("You will create a feedback loop"));
  t.get<QComboBox>("inputList")->setCurrentIndex(1);
  thru->click();
  EXPECT_TRUE(thru->isChecked() && linesShown() == 4);
  thru->click();
  EXPECT_TRUE(!thru->isChecked() && linesShown() == 0 && t.boxes.boxes.size() == 1);

  auto* peerOnly = t.get<QCheckBox>("peerOnlyBox");
  EXPECT_TRUE(peerOnly->isChecked() && t.window.link().peerFilter());
  peerOnly->click();
  EXPECT_FALSE(t.window.link().peerFilter() || settings::loadPeerFilter());

  // The timing choice, remembered as it is made; the delay counts in steady timing only.
  auto* timing = t.get<QComboBox>("timingBox");
  auto* delay = t.get<QSpinBox>("delayBox");
  EXPECT_TRUE(timing->currentText() == "Immediate" && !delay->isEnabled());
  timing->setCurrentIndex(1);
  emit timing->activated(1);
  delay->setValue(25);
  EXPECT_TRUE(delay->isEnabled() && settings::loadTiming() == settings::Timing::Steady);
  EXPECT_EQ(settings::loadDelayMs(), 25);
  link::SettingOverrides flags;
  flags.timing = settings::Timing::Immediate;
  EXPECT_EQ(t.window.applyCommandLine(flags), "");
  EXPECT_TRUE(timing->currentText() == "Immediate" && !delay->isEnabled() && delay->value() == 25);
  EXPECT_EQ(settings::loadTiming(), settings::Timing::Immediate);

  // The protocol choice shows what was remembered and remembers a flag's choice.
  auto* protocolBox = t.get<QComboBox>("protocolBox");
  for (const auto p : {settings::Protocol::Classic, settings::Protocol::Rtp, settings::Protocol::Multicast}) {
    link::saveProtocol(p);
    WindowUnderTest next({"Loop"}, {"Loop"});
    next.window.startUp();
    EXPECT_EQ(next.get<QComboBox>("protocolBox")->currentIndex(), int(p)) << int(p);
  }
  flags.protocol = settings::Protocol::Classic;
  EXPECT_EQ(t.window.applyCommandLine(flags), "");
  EXPECT_TRUE(protocolBox->currentText() == "Classic" && link::loadProtocol() == settings::Protocol::Classic);

  // The options the next run finds as this one left them; thru only where it loops nothing.
  thru->click();
  for (const char* name : {"statsBox", "popUpBox"}) {
    auto* box = t.get<QCheckBox>(name);
    if (!box->isChecked()) box->click();  // an earlier test of this run may have left it on
  }
  for (int input : {1, 0}) {
    SCOPED_TRACE(input);
    WindowUnderTest next({"Loop", "Keyboard"}, {"Loop", "Synth"});
    ASSERT_EQ(settings::writeSettingsFile(next.defaultFile(), {"", "4000", "", "4000", 0, input, true}), "");
    next.window.startUp();
    EXPECT_EQ(next.get<QCheckBox>("thruBox")->isChecked(), input == 1);
    EXPECT_TRUE(next.get<QCheckBox>("statsBox")->isChecked() && next.get<QCheckBox>("popUpBox")->isChecked());
    EXPECT_TRUE(next.boxes.boxes.isEmpty()) << next.boxes.texts();
  }
}

// Programs started and ended after start-up show in the lists while no session
// runs; the chosen device is kept by name, and chosen again when it comes back.
TEST(MainWindow, TheDeviceListsFollowPortsThatComeAndGoAndKeepTheChoiceByName) {
  ASSERT_TRUE(jackAvailable());
  auto chosen = std::make_unique<JackSynth>("ui-list-a");
  WindowUnderTest t;
  t.window.startUp();
  auto* outputs = t.get<QComboBox>("outputList");
  const auto listed = [&](const QString& name) { return outputs->findText(name) >= 0; };
  outputs->setCurrentIndex(outputs->findText("ui-list-a:in"));
  ASSERT_GT(outputs->currentIndex(), 0);
  JackSynth late("ui-list-b");
  ASSERT_TRUE(waitFor([&] { return listed("ui-list-b:in"); }, 3000));
  EXPECT_EQ(outputs->currentText(), "ui-list-a:in");
  chosen.reset();
  ASSERT_TRUE(waitFor([&] { return !listed("ui-list-a:in"); }, 3000));
  EXPECT_EQ(outputs->currentIndex(), -1);  // no other device stands in for it
  chosen = std::make_unique<JackSynth>("ui-list-a");
  ASSERT_TRUE(waitFor([&] { return outputs->currentText() == "ui-list-a:in"; }, 3000));
  EXPECT_EQ(t.window.currentSettings().outputPosition, outputs->currentIndex());
}

// On stage nobody clicks: the JACK server killed and started again with its
// programs started seconds later (a single device: device_return_test, and the
// window's banner: session_view_test). MIDI reaches the synth again within 3 s, no
// box shows, and meanwhile the status line's tooltip says what is missing.
TEST(MainWindow, DevicesAndTheServerThatComeBackPlayAgainWithoutAClickAndTheStatusSaysWhatIsMissing) {
  KillableJack server("strandlink-ui-restart-" + std::to_string(::getpid()));
  REQUIRE_REAL_PART(server.start(), "jackd cannot start here");
  auto keyboard = std::make_unique<JackKeyboard>("ui-kb");
  auto synth = std::make_unique<JackSynth>("ui-syn");
  WindowUnderTest t(midi::makeMidiService("UiStage"));
  t.window.startUp();
  t.get<QComboBox>("inputList")->setCurrentIndex(entryOf(t.window.link().devices().inputs, "ui-kb:out"));
  t.get<QComboBox>("outputList")->setCurrentIndex(entryOf(t.window.link().devices().outputs, "ui-syn:in"));
  t.boxes.boxes.clear();  // start-up's own (no settings file yet)
  const int p = freePortPair(), q = freePortPair();
  RawPeer peer(q);
  ASSERT_TRUE(t.start(p, q));
  auto* status = t.get<QLabel>("statusLabel");
  auto* banner = t.get<QLabel>("reportBanner");
  const auto warned = [&](const QString& missing) {
    return status->toolTip().simplified().endsWith(" - " + missing) &&
           status->palette().color(QPalette::Window) == ui::kBadColour;
  };
  const auto plays = [&](int deadlineMs) {
    synth->clear();
    while (peer.receive(0)) {
    }
    bool sent = false;
    return waitFor([&] {
      keyboard->play({{0x90, 0x40, 0x41}});
      peer.sendTo(p, QByteArray("\x90\x3C\x40", 3));
      while (const auto got = peer.receive(0)) sent = sent || *got == QByteArray("\x90\x40\x41", 3);
      return sent && countOf(*synth, 0x90) > 0;
    }, deadlineMs);
  };
  ASSERT_TRUE(plays(10000));

  server.stop(SIGKILL);
  keyboard.reset();
  synth.reset();
  ASSERT_TRUE(waitFor([&] { return warned("MIDI service missing"); }, 3000)) << status->toolTip();
  ASSERT_TRUE(server.start());
  ASSERT_TRUE(waitFor([&] { return warned("input and output missing"); }, 3000)) << status->toolTip();
  settle(2000);  // the programs come seconds after the server
  keyboard = madeWhenServed<JackKeyboard>("ui-kb");
  synth = madeWhenServed<JackSynth>("ui-syn");
  EXPECT_TRUE(plays(3000)) << "no MIDI within 3 s of the programs' return";
  EXPECT_TRUE(waitFor([&] { return banner->isHidden(); }, 1500)) << banner->text();
  EXPECT_TRUE(t.boxes.boxes.isEmpty()) << t.boxes.texts();  // none that anybody would have to click
}

// A copy of the program in a directory of its own keeps its default settings file
// there. On the first run the signal comes while the missing file's box is open.
TEST(WindowProgram, SigtermEndsItAsTheCloseBoxDoesAlsoDuringAStartUpBox) {
  for (const bool firstRun : {false, true}) {
    SCOPED_TRACE(firstRun ? "first run" : "main loop");
    QTemporaryDir dir;
    const QString program = dir.filePath("strandlink"), file = dir.filePath("default.stn");
    ASSERT_TRUE(QFile::copy(QStringLiteral(STRANDLINK_PROGRAM), program));
    QFile f(file);  // two records: an end writes all seven
    if (!firstRun) {
      ASSERT_TRUE(f.open(QIODevice::WriteOnly) && f.write("\"REMOTEPORT:\",\"4321\"\r\n") > 0);
      f.close();
    }
    QProcess p;
    auto env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    p.setProcessEnvironment(env);
    p.start(program, {"--name", "UiSignal"});
    ASSERT_TRUE(p.waitForStarted());
    EXPECT_TRUE(waitFor([&] { return takesSignal(p.processId(), SIGTERM); }));
    ASSERT_TRUE(endsCleanlyOn(p, SIGTERM, 20000));
    const auto written = readBack(file);  // the box's 4000 had come in before the end
    EXPECT_TRUE(written.remotePort == (firstRun ? "4000" : "4321") && written.highPriority) << p.readAllStandardError().toStdString();
  }
}

// An unknown inviter is asked about in a bar, never a box, so Panic works while it
// waits; a refusal holds for that name, and "Always" lets the address in and lists it.
TEST(MainWindow, AnUnknownRtpInviterIsAskedAboutInABarAndAlwaysListsIt) {
  REQUIRE_REAL_PART(jackAvailable(), kNoJackServer);
  settings::saveAllowed({});
  WindowUnderTest t;
  t.window.setAdmission(settings::Admission::Ask, {});
  t.window.startUp();
  t.boxes.boxes.clear();
  t.get<QComboBox>("protocolBox")->setCurrentIndex(int(settings::Protocol::Rtp));
  const int p = freePortPair();
  t.get<QLineEdit>("remoteAddressBox")->clear();
  t.get<QLineEdit>("localAddressBox")->setText("127.0.0.1");
  t.get<QLineEdit>("localPortBox")->setText(QString::number(p));
  t.get<QPushButton>("startButton")->click();
  ASSERT_TRUE(t.window.link().running()) << t.boxes.texts();
  auto* bar = t.get("inviterBar");
  End peer(freePortPair(), QStringLiteral("Line\nbreak"));
  ASSERT_TRUE(peer.start(p));
  ASSERT_TRUE(waitFor([&] { return bar->isVisible(); }, 5000));
  auto* question = t.get<QLabel>("inviterQuestion");
  EXPECT_EQ(question->text(), "“Line\\x0abreak” at 127.0.0.1 asks to link");
  // All of it beside the buttons, measured with the label's own font.
  const QRect needed = question->fontMetrics().boundingRect(question->contentsRect(), Qt::TextWordWrap, question->text());
  EXPECT_TRUE(question->contentsRect().contains(needed)) << needed.width() << "x" << needed.height();
  t.get<QPushButton>("panicButton")->click();
  EXPECT_TRUE(t.boxes.boxes.isEmpty() && !peer.connected());
  t.get<QPushButton>("inviterRefuse")->click();
  EXPECT_TRUE(waitFor([&] { return !peer.sink.notices.filter(QStringLiteral("refused")).isEmpty(); }, 5000));
  peer.rtp.stop();
  peer.name = QStringLiteral("Other");
  ASSERT_TRUE(peer.start(p));
  ASSERT_TRUE(waitFor([&] { return bar->isVisible(); }, 5000));
  t.get<QPushButton>("inviterAlways")->click();
  EXPECT_TRUE(waitFor([&] { return peer.connected(); }, 5000));
  EXPECT_EQ(settings::loadAllowed(), QStringList{QStringLiteral("127.0.0.1")});
  settings::saveAllowed({});
}

}  // namespace
}  // namespace strandlink::test
