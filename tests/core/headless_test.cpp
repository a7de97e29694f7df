// The window-less run: the command line, what it prints instead of showing, its
// start-up, and the real program's signals (SIGUSR1 releases held notes, SIGTERM
// ends it cleanly).
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdio>

#include "app/command_line.h"
#include "headless/chat_input.h"
#include "headless/headless_run.h"
#include "link/device_lists.h"
#include "link/protocol_choice.h"
#include "link/setting_overrides.h"
#include "net/addresses.h"
#include "net/own_address.h"
#include "settings/preferences.h"
#include "settings/settings_file.h"
#include "support/jack_client.h"
#include "support/program_copy.h"
#include "support/real_part.h"
#include "support/side.h"

using namespace strandlink;
using namespace strandlink::test;
using Mode = app::CommandLine::Mode;

namespace {

app::CommandLine parse(QStringList args) {
  args.prepend("strandlink");
  return app::parseCommandLine(args);
}

// What the run wrote to a file so far. Read at offsets of its own: the run's
// writer thread writes at the file's offset meanwhile.
QString captured(std::FILE* f) {
  QByteArray all;
  char buf[4096];
  for (ssize_t n; (n = ::pread(fileno(f), buf, sizeof buf, all.size())) > 0;) all.append(buf, qsizetype(n));
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

// The program's copy of the test's settings, started window-less with --name.
struct LinkedProgram {
  LinkedProgram(const QString& name, QStringList more = {}, std::function<void(Program&)> prepare = {}) {
    if (!put(dir.filePath("link.stn"), settingsFor(local, remote))) return;
    if (prepare) prepare(program);
    program.start(QStringLiteral(STRANDLINK_PROGRAM),
                  QStringList{"--headless", "--settings", dir.filePath("link.stn"), "--name", name} + more);
    started = program.waitForStarted();
  }
  QTemporaryDir dir;
  const int local = freePortPair(), remote = freePortPair();
  Program program;
  bool started = false;
};

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
  const auto o = parse({"--local", "192.168.1.10:4000", "--remote=stage.example:5000", "--input", "2", "--output",
                        "Synth", "--priority", "Realtime", "--save-settings", "s.stn"}).overrides;
  EXPECT_TRUE(o.localHost == "192.168.1.10" && o.localPort == "4000" && o.remoteHost == "stage.example" &&
              o.remotePort == "5000" && o.input == "2" && o.output == "Synth" && o.highPriority == false);
  EXPECT_EQ(parse({"--headless", "--save-settings", "s.stn"}).mode, Mode::SaveSettings);
  EXPECT_EQ(parse({"--demo"}).mode, Mode::Demo);
  EXPECT_TRUE(parse({"--headless", "--thru"}).thru && parse({"--thru"}).mode == Mode::Window && !parse({}).thru);
  const auto t = parse({"--headless", "--timing", "Steady", "--delay=12"}).overrides;
  EXPECT_TRUE(t.timing == settings::Timing::Steady && t.delayMs == 12);
  EXPECT_EQ(parse({"--delay", "1000"}).overrides.delayMs, 1000);  // the longest; 1001 is refused below
  EXPECT_TRUE(parse({"--timing=immediate"}).overrides.timing == settings::Timing::Immediate);
  // A remote without a colon names a published session; the last --remote stands.
  const auto bySession = parse({"--remote", "10.0.0.1:4000", "--remote", " Stage #2 "});
  EXPECT_TRUE(bySession.remoteSession == "Stage #2" && bySession.mode == Mode::Window);
  EXPECT_TRUE(parse({"--remote", "Stage", "--remote", "h:4000"}).remoteSession.isEmpty());
  // RTP-MIDI invites them all: the first is the remote, the others come after it.
  const auto several = parse({"--remote", "Stage", "--remote", "h:4000", "--protocol", "rtp", "--remote", "g:4002"});
  EXPECT_TRUE(several.remoteSession == "Stage" && !several.overrides.remoteHost) << several.error.toStdString();
  EXPECT_EQ(several.moreRemotes, (std::vector<protocol::RemoteText>{{"h", "4000"}, {"g", "4002"}}));
  // --allow lets inviters in, and means only them unless --admit says otherwise.
  const auto allow = parse({"--allow", " 10.0.0.2 ", "--allow=iPad"});
  EXPECT_TRUE(allow.admission == settings::Admission::Listed && allow.allowed == QStringList({"10.0.0.2", "iPad"}));
  EXPECT_EQ(parse({"--admit", "ask", "--allow", "x"}).admission, settings::Admission::Ask);
  // Each bad value: one line that names its option.
  for (const QStringList& args :
       {QStringList{"--bogus"}, {"--settings"}, {"--name="}, {"--headless", "--list-devices"}, {"stray"},
        {"--headless=yes"}, {"--local", "10.0.0.1"}, {"--local", "stage:4000"}, {"--local", "256.0.0.1:4000"},
        {"--local", "0.0.0.0:4000"}, {"--remote", "10.0.0.1:65535"}, {"--remote", "10.0.0.1:0"},
        {"--remote", "10.0.0:4000"}, {"--remote", "bad_name:4000"}, {"--remote", ":4000"}, {"--remote", "h:4e3"},
        {"--remote", "10.0.0.1"}, {"--save-settings", "s.stn", "--remote", "Stage"},
        {"--remote", "h:4000", "--remote", "Stage", "--protocol", "rtp"},
        QStringList(17, "--remote=h:4000") + QStringList{"--protocol", "rtp"},
        {"--remote", "h:4000", "--remote", "g:4002", "--protocol", "rtp", "--save-settings", "s.stn"}, {"--input", ""}, {"--output="}, {"--priority", "low"}, {"--save-settings"},
        {"--save-settings", "s.stn", "--list-devices"}, {"--demo", "--headless"}, {"--timing", "soon"},
        {"--delay", "1001"}, {"--delay", "-1"}, {"--delay", "5ms"}, {"--thru=yes"}, {"--protocol", "bogus"},
        {"--protocol="}, {"--admit", "ask", "--headless"}, {"--admit", "some"}, {"--allow", " "}}) {
    const auto bad = parse(args);
    const QString named = args.first().startsWith("--") ? args.first().section('=', 0, 0) : args.first();
    EXPECT_EQ(bad.mode, Mode::Error) << args.join(' ').toStdString();
    EXPECT_TRUE(bad.error.contains(named) && !bad.error.contains('\n')) << bad.error.toStdString();
  }
  // A value quoted back reaches the terminal escaped and cut short.
  const QString quoted = parse({"--remote", "\x1b[31m" + QString(1 << 20, u'a') + ":4000"}).error;
  EXPECT_TRUE(quoted.contains("'\\x1b[31maaa") && quoted.contains("...'") && quoted.size() < 400)
      << quoted.left(400).toStdString();
}

TEST(SettingOverrides, DevicesByPositionOrNameAndOneLineForWhatFitsNoneOrSeveral) {
  const link::DeviceLists lists{{"Own In", "a2j:USB Keys [20] (capture): USB Keys MIDI 1", "a2j:Pads (capture)"},
                                {"Own Out", "fluidsynth:midi_00", "qsynth:midi_in"}};
  const auto resolve = [&](std::optional<QString> in, std::optional<QString> out) {
    link::SettingOverrides o;
    o.remoteHost = "stage";
    o.input = in;
    o.output = out;
    return link::resolveOverrides(o, lists);
  };
  for (auto [in, out, inAt, outAt] :
       {std::tuple{"2", "fluid", 2, 1}, {"usb keys", "Own Out", 1, 0}, {"0", "2", 0, 2}}) {
    const auto r = resolve(in, out);
    EXPECT_EQ(r.error, "");
    EXPECT_TRUE(r.changes.inputPosition == inAt && r.changes.outputPosition == outAt && r.changes.remoteHost == "stage")
        << in << " " << out;
  }
  for (auto [in, out, flag] : {std::tuple{"a2j", "0", "--input"}, {"3", "0", "--input"}, {"0", "synth", "--output"},
                               {"0", "timidity", "--output"}}) {
    const auto r = resolve(in, out);
    EXPECT_TRUE(r.error.startsWith(flag) && !r.error.contains('\n') && !r.changes.remoteHost) << r.error.toStdString();
  }
}

TEST(SettingOverrides, ARememberedNameWinsOnlyAtItsOwnPositionAndNeverForOurOwnPort) {
  const std::vector<std::string> names{"own:in", "a:out", "b:out"};
  EXPECT_EQ(link::followRememberedName(names, 1, {1, "b:out"}), 2);
  EXPECT_EQ(link::followRememberedName(names, 1, {2, "b:out"}), 1);  // chosen since: the position stands
  EXPECT_EQ(link::followRememberedName(names, 1, {1, "c:out"}), 1);  // not listed
  EXPECT_EQ(link::followRememberedName(names, 0, {0, "b:out"}), 0);
  EXPECT_EQ(link::followRememberedName(names, 1, {1, "own:in"}), 1);
}

TEST(Headless, BoxesAreOneLineEachOnStandardError) {
  std::FILE* err = std::tmpfile();
  headless::LineOutput output(fileno(err));
  headless::StreamBoxes boxes(output);
  boxes.show(report::BoxIcon::Exclamation, "Network Error", "Tried to bind MIDI socket:  Address already in use.");
  ASSERT_TRUE(output.drain());
  EXPECT_EQ(captured(err), "Network Error: Tried to bind MIDI socket:  Address already in use.\n");
  std::fclose(err);
}

// A line longer than a peer reads is sent cut, said once; the next line is whole.
TEST(Headless, ChatInputCutsALongLineOnceAndKeepsTheNext) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  QStringList lines, told;
  {
    headless::ChatInput input(
        fds[0], [&](const QString& line) { lines << line; }, [&](const QString& line) { told << line; });
    const QByteArray typed = QByteArray(2500, 'a') + "\nhi\r\n" + QByteArray(3000, 'b');
    ASSERT_EQ(::write(fds[1], typed.constData(), std::size_t(typed.size())), typed.size());
    ASSERT_EQ(::write(fds[1], "\n", 1), 1);
    EXPECT_TRUE(waitFor([&] { return lines.size() == 3; }));
  }
  EXPECT_EQ(lines, (QStringList{QString(2000, 'a'), "hi", QString(2000, 'b')}));
  EXPECT_EQ(told, (QStringList{"Chat line cut to its first 2000 bytes", "Chat line cut to its first 2000 bytes"}));
  ::close(fds[0]);
  ::close(fds[1]);
}

