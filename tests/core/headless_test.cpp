// The window-less run: the command line, what it prints instead of showing, its
// start-up, and the real program's signals (SIGUSR1 releases held notes, SIGTERM
// ends it cleanly).
#include <signal.h>

#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdio>

#include "app/command_line.h"
#include "headless/headless_run.h"
#include "net/addresses.h"
#include "support/jack_client.h"
#include "support/side.h"

using namespace strandlink;
using namespace strandlink::test;
using Mode = app::CommandLine::Mode;

namespace {

app::CommandLine parse(QStringList args) {
  args.prepend("strandlink");
  return app::parseCommandLine(args);
}

QString captured(std::FILE* f) {
  std::fflush(f);
  std::rewind(f);
  QByteArray all;
  char buf[512];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) all.append(buf, qsizetype(n));
  return QString::fromLocal8Bit(all);
}

bool put(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

QByteArray settingsFor(int local, int remote, const char* localHost = "127.0.0.1") {
  return QStringLiteral("\"REMOTEIP:\",\"127.0.0.1\"\r\n\"REMOTEPORT:\",\"%1\"\r\n\"LOCALIP:\",\"%3\"\r\n"
                        "\"LOCALPORT:\",\"%2\"\r\n\"MIDIOUT:\",0\r\n\"MIDIIN:\",0\r\n\"PRIORITY:\",#TRUE#\r\n")
      .arg(remote)
      .arg(local)
      .arg(QString::fromLatin1(localHost))
      .toLatin1();
}

}  // namespace

TEST(CommandLine, ModesValuesAndBadUsage) {
  EXPECT_EQ(parse({}).mode, Mode::Window);
  EXPECT_EQ(parse({"--headless"}).mode, Mode::Headless);
  EXPECT_EQ(parse({"--list-devices"}).mode, Mode::ListDevices);
  EXPECT_EQ(parse({"--version"}).mode, Mode::Version);
  EXPECT_EQ(parse({"--headless", "--help"}).mode, Mode::Help);
  const auto c = parse({"--headless", "--settings", "stage.stn", "--name=Rack B"});
  EXPECT_TRUE(c.mode == Mode::Headless && c.settingsFile == "stage.stn" && c.clientName == "Rack B");
  EXPECT_EQ(parse({}).clientName, "Strandlink");
  for (const QStringList& args : {QStringList{"--bogus"}, QStringList{"--settings"}, QStringList{"--name="},
                                  QStringList{"--headless", "--list-devices"}, QStringList{"stray"},
                                  QStringList{"--headless=yes"}}) {
    const auto bad = parse(args);
    EXPECT_EQ(bad.mode, Mode::Error) << args.join(' ').toStdString();
    EXPECT_TRUE(!bad.error.isEmpty() && !bad.error.contains('\n'));
  }
}

TEST(Headless, BoxesAreOneLineEachOnStandardError) {
  std::FILE* err = std::tmpfile();
  headless::StreamBoxes boxes(err);
  boxes.show(link::BoxIcon::Exclamation, "Network Error", "Tried to bind MIDI socket:  Address already in use.");
  EXPECT_EQ(captured(err), "Network Error: Tried to bind MIDI socket:  Address already in use.\n");
  std::fclose(err);
}

// The window's start-up without the window: the machine's own address replaces a
// stored one, the other values apply; status changes and remote chat lines are
// printed, one line each.
TEST(Headless, StartsUpLikeTheWindowAndPrintsWhatTheWindowWouldShow) {
  if (!jackAvailable()) GTEST_SKIP() << "no JACK server runs (scripts/test.sh starts one)";
  QTemporaryDir dir;
  const int local = freePortPair(), remote = freePortPair();
  ASSERT_TRUE(put(dir.filePath("default.stn"), settingsFor(local, remote, "10.9.9.9")));
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  const auto midi = midi::makeMidiService("HeadlessTest");
  {
    headless::HeadlessRun run(*midi, {{}, std::nullopt, false, dir.filePath("default.stn")}, out, err);
    ASSERT_TRUE(run.start()) << captured(err).toStdString();
    EXPECT_EQ(run.settings().localHost, net::formatAddress(net::resolveAddress(
                                            QString::fromStdString(net::localHostName().name)).address));
    EXPECT_EQ(run.settings().remotePort, QString::number(remote));
    RawPeer peerChat(remote + 1);
    peerChat.sendTo(local + 1, QByteArray("\x02", 1));
    const char chat[] = "hello\x1b[2J\r\nConnected\tok\\x1b\0\x7f\x9b";
    peerChat.sendTo(local + 1, QByteArray(chat, sizeof chat - 1));
    EXPECT_TRUE(waitFor([&] { return captured(out).contains("REMOTEhello"); }));
    run.finish();
  }
  // A tick may come between: its lines are the link's business, not this test's.
  const QStringList lines = captured(out).split('\n', Qt::SkipEmptyParts);
  ASSERT_GE(lines.size(), 3);
  EXPECT_EQ(lines.first(), "Connected");
  // Control characters as visible escapes, a backslash doubled, a tab kept: one line.
  EXPECT_TRUE(lines.contains("REMOTEhello\\x1b[2J\\x0d\\x0aConnected\tok\\\\x1b\\x00\\x7f\\x9b"))
      << captured(out).toStdString();
  EXPECT_EQ(lines.last(), "Not Connected");
  EXPECT_EQ(captured(err), "");
  std::fclose(out);
  std::fclose(err);
}

TEST(HeadlessProgram, Usr1ReleasesHeldNotesAndTermEndsItCleanly) {
  if (!jackAvailable()) GTEST_SKIP() << "no JACK server runs (scripts/test.sh starts one)";
  QTemporaryDir dir;
  const int local = freePortPair(), remote = freePortPair();
  ASSERT_TRUE(put(dir.filePath("link.stn"), settingsFor(local, remote)));
  QProcess program;
  program.start(QStringLiteral(STRANDLINK_PROGRAM),
                {"--headless", "--settings", dir.filePath("link.stn"), "--name", "SignalTest"});
  ASSERT_TRUE(program.waitForStarted());
  JackSynth synth("signal-synth");
  std::vector<std::string> ours;
  ASSERT_TRUE(waitFor([&] { return !(ours = synth.midiPorts("^SignalTest", JackPortIsOutput)).empty(); }));
  ASSERT_TRUE(synth.connect(ours[0], synth.port()));
  RawPeer peer(remote);
  // New connections carry data some cycles later: a note-on until it sounds.
  ASSERT_TRUE(waitFor([&] {
    peer.sendTo(local, QByteArray("\x90\x3c\x40", 3));
    return synth.waitFor(1, std::chrono::milliseconds(200));
  }));
  settle(200);
  synth.clear();
  ::kill(pid_t(program.processId()), SIGUSR1);
  EXPECT_TRUE(synth.waitFor(1));
  EXPECT_EQ(synth.received(), (std::vector<MidiBytes>{{0x80, 0x3C, 0}}));
  ::kill(pid_t(program.processId()), SIGTERM);
  ASSERT_TRUE(program.waitForFinished(5000));
  EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(program.exitCode(), 0);
  EXPECT_EQ(program.readAllStandardError(), QByteArray());
  EXPECT_FALSE(QFile::exists(dir.filePath("default.stn")));  // a file of its own: the default one is left alone
}
