// Settings files and File > Open / Save: the exact form, reading back what was
// written, tolerance of hand-edited files, bad records, and saves that fail.
#include "settings/settings_file.h"

#include <sched.h>
#include <signal.h>
#include <sys/resource.h>

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstring>
#include <optional>

#include "session/session.h"
#include "settings/file_dialog.h"
#include "support/plain_view.h"
#include "support/qt_printers.h"
#include "support/recording_boxes.h"
#include "support/stub_midi.h"

namespace strandlink::settings {
namespace {

using T = TextControl;

bool put(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}
// A box as icon|title|text.
QString shown(const test::RecordedBox& b) { return QString::number(int(b.icon)) + '|' + b.title + '|' + b.text; }
QByteArray get(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<none>");
}

using Texts = std::array<QString, 4>;  // remote address and port, local address and port

// A session over plain controls: three output entries (mapper first), two inputs.
struct Bench {
  Bench() {
    for (auto name : {"Mapper", "Out A", "Out B"}) view.addListItem(ListControl::OutputDevCombo, name);
    for (auto name : {"Own In", "In A"}) view.addListItem(ListControl::InputDevCombo, name);
    set({"ip", "port", "lip", "lport"}, 0, 0, true);
    state.MidiOutDeviceId = state.MidiInDeviceId = 7;
  }
  void set(const Texts& texts, int out, int in, bool high) {
    for (int i = 0; i < 4; ++i) view.setText(kTexts[i], texts[i]);
    view.setListIndex(ListControl::OutputDevCombo, out);
    view.setListIndex(ListControl::InputDevCombo, in);
    view.setHighPrioritySelected(high);
  }
  Texts texts() const {
    return {view.text(kTexts[0]), view.text(kTexts[1]), view.text(kTexts[2]), view.text(kTexts[3])};
  }
  int out() const { return view.listIndex(ListControl::OutputDevCombo); }
  int in() const { return view.listIndex(ListControl::InputDevCombo); }
  static constexpr T kTexts[] = {T::txtIPAddress, T::txtRemotePort, T::txtIPLocal, T::txtPortLocal};

