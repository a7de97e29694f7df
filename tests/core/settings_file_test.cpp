// Settings files: the exact form, reading back what was written, tolerance of
// hand-edited files, bad records, the reports of loading and saving, and saves
// that fail.
#include "settings/settings_file.h"

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstring>

#include "link/device_lists.h"
#include "link/settings_files.h"
#include "report/reporter.h"
#include "support/qt_printers.h"
#include "support/recording_boxes.h"

namespace strandlink::settings {
namespace {

bool put(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}
QByteArray get(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<none>");
}
// A box as icon|title|text.
QString shown(const test::RecordedBox& b) { return QString::number(int(b.icon)) + '|' + b.title + '|' + b.text; }

Settings make(QString rh, QString rp, QString lh, QString lp, int out, int in, bool high) {
  return Settings{std::move(rh), std::move(rp), std::move(lh), std::move(lp), out, in, high};
}

// Three outputs, two inputs.
constexpr int kOutputs = 3, kInputs = 2;

Settings applied(const ReadResult& r, Settings s = make("ip", "port", "lip", "lport", 0, 0, true)) {
  r.changes.applyTo(s);
  return s;
}

class SettingsFile : public ::testing::Test {
 protected:
  QString path(const char* name = "s.stn") const { return dir.filePath(name); }
  QTemporaryDir dir;
  test::RecordingBoxes boxes;
  report::Reporter reporter{boxes};
  link::DeviceLists lists{{"in 0", "in 1"}, {"out 0", "out 1", "out 2"}};
};

TEST_F(SettingsFile, WritesSevenCrLfRecordsOneBytePerCharacter) {
  // U+03A9 is outside ISO 8859-1; U+1F600 is one character in two UTF-16 units.
  const Settings s = make("10.0.0.2", "5004", QStringLiteral("\u00e9\u03a9\U0001F600"), "5006", 2, -1, false);
  ASSERT_TRUE(put(path(), QByteArray(4000, 'x')));  // saving replaces all of it
  ASSERT_TRUE(link::saveSettingsFile(reporter, path(), s));
  EXPECT_EQ(get(path()), QByteArray("\"REMOTEIP:\",\"10.0.0.2\"\r\n\"REMOTEPORT:\",\"5004\"\r\n"
                                    "\"LOCALIP:\",\"\xe9??\"\r\n\"LOCALPORT:\",\"5006\"\r\n"
                                    "\"MIDIOUT:\",2\r\n\"MIDIIN:\",-1\r\n\"PRIORITY:\",#FALSE#\r\n"));
}

TEST_F(SettingsFile, EverySavedValueReadsBack) {
  for (const Settings& s : {make("10.0.0.2", "5004", "10.0.0.1", "5006", 0, 0, true), make("", "", "", "", -1, -1, false),
                            make("peer.example.org", "65534", "stage-2.local.", "", 2, 1, false)}) {
    ASSERT_EQ(writeSettingsFile(path(), s), QString());
    const ReadResult r = readSettingsFile(path(), kOutputs, kInputs);
    EXPECT_EQ(r.outcome, ReadResult::Outcome::Read);
    EXPECT_EQ(applied(r, make("x", "x", "x", "x", 1, 1, !s.highPriority)), s) << s.remoteHost.toStdString();
  }
}

TEST_F(SettingsFile, HandEditedFilesAreReadAsAStreamOfPairs) {
  EXPECT_EQ(applied(parseSettings("", kOutputs, kInputs)), make("ip", "port", "lip", "lport", 0, 0, true));
  const ReadResult r = parseSettings(
      "\"remoteip:\",\"1.1.1.1\"\r\n\"REMOTEIP\",\"2.2.2.2\"\r\n\"COLOUR:\",\"red\"\r\n"  // not our keys
      "\"MIDIIN:\",-1\r\n\"MIDIOUT:\",2\n"                       // any order, LF only
      "  LOCALIP: , 10.0.0.8 \r\r\n"                             // unquoted, blanks, CR only, empty line
      "\"REMOTEIP:\",\"10.0\"0.2\"\r\n"                          // a stray quote stays in its line
      "\"LOCALPORT:\",\"6000\r\n"                                // so does a missing one
      "\"MIDIOUT:\",-1,\"PRIORITY:\"\n#FALSE#\n\n",              // repeated; pairs across lines
      kOutputs, kInputs);
  EXPECT_EQ(r.outcome, ReadResult::Outcome::Read);
  EXPECT_EQ(applied(r), make("10.0", "port", "10.0.0.8", "6000", -1, -1, false));
  // A UTF-8 byte-order mark before the first key.
  EXPECT_EQ(parseSettings("\xEF\xBB\xBF\"REMOTEIP:\",\"stage.local\"", kOutputs, kInputs).changes.remoteHost,
            "stage.local");
}

TEST_F(SettingsFile, ABadRecordStopsThereKeepsWhatCameBeforeAndSaysWhichLine) {
  // Just past each end of the lists; 65537 and -65535 would wrap to the valid 1 if cut to 16 bits.
  // A value its box would refuse is bad too: an escape sequence, a megabyte, letters in a port.
  const QByteArray huge = "\"LOCALIP:\",\"" + QByteArray(1 << 19, 'a') + "\"";
  for (const char* record : {"\"MIDIOUT:\",3", "\"MIDIOUT:\",-2", "\"MIDIOUT:\",65537", "\"MIDIOUT:\",-65535",
                             "\"MIDIOUT:\",abc", "\"MIDIOUT:\",1.5", "\"MIDIIN:\",2", "\"PRIORITY:\",\"#TRUE#\"",
                             "\"REMOTEIP:\",\"\x1b[31mred\"", "\"LOCALIP:\",\"a b\"", huge.constData(),
                             "\"REMOTEPORT:\",\"abc\"", "\"LOCALPORT:\",\"40.5\""}) {
    SCOPED_TRACE(record);
    const ReadResult r = parseSettings(QByteArray("\"REMOTEIP:\",\"1.2.3.4\"\r\n\r\n") + record +
                                           "\r\n\"REMOTEPORT:\",\"9\"\r\n\"MIDIIN:\",0\r\n",
                                       kOutputs, kInputs);
    EXPECT_EQ(r.outcome, ReadResult::Outcome::BadRecord);
    EXPECT_EQ(r.badLine, 3);
    EXPECT_EQ(applied(r, make("x", "x", "x", "x", 1, 1, true)), make("1.2.3.4", "x", "x", "x", 1, 1, true));
  }
  // A last record with a key and no value.
  const ReadResult r = parseSettings("\"LOCALPORT:\",\"77\"\n\"PRIORITY:\"\r\n", kOutputs, kInputs);
  EXPECT_TRUE(r.outcome == ReadResult::Outcome::BadRecord && r.badLine == 2 && r.changes.localPort == "77");

  ASSERT_TRUE(put(path(), "\"LOCALPORT:\",\"77\"\r\n\"MIDIIN:\",9\r\n"));
  const SettingsChanges loaded = link::loadSettingsFile(reporter, path(), lists, link::SettingsFileRole::Named);
  EXPECT_EQ(loaded.localPort, "77");
  EXPECT_EQ(boxes.boxes.size(), 1);
  EXPECT_EQ(shown(boxes.boxes[0]), "0|Strandlink|Error while restoring parameters -- continue with empty settings\n"
                                   "Line 2 of " + path() + " is not valid; the lines before it were applied.");
  EXPECT_FALSE(QFile::exists(path() + ".bad"));  // a named file is never written back
}

// The default file is written back at exit: what stopped its load is kept first.
TEST_F(SettingsFile, ADefaultFileThatStoppedAtAnErrorIsKeptBesideItselfAndTheBoxSaysSo) {
  const QByteArray damaged = "\"MIDIOUT:\",9\r\n\"PRIORITY:\",#FALSE#\r\n";
  ASSERT_TRUE(put(path(), damaged));
  ASSERT_TRUE(put(path() + ".bad", "older"));
  link::loadSettingsFile(reporter, path(), lists, link::SettingsFileRole::Default);
  EXPECT_EQ(get(path() + ".bad"), damaged);
  ASSERT_EQ(boxes.boxes.size(), 1);
  EXPECT_TRUE(boxes.boxes[0].text.endsWith("\nThe file as it was is kept as " + path() + ".bad."))
      << boxes.boxes[0].text.toStdString();
}

TEST_F(SettingsFile, AMissingFileGivesTheDefaultPortsAndWhatIsNoFileSaysWhatItIs) {
  const SettingsChanges missing = link::loadSettingsFile(reporter, path("none.stn"), lists, link::SettingsFileRole::Default);
  EXPECT_EQ(applied({ReadResult::Outcome::Read, missing, 0}), make("ip", "4000", "lip", "4000", 0, 0, true));
  ASSERT_TRUE(put(path("huge.stn"), QByteArray((1 << 20) + 1, ' ')));
  EXPECT_EQ(readSettingsFile(path("huge.stn"), kOutputs, kInputs).outcome, ReadResult::Outcome::Unreadable);
  ASSERT_EQ(boxes.boxes.size(), 1);
  EXPECT_EQ(shown(boxes.boxes[0]), "1|Strandlink|Could not load last session parameters");
  // A named file is not the first run; a FIFO is never opened, as reading it would block.
  ASSERT_EQ(::mkfifo(QFile::encodeName(path("fifo")).constData(), 0600), 0);
  const QString escape = path("\x1b[31m");
  const std::pair<QString, QString> cases[] = {{path("none.stn"), path("none.stn") + ": there is no such file"},
                                               {escape, path("\\x1b[31m") + ": there is no such file"},
                                               {dir.path(), dir.path() + ": it is a directory"},
                                               {path("fifo"), path("fifo") + ": it is not a regular file"}};
  for (const auto& [file, said] : cases) {
    boxes.boxes.clear();
    const SettingsChanges c = link::loadSettingsFile(reporter, file, lists, link::SettingsFileRole::Named);
    EXPECT_FALSE(c.localPort.has_value());
    ASSERT_EQ(boxes.boxes.size(), 1);
    EXPECT_EQ(shown(boxes.boxes[0]), "1|Strandlink|Could not load the settings file " + said);
  }
}

TEST_F(SettingsFile, UnwritableTargetsGetOneClearBoxAndFalse) {
  ASSERT_TRUE(put(path("plain"), "x"));
  QDir(dir.path()).mkdir("adir");
  // Tests run as root, which writes through permission bits: these fail anyway.
  for (const char* target : {"plain/s.stn", "missing/s.stn", "adir"}) {
    boxes.boxes.clear();
    EXPECT_FALSE(link::saveSettingsFile(reporter, path(target), Settings{}));
    ASSERT_EQ(boxes.boxes.size(), 1);
    const QString prefix = "1|Strandlink|Could not save the settings to " + path(target) + ": ";
    EXPECT_TRUE(shown(boxes.boxes[0]).startsWith(prefix) && shown(boxes.boxes[0]).size() > prefix.size() + 3)
        << shown(boxes.boxes[0]).toStdString() << " (with a reason)";
  }
  EXPECT_TRUE(QFileInfo(path("adir")).isDir());
}

TEST_F(SettingsFile, SaveFailingHalfWayLeavesTheOldFileIntact) {
  ASSERT_TRUE(put(path(), "old"));
  // A file size limit makes the write fail part way, as a full disk does.
  rlimit saved{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  const auto handler = signal(SIGXFSZ, SIG_IGN);
  rlimit small{40, saved.rlim_max};
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const QString reason = writeSettingsFile(path(), make("a", "b", "c", "d", 0, 0, true));
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, handler);
  EXPECT_EQ(reason, QString::fromLocal8Bit(strerror(EFBIG)));
  EXPECT_EQ(get(path()), "old");
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"s.stn"});  // no leftover
}

TEST(DefaultSettingsPath, BesideTheProgramOrInTheUserConfiguration) {
  QTemporaryDir tmp;
  EXPECT_EQ(defaultSettingsPath(), QCoreApplication::applicationDirPath() + "/default.stn");
  EXPECT_EQ(defaultSettingsPathFor(tmp.path()), tmp.path() + "/default.stn");
  ASSERT_TRUE(put(tmp.filePath("plain"), "x"));
  const QString unwritable = tmp.filePath("plain/bin");
  const QByteArray home = qgetenv("HOME"), config = qgetenv("XDG_CONFIG_HOME");
  qputenv("XDG_CONFIG_HOME", "/cfg");
  EXPECT_EQ(defaultSettingsPathFor(unwritable), "/cfg/strandlink/default.stn");
  qputenv("HOME", tmp.path().toLocal8Bit());
  qputenv("XDG_CONFIG_HOME", "relative");  // not absolute: ignored
  EXPECT_EQ(defaultSettingsPathFor(unwritable), tmp.path() + "/.config/strandlink/default.stn");
  qputenv("XDG_CONFIG_HOME", config);
  qputenv("HOME", home);
}

}  // namespace
}  // namespace strandlink::settings