// The window's start-up without the window: the machine's own address replaces a
// stored one, the other values apply; status changes and remote chat lines are
// printed, one line each.
TEST(Headless, StartsUpLikeTheWindowAndPrintsWhatTheWindowWouldShow) {
  REQUIRE_REAL_PART(jackAvailable(), kNoJackServer);
  QTemporaryDir dir;
  const int local = freePortPair(), remote = freePortPair();
  ASSERT_TRUE(put(dir.filePath("default.stn"), settingsFor(local, remote, "10.9.9.9")));
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  const auto midi = midi::makeMidiService("HeadlessTest");
  {
    headless::HeadlessRun run(*midi, {{}, std::nullopt, false, dir.filePath("default.stn"), {}}, out, err);
    ASSERT_TRUE(run.start()) << captured(err).toStdString();
    const std::uint32_t own = net::ownAddress(net::localHostName().name).address;
    EXPECT_EQ(run.settings().localHost, net::formatAddress(own));
    EXPECT_EQ(run.settings().remotePort, QString::number(remote));
    RawPeer peerChat(remote + 1);
    peerChat.sendTo(local + 1, QByteArray("\x02", 1), own);
    const char chat[] = "hello\x1b[2J\r\nConnected\tok\\x1b\0\x7f\x9b";
    peerChat.sendTo(local + 1, QByteArray(chat, sizeof chat - 1), own);
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

// A reboot or a re-plug lists the ports in another order: two clients registered
// again the other way round (JACK lists ports in the order of their numbers, and
// gives the lowest free number first).
TEST(Headless, ADeviceListedElsewhereAfterARePlugIsOpenedByItsRememberedNameAndSaidInOneLine) {
  REQUIRE_REAL_PART(jackAvailable(), kNoJackServer);
  QTemporaryDir dir;
  const int local = freePortPair(), remote = freePortPair();
  std::FILE* out = std::tmpfile();
  auto x = std::make_unique<JackSynth>("order-x"), y = std::make_unique<JackSynth>("order-y");
  headless::HeadlessOptions options{.chatFromInput = false, .defaultSettingsFile = dir.filePath("default.stn")};
  options.overrides.localHost = options.overrides.remoteHost = "127.0.0.1";
  options.overrides.localPort = QString::number(local);
  options.overrides.remotePort = QString::number(remote);
  options.overrides.output = "order-x:in";
  int stored = -1;
  {
    const auto midi = midi::makeMidiService("OrderFirst");
    headless::HeadlessRun run(*midi, options, out, out);
    ASSERT_TRUE(run.start()) << captured(out).toStdString();
    stored = run.settings().outputPosition;
  }
  EXPECT_EQ(settings::loadRememberedPorts().output, (settings::RememberedPort{stored, "order-x:in"}));
  x.reset();
  y.reset();
  y = std::make_unique<JackSynth>("order-y");
  x = std::make_unique<JackSynth>("order-x");
  options.overrides.output.reset();  // the default file's position, now order-y's
  const auto midi = midi::makeMidiService("OrderSecond");
  headless::HeadlessRun run(*midi, options, out, out);
  ASSERT_EQ(run.prepare(), "");
  const auto& outputs = run.link().devices().outputs;
  ASSERT_EQ(outputs[std::size_t(stored)], "order-y:in");
  ASSERT_TRUE(run.start()) << captured(out).toStdString();
  const int found = entryOf(outputs, "order-x:in");
  EXPECT_EQ(run.settings().outputPosition, found);
  RawPeer peer(remote);
  peer.sendTo(local, QByteArray("\x90\x10\x20", 3));
  EXPECT_TRUE(waitFor([&] { return x->received().size() == 1; }));
  EXPECT_TRUE(y->received().empty());
  run.finish();
  EXPECT_TRUE(captured(out).split('\n').contains(
      QStringLiteral("Midi Output: order-x:in, chosen at the last Start, is at position %1 of the list now; opened "
                     "it there instead of position %2 (order-y:in).").arg(found).arg(stored)))
      << captured(out).toStdString();
  EXPECT_EQ(settings::loadRememberedPorts().output, (settings::RememberedPort{found, "order-x:in"}));
  std::fclose(out);
}

// With --thru a keyboard on our input sounds on our output too. SIGUSR1 at any
// moment of the program's life, even in a burst of 5,000, never ends it or hangs
// it: it releases the thru's note as well as the peer's, and sends the peer the
// keyboard's note-off. SIGHUP (a closed terminal) ends it as SIGTERM does.
TEST(HeadlessProgram, Usr1ReleasesThePeersAndTheThrusNotesEvenInABurstAndHupEndsItCleanly) {
  REQUIRE_REAL_PART(jackAvailable(), kNoJackServer);
  // Started with SIGUSR1 held back, as a parent's mask may hold it: it takes it all the same.
  LinkedProgram copy("SignalTest", {"--thru"}, [](Program& p) {
    p.setChildProcessModifier([] {
      ::prctl(PR_SET_PDEATHSIG, SIGKILL);
      sigset_t panic;
      sigemptyset(&panic);
      sigaddset(&panic, SIGUSR1);
      sigprocmask(SIG_BLOCK, &panic, nullptr);
    });
  });
  ASSERT_TRUE(copy.started);
  Program& program = copy.program;
  const auto pid = pid_t(program.processId());
  ASSERT_TRUE(waitFor([&] { return takesSignal(pid, SIGUSR1, true) || program.state() != QProcess::Running; },
                      5000));
  JackSynth synth("signal-synth");
  JackKeyboard keyboard("signal-kb");
  // The ports are listed as soon as they are registered, and take connections once
  // the program's client is active. Panics all along: before the link runs too.
  ASSERT_TRUE(waitFor([&] {
    ::kill(pid, SIGUSR1);
    return synth.connect("SignalTest:out", synth.port()) && keyboard.connect(keyboard.port(), "SignalTest:in");
  }));
  RawPeer peer(copy.remote);
  const auto sound = [&] {
    // New connections carry data some cycles later: a note-on until it sounds. Every
    // one sent before has been played once a clock byte sent after them is.
    return waitFor([&] {
      peer.sendTo(copy.local, QByteArray("\x90\x3c\x40", 3));
      return synth.waitFor(1, std::chrono::milliseconds(200));
    }) && (peer.sendTo(copy.local, QByteArray("\xf8\x00\x00", 3)), waitFor([&] {
             return synth.received().back() == MidiBytes{0xF8};
           }));
  };
  ASSERT_TRUE(sound());
  keyboard.play({{0x91, 0x30, 0x50}});
  ASSERT_TRUE(waitFor([&] { return countOf(synth, 0x91) == 1; }));
  ASSERT_EQ(peer.receive(), QByteArray("\x91\x30\x50", 3));
  synth.clear();
  ::kill(pid, SIGUSR1);
  EXPECT_TRUE(synth.waitFor(2));
  EXPECT_EQ(synth.received(), (std::vector<MidiBytes>{{0x80, 0x3C, 0}, {0x81, 0x30, 0}}));
  EXPECT_EQ(peer.receive(), QByteArray("\x81\x30\x00", 3));
  for (int k = 0; k < 5000; ++k) ::kill(pid, SIGUSR1);
  synth.clear();
  ASSERT_TRUE(sound()) << "the burst stopped the program";
  synth.clear();
  ::kill(pid, SIGHUP);
  // And panics while it ends.
  QElapsedTimer ending;
  ending.start();
  // It ends in some tens of milliseconds, instrumented too; the bound only ends the wait.
  while (program.state() == QProcess::Running && ending.elapsed() < 10000) {
    ::kill(pid, SIGUSR1);
    program.waitForFinished(1);
  }
  ASSERT_EQ(program.state(), QProcess::NotRunning);
  EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(program.exitCode(), 0);
  EXPECT_TRUE(synth.waitFor(1));
  EXPECT_EQ(synth.received(), (std::vector<MidiBytes>{{0x80, 0x3C, 0}}));
  EXPECT_EQ(program.readAllStandardError(), QByteArray());
  EXPECT_TRUE(program.readAllStandardOutput().contains("Panic: 2 notes released, 1 on the peer\n"));
  EXPECT_FALSE(QFile::exists(copy.dir.filePath("default.stn")));  // a file of its own: the default one is left alone
}

// With --thru a SysEx played into our input comes out of our output whole, between
// the short messages played before and after it. The classic peer gets those two
// and nothing of the SysEx, and one line says so the first time only.
TEST(HeadlessProgram, ASysExOnTheInputPassesTheThruWholeBetweenShortMessagesAndIsNotedOnceForThePeer) {
  REQUIRE_REAL_PART(jackAvailable(), kNoJackServer);
  LinkedProgram copy("SysExThru", {"--thru"});
  ASSERT_TRUE(copy.started);
  JackSysExClient player("sysex-player");
  ASSERT_TRUE(player.ok());
  ASSERT_TRUE(waitFor([&] {
    return player.connect(player.outPort(), "SysExThru:in") && player.connect("SysExThru:out", player.inPort());
  }));
  RawPeer peer(copy.remote);
  // New connections carry data some cycles later: active sensing until it comes out.
  ASSERT_TRUE(waitFor([&] {
    player.play({{{0xFE}}});
    return player.waitUntilPlayed() && waitFor([&] { return !player.events().empty(); }, 200);
  }));
  settle(300);
  while (peer.receive(100)) {
  }
  const std::size_t before = player.events().size();
  MidiBytes sysEx{0xF0};
  for (std::size_t k = 1; k < 999; ++k) sysEx.push_back(std::uint8_t((k * 7) & 0x7F));
  sysEx.push_back(0xF7);
  // Twice: the line for the peer comes the first time only.
  std::vector<MidiBytes> expected;
  for (const std::uint8_t note : {std::uint8_t(0x3C), std::uint8_t(0x3D)}) {
    const MidiBytes on{0x90, note, 0x40}, off{0x80, note, 0x00};
    player.play({{on}, {sysEx}, {off}});
    ASSERT_TRUE(player.waitUntilPlayed());
    ASSERT_TRUE(waitFor([&] { return player.lastEvent() == off; }));
    expected.insert(expected.end(), {on, sysEx, off});
  }
  const auto events = player.events();
  const auto whole = wholeMessages({events.begin() + std::ptrdiff_t(before), events.end()});
  std::vector<MidiBytes> got;
  for (const auto& e : whole) got.push_back(e.bytes);
  EXPECT_TRUE(got == expected) << got.size() << " messages, " << (got.size() > 1 ? got[1].size() : 0) << " bytes";
  for (const char note : {'\x3c', '\x3d'}) {
    EXPECT_EQ(peer.receive(), QByteArray("\x90", 1) + note + QByteArray("\x40", 1));
    EXPECT_EQ(peer.receive(), QByteArray("\x80", 1) + note + QByteArray("\x00", 1));
  }
  EXPECT_FALSE(peer.receive(300).has_value());
  ASSERT_TRUE(endsCleanlyOn(copy.program, SIGTERM));
  EXPECT_EQ(copy.program.readAllStandardError().count("SysEx from the MIDI input is not sent to the peer"), 1);
}

// A FIFO where the remembered choices live would block whoever reads it; a file's
// value with an escape sequence would act on the terminal. Neither happens, and
// an editor's byte-order mark costs no record.
TEST(HeadlessProgram, AFifoOfRememberedChoicesAndAHostileSettingsFileNeitherBlockNorReachTheTerminalRaw) {
  QTemporaryDir dir;
  const QString program = dir.filePath("strandlink");  // its default file lies here, if any
  ASSERT_TRUE(QFile::copy(QStringLiteral(STRANDLINK_PROGRAM), program));
  ASSERT_TRUE(QDir(dir.path()).mkpath("config/strandlink"));
  ASSERT_EQ(::mkfifo(QFile::encodeName(dir.filePath("config/strandlink/strandlink.conf")).constData(), 0600), 0);
  ASSERT_TRUE(put(dir.filePath("hostile.stn"), "\xEF\xBB\xBF\"LOCALPORT:\",\"5000\"\r\n\"REMOTEIP:\",\"\x1b[31mred\"\r\n"));
  Program save;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("XDG_CONFIG_HOME", dir.filePath("config"));
  save.setProcessEnvironment(env);
  save.start(program, {"--save-settings", dir.filePath("out.stn"), "--settings", dir.filePath("hostile.stn")});
  ASSERT_TRUE(save.waitForFinished(10000)) << "blocked";
  const QString err = QString::fromLocal8Bit(save.readAllStandardError());
  EXPECT_EQ(save.exitCode(), 0) << err.toStdString();
  EXPECT_TRUE(err.contains("config/strandlink/strandlink.conf is not a regular file") &&
              err.contains("\nLine 2 of " + dir.filePath("hostile.stn") + " is not valid") && !err.contains('\x1b'))
      << err.toStdString();
  EXPECT_EQ(settings::readSettingsFile(dir.filePath("out.stn"), 1, 1).changes.localPort, "5000");
}

// --protocol: a name the program does not know ends it with status 2 and one
// line naming the option; one it knows is remembered for later runs.
TEST(HeadlessProgram, ProtocolRefusedWithOneLineOrRemembered) {
  QTemporaryDir dir;
  Program run;
  run.start(QStringLiteral(STRANDLINK_PROGRAM), {"--headless", "--protocol", "bogus"});
  ASSERT_TRUE(run.waitForFinished(10000));
  const QString err = QString::fromLocal8Bit(run.readAllStandardError());
  EXPECT_EQ(run.exitCode(), 2);
  EXPECT_TRUE(err.startsWith("strandlink: --protocol") && err.count('\n') == 1) << err.toStdString();
  link::saveProtocol(settings::Protocol::Rtp);
  run.start(QStringLiteral(STRANDLINK_PROGRAM), {"--save-settings", dir.filePath("s.stn"), "--protocol", "classic"});
  ASSERT_TRUE(run.waitForFinished(10000));
  EXPECT_EQ(run.exitCode(), 0) << run.readAllStandardError().toStdString();
  EXPECT_EQ(link::loadProtocol(), settings::Protocol::Classic);
}

// Copy A from the command line alone, copy B from the file --save-settings wrote
// for it, whose remote host is "localhost": they connect, MIDI from B plays at A
// byte for byte, and A keeps its values in its default file at the end.
TEST(HeadlessProgram, LinkFromFlagsAndFromTheirSavedFileNamingLocalhostCarriesMidiByteExact) {
  REQUIRE_REAL_PART(jackAvailable(), kNoJackServer);
  QTemporaryDir dir;  // the program's own copy, so that its default file lies here
  const QString program = dir.filePath("strandlink");
  ASSERT_TRUE(QFile::copy(QStringLiteral(STRANDLINK_PROGRAM), program));
  const int a = freePortPair(), b = freePortPair();
  const QString local = QStringLiteral("127.0.0.1:%1"), saved = dir.filePath("b.stn");
  const QStringList ofB{"--local", local.arg(b), "--remote", QStringLiteral("localhost:%1").arg(a), "--output", "0"};
  Program save;
  save.start(program, QStringList{"--save-settings", saved, "--input", "no such port"} + ofB);
  ASSERT_TRUE(save.waitForFinished(10000));
  EXPECT_EQ(save.exitCode(), 2);
  EXPECT_TRUE(save.readAllStandardError().endsWith("strandlink: --input: no MIDI input is named 'no such port' "
                                                   "(see --list-devices)\n"));
  save.start(program, QStringList{"--save-settings", saved, "--input", "0"} + ofB);
  ASSERT_TRUE(save.waitForFinished(10000));
  EXPECT_EQ(save.exitCode(), 0);
  QFile file(saved);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const settings::Settings settingsOfB{"localhost", QString::number(a), "127.0.0.1", QString::number(b), 0, 0, true};
  EXPECT_EQ(file.readAll(), settings::settingsText(settingsOfB));
  EXPECT_FALSE(QFile::exists(dir.filePath("default.stn")));

  Program copyA, copyB;
  copyA.start(program, {"--headless", "--local", local.arg(a), "--remote", local.arg(b), "--input", "0", "--output",
                        "0", "--priority", "high", "--name", "FlagsA"});
  copyB.start(program, {"--headless", "--settings", saved, "--name", "FlagsB"});
  QByteArray outA, outB;
  ASSERT_TRUE(waitFor([&] {
    outA += copyA.readAllStandardOutput();
    outB += copyB.readAllStandardOutput();
    return outA.contains("Connected\n") && outB.contains("Connected\n");
  })) << outA.toStdString() << outB.toStdString();
  JackKeyboard keyboard("flags-keyboard");
  JackSynth synth("flags-synth");
  std::vector<std::string> intoB, outOfA;
  ASSERT_TRUE(waitFor([&] {
    intoB = keyboard.midiPorts("^FlagsB", JackPortIsInput);
    outOfA = synth.midiPorts("^FlagsA", JackPortIsOutput);
    return !intoB.empty() && !outOfA.empty();
  }));
  ASSERT_TRUE(keyboard.connect(keyboard.port(), intoB[0]) && synth.connect(outOfA[0], synth.port()));
  // New connections carry data some cycles later: a note-off until it comes out,
  // then a clock byte, after which nothing of those is on its way.
  ASSERT_TRUE(waitFor([&] {
    keyboard.play({{0x80, 0x00, 0x00}});
    return synth.waitFor(1, std::chrono::milliseconds(200));
  }));
  ASSERT_TRUE(keyboard.play({{0xF8}}) && waitFor([&] { return synth.received().back() == MidiBytes{0xF8}; }));
  synth.clear();
  const std::vector<MidiBytes> played{{0x91, 0x3C, 0x7F}, {0xB2, 0x07, 0x00}, {0xEF, 0x7F, 0x7F}, {0xC3, 0x05}, {0xF8}};
  ASSERT_TRUE(keyboard.play(played));
  ASSERT_TRUE(synth.waitFor(played.size()));
  EXPECT_EQ(synth.received(), played);
  for (QProcess* p : {&copyA, &copyB}) ASSERT_TRUE(endsCleanlyOn(*p, SIGTERM, 5000));
  QFile defaultFile(dir.filePath("default.stn"));
  ASSERT_TRUE(defaultFile.open(QIODevice::ReadOnly));
  EXPECT_EQ(defaultFile.readAll(), settings::settingsText({"127.0.0.1", QString::number(b), "127.0.0.1",
                                                           QString::number(a), 0, 0, true}));
}

// The first-run demo on the test server: both copies connect, the whole phrase
// arrives at B's output, and SIGINT ends it cleanly.
TEST(DemoProgram, PlaysThePhraseThroughTwoLinkedCopiesAndEndsOnSigint) {
  REQUIRE_REAL_PART(jackAvailable(), kNoJackServer);
  Program demo;
  demo.start(QStringLiteral(STRANDLINK_PROGRAM), {"--demo"});
  const QRegularExpression summary(QStringLiteral("\ndemo: (\\d+) of (\\d+) MIDI messages arrived, median latency "
                                                  "\\d+\\.\\d ms\n"));
  QString out;
  QRegularExpressionMatch m;
  ASSERT_TRUE(waitFor([&] {
    out += QString::fromLocal8Bit(demo.readAllStandardOutput());
    return (m = summary.match(out)).hasMatch();
  }, 30000)) << out.toStdString() << demo.readAllStandardError().toStdString();
  EXPECT_TRUE(m.captured(1) == m.captured(2) && m.captured(1).toInt() > 50) << m.captured(0).toStdString();
  EXPECT_EQ(out.count("\nB out: "), m.captured(1).toInt());
  EXPECT_TRUE(out.contains("\nA: Connected\n") && out.contains("\nB: Connected\n"));
  EXPECT_TRUE(endsCleanlyOn(demo, SIGINT, 5000));
  EXPECT_EQ(demo.readAllStandardError(), QByteArray());
}

TEST(CommandLine, TheProtocolChosenForALinkOrForTheListOfPeers) {
  const auto classic = parse({"--list-peers"});
  EXPECT_TRUE(classic.mode == Mode::ListPeers && classic.peerServiceType == "_strandlink._udp");
  EXPECT_EQ(parse({"--list-peers", "--protocol", "RTP"}).peerServiceType, "_apple-midi._udp");
  EXPECT_EQ(parse({"--protocol=classic", "--list-peers"}).peerServiceType, "_strandlink._udp");
  const auto group = parse({"--headless", "--protocol", "multicast", "--remote", "239.1.2.3:21929", "--local",
                            "10.0.0.5", "--ttl", "4"});
  ASSERT_EQ(group.mode, Mode::Headless) << group.error.toStdString();
  EXPECT_TRUE(group.overrides.protocol == settings::Protocol::Multicast && group.ttl == 4);
  EXPECT_TRUE(group.overrides.remoteHost == "239.1.2.3" && group.overrides.remotePort == "21929");
  EXPECT_TRUE(group.overrides.localHost == "10.0.0.5" && !group.overrides.localPort);
  EXPECT_FALSE(parse({"--list-peers", "--protocol", "rtp"}).overrides.protocol) << "a listing chooses no link";
  // For a link, the protocol to remember.
  const auto rtp = parse({"--headless", "--protocol", "rtp"});
  EXPECT_TRUE(rtp.mode == Mode::Headless && rtp.overrides.protocol == settings::Protocol::Rtp);
  // Each mistake: one line naming the option at fault.
  const std::pair<QStringList, QString> bad[] = {{{"--headless", "--protocol", "midi"}, "--protocol"},
                                                 {{"--list-peers", "--protocol", "midi"}, "--protocol"},
                                                 {{"--list-peers", "--protocol"}, "--protocol"},
                                                 {{"--list-peers", "--protocol", "multicast"}, "--protocol"},
                                                 {{"--list-peers", "--headless"}, "--list-peers"},
                                                 {{"--headless", "--local", "10.0.0.5"}, "--local"},
                                                 {{"--headless", "--ttl", "2"}, "--ttl"},
                                                 {{"--protocol", "multicast", "--ttl", "256"}, "--ttl"},
                                                 {{"--protocol", "multicast", "--ttl", "0"}, "--ttl"},
                                                 {{"--list-devices", "--key-file", "k"}, "--key-file"},
                                                 {{"--headless", "--protocol", "rtp", "--key-file", "k"}, "--key-file"}};
  for (const auto& [args, named] : bad) {
    const auto c = parse(args);
    EXPECT_EQ(c.mode, Mode::Error) << args.join(' ').toStdString();
    EXPECT_TRUE(c.error.contains(named) && !c.error.contains('\n')) << c.error.toStdString();
  }
}

namespace {

std::int64_t residentKb(qint64 pid) { return statusField(pid, "VmRSS:").split(' ').first().toLongLong(); }

// Clock ticks of CPU the process used so far (user and system).
std::int64_t cpuTicks(qint64 pid) {
  QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
  if (!stat.open(QIODevice::ReadOnly)) return -1;
  const QByteArray all = stat.readAll();
  const QList<QByteArray> fields = all.mid(all.lastIndexOf(')') + 2).split(' ');
  return fields.size() > 12 ? fields[11].toLongLong() + fields[12].toLongLong() : -1;
}

}  // namespace

// A terminal held by Ctrl+S or a pipe whose reader has stopped: a flood of chat
// lines fills it, and yet MIDI from the peer plays and probes are answered. Once
// the output is read again, a line says how many lines it missed.
TEST(HeadlessProgram, AStoppedOutputReaderAndAChatFloodStopNeitherMidiNorTheConnectionCheck) {
  REQUIRE_REAL_PART(jackAvailable(), kNoJackServer);
  QTemporaryDir fifoDir;
  const QString fifo = fifoDir.filePath("out");
  ASSERT_EQ(::mkfifo(qPrintable(fifo), 0600), 0);
  const int reader = ::open(qPrintable(fifo), O_RDONLY | O_NONBLOCK);  // open, not read
  ASSERT_GE(reader, 0);
  LinkedProgram copy("StuckOut", {}, [&](Program& p) { p.setStandardOutputFile(fifo); });
  ASSERT_TRUE(copy.started);
  JackSynth synth("stuck-synth");
  ASSERT_TRUE(waitFor([&] {
    const auto ours = synth.midiPorts("^StuckOut:out$", JackPortIsOutput);
    return !ours.empty() && synth.connect(ours[0], synth.port());
  }));
  RawPeer peer(copy.remote), peerChat(copy.remote + 1);
  ASSERT_TRUE(waitFor([&] {
    peer.sendTo(copy.local, QByteArray("\xf8", 1));
    return synth.waitFor(1, std::chrono::milliseconds(200));
  }));
  // About 2 MB of chat: far more than the pipe and the queue hold.
  const QByteArray line(1900, 'x');
  for (int k = 0; k < 1000; ++k) {
    peerChat.sendTo(copy.local + 1, line);
    if (k % 50 == 49) settle(20);
  }
  settle(500);
  synth.clear();
  for (std::uint8_t note = 0; note < 20; ++note) peer.sendTo(copy.local, QByteArray("\x90", 1) + char(note) + '\x40');
  EXPECT_TRUE(synth.waitFor(20, std::chrono::seconds(5))) << synth.count() << " of 20 played";
  peerChat.sendTo(copy.local + 1, QByteArray("\x01", 1));
  bool answered = false;
  for (int k = 0; k < 10 && !answered; ++k) answered = peerChat.receive(1000) == QByteArray("\x02", 1);
  EXPECT_TRUE(answered);
  // The reader comes back.
  QByteArray out;
  EXPECT_TRUE(waitFor([&] {
    char buf[65536];
    for (ssize_t n; (n = ::read(reader, buf, sizeof buf)) > 0;) out.append(buf, n);
    return QRegularExpression(QStringLiteral("\n\\(\\d+ lines dropped: the output was not being read\\)\n"))
        .match(QString::fromLatin1(out)).hasMatch();
  })) << out.right(300).toStdString();
  EXPECT_TRUE(endsCleanlyOn(copy.program, SIGTERM));
  ::close(reader);
}

// Standard input that never ends a line costs neither memory nor a core: the line
// is cut at what a peer reads, and that is said once.
TEST(HeadlessProgram, InputWithoutNewlinesIsCutOnceAndReadWithoutEatingACoreOrMemory) {
  REQUIRE_REAL_PART(jackAvailable(), kNoJackServer);
  LinkedProgram copy("ZeroIn", {}, [](Program& p) { p.setStandardInputFile(QStringLiteral("/dev/zero")); });
  ASSERT_TRUE(copy.started);
  const qint64 pid = copy.program.processId();
  QByteArray err;
  ASSERT_TRUE(waitFor([&] {
    err += copy.program.readAllStandardError();
    return err.contains("Chat line cut");
  })) << err.toStdString();
  const std::int64_t rss = residentKb(pid), cpu = cpuTicks(pid);
  settle(2000);
  // 2 s of a busy core are 200 ticks; the fault took nearly all of them, and 6 MB a second.
  EXPECT_LT(cpuTicks(pid) - cpu, 60);
  EXPECT_LT(residentKb(pid) - rss, 4000);
  ASSERT_TRUE(endsCleanlyOn(copy.program, SIGTERM));
  err += copy.program.readAllStandardError();
  EXPECT_EQ(err, "Chat line cut to its first 2000 bytes\n");
}

// A second copy under a name that JACK has given already gets another one
// ("NAME-01"): said in one line, since its ports are not where the user looks.
TEST(HeadlessProgram, ASecondCopyWithTheSameNameSaysWhatItsPortsAreCalled) {
  REQUIRE_REAL_PART(jackAvailable(), kNoJackServer);
  LinkedProgram first("Dup");
  ASSERT_TRUE(first.started);
  JackSynth synth("dup-synth");
  ASSERT_TRUE(waitFor([&] { return !synth.midiPorts("^Dup:out$", JackPortIsOutput).empty(); }));
  LinkedProgram second("Dup");
  ASSERT_TRUE(second.started);
  QByteArray err;
  EXPECT_TRUE(waitFor([&] {
    err += second.program.readAllStandardError();
    return err.contains('\n');
  })) << err.toStdString();
  EXPECT_EQ(err, "strandlink: Our MIDI ports are named \"Dup-01:in\" and \"Dup-01:out\", not \"Dup:in\" and "
                 "\"Dup:out\": the MIDI server has another client of that name\n");
  for (LinkedProgram* copy : {&first, &second}) EXPECT_TRUE(endsCleanlyOn(copy->program, SIGTERM));
  EXPECT_EQ(first.program.readAllStandardError(), QByteArray());
}

// SIGTERM at any moment of start-up ends the program as a normal stop does (status
// 0, nothing on standard error), in every mode: held back by the mask it was started
// with until main() lets it in, as soon as main() began, once the ports are listed.
TEST(HeadlessProgram, ASignalAtAnyMomentOfStartUpEndsItAsANormalStopDoes) {
  REQUIRE_REAL_PART(jackAvailable(), kNoJackServer);
  JackSynth synth("early-synth");
  enum Moment { Pending, FirstLine, PortsListed };
  for (const Moment moment : {Pending, FirstLine, PortsListed}) {
    SCOPED_TRACE(int(moment));
    LinkedProgram copy("Early", {}, [&](Program& p) {
      if (moment == Pending) p.setChildProcessModifier([] {
          ::prctl(PR_SET_PDEATHSIG, SIGKILL);
          sigset_t term;
          sigemptyset(&term);
          sigaddset(&term, SIGTERM);
          sigprocmask(SIG_BLOCK, &term, nullptr);
        });
    });
    ASSERT_TRUE(copy.started);
    const auto pid = pid_t(copy.program.processId());
    const auto reached = [&] {
      if (moment == FirstLine) return takesSignal(pid, SIGUSR1, true);
      return moment != PortsListed || !synth.midiPorts("^Early:", JackPortIsOutput).empty();
    };
    ASSERT_TRUE(waitFor(reached));
    EXPECT_TRUE(endsCleanlyOn(copy.program, SIGTERM));
    EXPECT_EQ(copy.program.readAllStandardError(), QByteArray());
  }
  for (const QStringList& args : {QStringList{"--demo"}, QStringList{"--list-peers"}}) {
    Program program;
    program.start(QStringLiteral(STRANDLINK_PROGRAM), args);
    ASSERT_TRUE(waitFor([&] {
      return program.state() == QProcess::Running && takesSignal(program.processId(), SIGUSR1, true);
    }));
    ::kill(pid_t(program.processId()), SIGTERM);
    ASSERT_TRUE(program.waitForFinished(10000));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit) << args[0].toStdString();
  }
}