  SessionState state;
  test::PlainView view;
  test::RecordingBoxes boxes;
  test::StubMidiService midi;
  Session session{state, view, boxes, midi};
};

class Settings : public ::testing::Test {
 protected:
  QString path(const char* name = "s.stn") const { return dir.filePath(name); }
  void load(Bench& b, const QByteArray& bytes) {
    ASSERT_TRUE(put(path("in.stn"), bytes));
    LoadSettings(b.session, path("in.stn"));
  }
  QTemporaryDir dir;
};

TEST_F(Settings, WritesSevenCrLfRecordsOneBytePerCharacter) {
  Bench b;
  // U+03A9 is outside ISO 8859-1; U+1F600 is one character in two UTF-16 units.
  b.set({"10.0.0.2", "5004", QStringLiteral("\u00e9\u03a9\U0001F600"), "5006"}, 2, -1, false);
  ASSERT_TRUE(put(path(), QByteArray(4000, 'x')));  // saving replaces all of it
  ASSERT_TRUE(SaveSettings(b.session, path()));
  EXPECT_EQ(get(path()), QByteArray("\"REMOTEIP:\",\"10.0.0.2\"\r\n\"REMOTEPORT:\",\"5004\"\r\n"
                                    "\"LOCALIP:\",\"\xe9??\"\r\n\"LOCALPORT:\",\"5006\"\r\n"
                                    "\"MIDIOUT:\",2\r\n\"MIDIIN:\",-1\r\n\"PRIORITY:\",#FALSE#\r\n"));
}

TEST_F(Settings, EverySavedSelectionAndTextReadsBack) {
  struct Case { Texts texts; int out, in; bool high; };
  const Case cases[] = {
      {{"10.0.0.2", "5004", "10.0.0.1", "5006"}, 0, 0, true},
      {{"", "", "", ""}, -1, -1, false},
      {{"a\"b,c", "\"", ",", QStringLiteral("\"\"Caf\u00e9\u00ff")}, 2, 1, false},
  };
  for (const Case& c : cases) {
    Bench writer, reader;
    writer.set(c.texts, c.out, c.in, c.high);
    ASSERT_TRUE(SaveSettings(writer.session, path()));
    reader.set({"x", "x", "x", "x"}, 1, 1, !c.high);
    LoadSettings(reader.session, path());
    EXPECT_TRUE(reader.boxes.boxes.isEmpty());
    EXPECT_EQ(reader.texts(), c.texts);
    EXPECT_EQ(std::pair(reader.out(), reader.in()), std::pair(c.out, c.in));
    // An output entry of -1 is device -2: none.
    EXPECT_EQ(std::pair(reader.state.MidiOutDeviceId, reader.state.MidiInDeviceId), std::pair(c.out - 1, c.in));
    EXPECT_EQ(reader.view.highPrioritySelected(), c.high);
  }
}

TEST_F(Settings, HandEditedFilesAreReadAsAStreamOfPairs) {
  Bench b;
  load(b, "");  // an empty file changes nothing
  EXPECT_EQ(b.texts()[1], "port");
  load(b,
       "\"remoteip:\",\"1.1.1.1\"\r\n\"REMOTEIP\",\"2.2.2.2\"\r\n\"COLOUR:\",\"red\"\r\n"  // not our keys
       "\"MIDIIN:\",-1\r\n\"MIDIOUT:\",2\n"                       // any order, LF only
       "  LOCALIP: , 10.0.0.8 \r\r\n"                             // unquoted, blanks, CR only, empty line
       "\"REMOTEPORT:\",\"10.0\"0.2\"\r\n"                        // a stray quote stays in its line
       "\"LOCALPORT:\",\"6000\r\n"                                // so does a missing one
       "\"MIDIOUT:\",-1,\"PRIORITY:\"\n#FALSE#\n\n");             // repeated; pairs across lines
  EXPECT_TRUE(b.boxes.boxes.isEmpty());
  EXPECT_EQ(b.texts(), (Texts{"ip", "10.0", "10.0.0.8", "6000"}));
  EXPECT_EQ(std::pair(b.out(), b.in()), std::pair(-1, -1));
  EXPECT_EQ(std::pair(b.state.MidiOutDeviceId, b.state.MidiInDeviceId), std::pair(-2, -1));
  EXPECT_FALSE(b.view.highPrioritySelected());
}

TEST_F(Settings, ABadRecordStopsThereAndKeepsWhatCameBefore) {
  // Just past each end of the lists; 65537 and -65535 would wrap to the valid 1 if cut to 16 bits.
  for (const char* record : {"\"MIDIOUT:\",3", "\"MIDIOUT:\",-2", "\"MIDIOUT:\",65537", "\"MIDIOUT:\",-65535",
                             "\"MIDIOUT:\",abc", "\"MIDIOUT:\",1.5", "\"MIDIIN:\",2", "\"PRIORITY:\",\"#TRUE#\""}) {
    SCOPED_TRACE(record);
    Bench b;
    b.set({"x", "x", "x", "x"}, 1, 1, true);
    load(b, QByteArray("\"REMOTEIP:\",\"1.2.3.4\"\r\n") + record + "\r\n\"REMOTEPORT:\",\"9\"\r\n\"MIDIIN:\",0\r\n");
    ASSERT_EQ(b.boxes.boxes.size(), 1);
    EXPECT_EQ(shown(b.boxes.boxes[0]), "0|Strandlink|Error while restoring parameters -- continue with empty settings");
    EXPECT_EQ(b.texts(), (Texts{"1.2.3.4", "x", "x", "x"}));
    EXPECT_EQ(std::tuple(b.out(), b.in(), b.state.MidiOutDeviceId), std::tuple(1, 1, 7));
    EXPECT_TRUE(b.view.highPrioritySelected());
  }
  Bench b;  // a last record with a key and no value
  load(b, "\"LOCALPORT:\",\"77\"\r\n\"PRIORITY:\"\r\n");
  EXPECT_TRUE(b.boxes.boxes.size() == 1 && b.texts()[3] == "77");
}

// The classes themselves are the priority tests' business; here, that a record applies one.
TEST_F(Settings, PriorityRecordLeavesTheProcessAtTheSelectedClass) {
  const auto policy = [] { return sched_getscheduler(0) & ~SCHED_RESET_ON_FORK; };
  sched_param normal{}, rr{};
  rr.sched_priority = 1;
  if (sched_setscheduler(0, SCHED_RR, &rr) != 0) GTEST_SKIP() << "no permission for SCHED_RR here";
  sched_setscheduler(0, SCHED_OTHER, &normal);
  Bench b;
  load(b, "\"PRIORITY:\",#FALSE#\r\n");
  EXPECT_TRUE(!b.view.highPrioritySelected() && policy() == SCHED_RR);
  load(b, "\"PRIORITY:\",#TRUE#\r\n");
  EXPECT_TRUE(b.view.highPrioritySelected() && policy() == SCHED_OTHER);
  b.view.setHighPrioritySelected(false);  // realtime already selected, the process not realtime: requested again
  load(b, "\"PRIORITY:\",#FALSE#\r\n");
  EXPECT_EQ(policy(), SCHED_RR);
  sched_setscheduler(0, SCHED_OTHER, &normal);
  setpriority(PRIO_PROCESS, 0, 0);
}

TEST_F(Settings, UnwritableTargetsGetOneClearBoxAndFalse) {
  ASSERT_TRUE(put(path("plain"), "x"));
  QDir(dir.path()).mkdir("adir");
  // Tests run as root, which writes through permission bits: these fail anyway.
  for (const char* target : {"plain/s.stn", "missing/s.stn", "adir"}) {
    Bench b;
    b.session.fatalExit = [] { ADD_FAILURE() << "the program must go on"; };
    EXPECT_FALSE(SaveSettings(b.session, path(target)));
    ASSERT_EQ(b.boxes.boxes.size(), 1);
    const QString prefix = "1|Strandlink|Could not save the settings to " + path(target) + ": ";
    EXPECT_TRUE(shown(b.boxes.boxes[0]).startsWith(prefix) && shown(b.boxes.boxes[0]).size() > prefix.size() + 3)
        << shown(b.boxes.boxes[0]).toStdString() << " (with a reason)";
  }
  EXPECT_TRUE(QFileInfo(path("adir")).isDir());
}

TEST_F(Settings, SaveFailingHalfWayLeavesTheOldFileIntact) {
  ASSERT_TRUE(put(path(), "old"));
  Bench b;
  // A file size limit makes the write fail part way, as a full disk does.
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  const auto handler = signal(SIGXFSZ, SIG_IGN);
  rlimit small{40, saved.rlim_max};
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const bool ok = SaveSettings(b.session, path());
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, handler);
  EXPECT_FALSE(ok);
  EXPECT_EQ(get(path()), "old");
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"s.stn"});  // no leftover
  EXPECT_EQ(b.boxes.texts(), QStringList{"Could not save the settings to " + path() + ": " + strerror(EFBIG)});
}

