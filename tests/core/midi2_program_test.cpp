// Copies of the real program over Network MIDI 2.0 on the test's JACK server: a
// host with four clients, what the host's input plays reaching each client once
// and a 64 KiB SysEx from a client reaching the host whole; and a client killed
// without a goodbye and started again from another port, back within 3 s.
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

#include "support/jack_client.h"
#include "support/program_copy.h"
#include "support/real_part.h"
#include "support/side.h"
#include "support/sysex_bytes.h"

using namespace strandlink;
using namespace strandlink::test;

namespace {

class Midi2Program : public ::testing::Test {
 protected:
  void SetUp() override {
    REQUIRE_REAL_PART(jackAvailable(), kNoJackServer);
    ASSERT_TRUE(QFile::copy(QStringLiteral(STRANDLINK_PROGRAM), program));
  }
  // A host on hostPort, or a client of it from its own port.
  std::unique_ptr<Copy> copy(const QString& name, int local, bool client) {
    QStringList args{"--headless", "--protocol", "midi2", "--local", QStringLiteral("127.0.0.1:%1").arg(local),
                     "--input",    "0",        "--output", "0",      "--name", name};
    if (client) args << "--remote" << QStringLiteral("127.0.0.1:%1").arg(hostPort);
    return std::make_unique<Copy>(program, args);
  }
  QTemporaryDir dir;  // the program's own copy, so that its default file lies here
  const QString program = dir.filePath("strandlink");
  const int hostPort = freePortPair();
};

TEST_F(Midi2Program, FourClientsHearTheHostOnceAndOneSendsItA64KiBSysEx) {
  auto host = copy("M2Host", hostPort, false);
  ASSERT_TRUE(waitFor([&] { return host->out().contains("\n"); }, 5000)) << host->out().toStdString();
  std::vector<std::unique_ptr<Copy>> clients;
  for (int i = 0; i < 4; ++i) clients.push_back(copy(QStringLiteral("M2Client%1").arg(i), freePortPair(), true));
  ASSERT_TRUE(waitFor([&] {
    return host->out().count(" is up\n") == 4 && std::ranges::all_of(clients, [](auto& c) { return c->says("Connected"); });
  })) << host->out().toStdString();

  JackSysExClient atHost("m2-at-host");
  ASSERT_TRUE(atHost.ok() && atHost.connect(atHost.outPort(), "M2Host:in") &&
              atHost.connect("M2Host:out", atHost.inPort()));
  std::vector<std::unique_ptr<JackSynth>> ears;
  for (int i = 0; i < 4; ++i) {
    ears.push_back(std::make_unique<JackSynth>("m2-ear" + std::to_string(i)));
    ASSERT_TRUE(ears.back()->connect("M2Client" + std::to_string(i) + ":out", ears.back()->port()));
  }
  // New connections carry data some cycles later: a clock byte until each hears one.
  ASSERT_TRUE(waitFor([&] {
    atHost.play({{{0xF8}}});
    return waitFor([&] { return std::ranges::all_of(ears, [](auto& e) { return e->count() > 0; }); }, 200);
  }));
  settle(300);
  for (auto& ear : ears) ear->clear();
  const MidiBytes note{0x90, 0x3C, 0x64};
  atHost.play({{note}});
  for (auto& ear : ears) ASSERT_TRUE(ear->waitFor(1)) << "a client heard nothing";
  settle(300);
  for (auto& ear : ears) EXPECT_EQ(ear->received(), std::vector<MidiBytes>{note});

  JackSysExClient player("m2-player");
  ASSERT_TRUE(player.ok() && player.connect(player.outPort(), "M2Client2:in"));
  settle(300);
  const std::size_t before = atHost.events().size();
  const MidiBytes dump = sysExOf(midi::kMaxMessageBytes);
  player.play({{dump, player.roomPerCycle()}});
  ASSERT_TRUE(player.waitUntilPlayed());
  ASSERT_TRUE(waitFor([&] { return atHost.lastEvent().size() > 0 && atHost.lastEvent().back() == 0xF7; }, 10000));
  const auto all = atHost.events();
  const auto got = wholeMessages({all.begin() + std::ptrdiff_t(before), all.end()});
  ASSERT_EQ(got.size(), 1u);
  EXPECT_TRUE(got[0].bytes == dump) << got[0].bytes.size() << " bytes";
}

// Killed, the client says no goodbye; started again from another port under its
// name, the host takes it for a restart at once rather than after its pings.
TEST_F(Midi2Program, AKilledClientIsBackFromAnotherPortWithinThreeSeconds) {
  auto host = copy("M2Keep", hostPort, false);
  auto client = copy("M2Killed", freePortPair(), true);
  ASSERT_TRUE(waitFor([&] { return host->says("Connected") && client->says("Connected"); }))
      << host->out().toStdString() << client->out().toStdString();
  ::kill(pid_t(client->processId()), SIGKILL);
  ASSERT_TRUE(client->waitForFinished(5000));
  const qsizetype seen = host->out().size();
  client = copy("M2Killed", freePortPair(), true);
  QElapsedTimer sinceRestart;
  sinceRestart.start();
  ASSERT_TRUE(waitFor([&] { return client->says("Connected") && host->out().mid(seen).contains(" is up\n"); }, 3000))
      << host->out().toStdString() << client->out().toStdString();
  EXPECT_LT(sinceRestart.elapsed(), 3000);
  EXPECT_EQ(host->out().mid(seen).count("Not Connected"), 0) << host->out().mid(seen).toStdString();
  EXPECT_TRUE(host->out().mid(seen).contains("session with M2Killed ended: it restarted\n"));
}

}  // namespace