TEST(DefaultSettingsPath, BesideTheProgramOrInTheUserConfiguration) {
  QTemporaryDir tmp;
  EXPECT_EQ(defaultSettingsPath(), QCoreApplication::applicationDirPath() + "/default.stn");
  EXPECT_EQ(defaultSettingsPathFor(tmp.path()), tmp.path() + "/default.stn");
  ASSERT_TRUE(put(tmp.filePath("plain"), "x"));
  const QString unwritable = tmp.filePath("plain/bin");
  const QByteArray home = qgetenv("HOME");
  qputenv("XDG_CONFIG_HOME", "/cfg");
  EXPECT_EQ(defaultSettingsPathFor(unwritable), "/cfg/strandlink/default.stn");
  qputenv("HOME", tmp.path().toLocal8Bit());
  qputenv("XDG_CONFIG_HOME", "relative");  // not absolute: ignored
  EXPECT_EQ(defaultSettingsPathFor(unwritable), tmp.path() + "/.config/strandlink/default.stn");
  qunsetenv("XDG_CONFIG_HOME");
  qputenv("HOME", home);
}

// Answers every dialog with a fixed text (empty: cancel) and keeps the requests.
struct StandIn : FileDialogs {
  explicit StandIn(QString chosen = {}) : answer(std::move(chosen)) {}
  QString run(const FileDialogRequest& r) override { return requests.push_back(r), answer; }
  QString answer;
  std::vector<FileDialogRequest> requests;
};

TEST(FileDialog, RequestAndAnswer) {
  const QString longPath = "/" + QString(300, u'p');
  StandIn d(longPath + QChar(0) + "junk");
  EXPECT_EQ(ShowFileDialog(d, 1, "T", "n", "All Files|*.*|Strandlink Files|*.stn", "/d", ""), longPath);
  ShowFileDialog(d, 0, "T", "", "Text|*.txt;*.stn|Lonely", "/d", "");
  const FileDialogRequest& open = d.requests[0];
  EXPECT_TRUE(open.open && open.fileMustExist && !open.confirmOverwrite && open.initialName == "n");
  // "*.*" is every file, also one without a dot in its name.
  EXPECT_EQ(open.filters, (QStringList{"All Files (*)", "Strandlink Files (*.stn)"}));
  EXPECT_EQ(open.selectedFilter, 1);
  const FileDialogRequest& save = d.requests[1];
  EXPECT_TRUE(!save.open && !save.fileMustExist && save.confirmOverwrite && save.selectedFilter == 0);
  EXPECT_EQ(save.filters, QStringList{"Text (*.txt *.stn)"});  // an unpaired description is dropped
}

TEST_F(Settings, MenuCommandsPassTheChosenNameOrTheDefaultOnCancel) {
  const QString def = defaultSettingsPath();
  const std::optional<QByteArray> before = QFile::exists(def) ? std::optional(get(def)) : std::nullopt;
  QFile::remove(def);

  Bench b;
  b.set({"10.0.0.2", "5004", "10.0.0.1", "5006"}, 2, 1, false);
  StandIn chosen(path("session"));  // no extension is added
  mnuSave_Click(b.session, chosen);
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"session"});

  StandIn cancel;
  mnuOpen_Click(b.session, cancel);  // no default file yet: a warning, and only the ports are set
  ASSERT_EQ(b.boxes.boxes.size(), 1);
  EXPECT_EQ(shown(b.boxes.boxes[0]), "1|Strandlink|Could not load last session parameters");
  EXPECT_EQ(b.texts(), (Texts{"10.0.0.2", "4000", "10.0.0.1", "4000"}));
  EXPECT_TRUE(b.out() == 2 && b.state.MidiOutDeviceId == 7 && !b.view.highPrioritySelected());
  mnuSave_Click(b.session, cancel);
  EXPECT_TRUE(get(def).startsWith("\"REMOTEIP:\",\"10.0.0.2\"\r\n\"REMOTEPORT:\",\"4000\"\r\n"));
  b.set({"a", "b", "c", "d"}, 0, 0, true);
  mnuOpen_Click(b.session, chosen);
  EXPECT_EQ(b.texts(), (Texts{"10.0.0.2", "5004", "10.0.0.1", "5006"}));
  mnuOpen_Click(b.session, cancel);
  EXPECT_EQ(b.texts()[1], "4000");
  EXPECT_EQ(b.boxes.boxes.size(), 1);
  EXPECT_TRUE(cancel.requests[0].open && !cancel.requests[1].open);

  QFile::remove(def);
  if (before) put(def, *before);
}

}  // namespace
}  // namespace strandlink::settings
