// Our JACK client the ways a user reaches it: Stop and Start again and again while
// MIDI flows both ways with thru on, and a JACK server killed and started again
// under a running link. (Devices plugged again: device_return_test.)
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

#include "support/jack_client.h"
#include "support/real_part.h"
#include "support/side.h"
#include "support/sysex_bytes.h"

using namespace strandlink;
using namespace strandlink::test;

TEST(JackLink, TwoHundredStopsAndStartsWithTrafficBothWaysAndThruOn) {
  REQUIRE_REAL_PART(jackAvailable(), kNoJackServer);
  const int pa = freePortPair(), pb = freePortPair();
  auto a = makeSide("CycleA", pa, pb), b = makeSide("CycleB", pb, pa);
  ASSERT_TRUE(a->start(true) && b->start(true));
  JackKeyboard kbA("cycle-kb-a"), kbB("cycle-kb-b");
  JackSynth synA("cycle-syn-a"), synB("cycle-syn-b");
  ASSERT_TRUE(kbA.connect(kbA.port(), "CycleA:in") && kbB.connect(kbB.port(), "CycleB:in"));
  ASSERT_TRUE(synA.connect("CycleA:out", synA.port()) && synB.connect("CycleB:out", synB.port()));
  for (int cycle = 0; cycle < 200; ++cycle) {
    // Notes from A's keyboard, controllers from B's, while both keep playing:
    // A's thru and B's network path end at A's synth, A's network path at B's.
    kbA.play({{0x90, 1, 1}, {0x90, 2, 2}});
    a->link.stop();
    ASSERT_TRUE(a->start(true)) << cycle;
    synA.clear();
    synB.clear();
    ASSERT_TRUE(waitFor([&] {
      kbA.play({{0x90, 3, 3}});
      kbB.play({{0xB0, 4, 4}});
      return countOf(synA, 0x90) > 0 && countOf(synA, 0xB0) > 0 && countOf(synB, 0x90) > 0;
    })) << "cycle " << cycle;
  }
  EXPECT_TRUE(a->boxes.boxes.isEmpty() && b->boxes.boxes.isEmpty()) << a->boxes.texts().join("; ").toStdString();
  // Stop and Start changed no port and no connection.
  auto ports = kbA.midiPorts("^CycleA[-:]", 0);
  std::sort(ports.begin(), ports.end());
  EXPECT_EQ(ports, (std::vector<std::string>{"CycleA:in", "CycleA:out"}));
  EXPECT_TRUE(kbA.connected(kbA.port(), "CycleA:in") && synA.connected("CycleA:out", synA.port()));
}

// The devices are programs (a keyboard, a synth) that end with the server and are
// started again only after it is back; a third program had connected itself to
// our output. Nothing is connected by the test after the restart.
TEST(JackLink, AServerKilledAndStartedAgainWithItsProgramsLaterCarriesMidiAgainWithoutATouch) {
  KillableJack server("strandlink-restart-" + std::to_string(::getpid()));
  REQUIRE_REAL_PART(server.start(), "jackd cannot start here");
  const int local = freePortPair();
  RawPeer peer(freePortPair());
  auto keyboard = std::make_unique<JackKeyboard>("phoenix-kb");
  auto synth = std::make_unique<JackSynth>("phoenix-syn");
  auto listener = std::make_unique<JackSynth>("phoenix-ear");
  auto side = makeSide("Phoenix", local, peer.port());
  const int in = entryOf(side->link.devices().inputs, "phoenix-kb:out");
  const int out = entryOf(side->link.devices().outputs, "phoenix-syn:in");
  side->settings.inputPosition = in;
  side->settings.outputPosition = out;
  ASSERT_TRUE(in > 0 && out > 0 && side->start());
  ASSERT_TRUE(listener->connect("Phoenix:out", listener->port()));
  // A note each way until both arrive: the keyboard's at the peer, the peer's at
  // the synth and at the program that had connected itself. The link's own
  // once-a-second check is all that follows the devices.
  const auto flows = [&](int deadlineMs) {
    while (peer.receive(50)) {
    }
    synth->clear();
    listener->clear();
    bool sent = false;
    return waitFor([&] {
      keyboard->play({{0x90, 0x40, 0x41}});
      peer.sendTo(local, QByteArray("\x90\x3C\x40", 3));
      while (const auto got = peer.receive(0)) sent = sent || *got == QByteArray("\x90\x40\x41", 3);
      return sent && countOf(*synth, 0x90) > 0 && countOf(*listener, 0x90) > 0;
    }, deadlineMs);
  };
  // The server killed with its programs, then the programs made again once it serves.
  const auto killServer = [&] {
    server.stop(SIGKILL);
    keyboard.reset();
    synth.reset();
    listener.reset();
  };
  const auto programsBack = [&] {
    keyboard = madeWhenServed<JackKeyboard>("phoenix-kb");
    synth = madeWhenServed<JackSynth>("phoenix-syn");
    listener = madeWhenServed<JackSynth>("phoenix-ear");
  };
  ASSERT_TRUE(flows(10000));
  EXPECT_EQ(side->link.statusText(), "Not Connected");
  side->link.checkDevices();  // as its once-a-second check does, which notes its ports' connections

  killServer();
  ASSERT_TRUE(waitFor([&] { return side->link.missing().service; }, 5000));
  EXPECT_EQ(side->link.statusText(), "Not Connected - MIDI service missing");
  // While the server is away a device's absence says nothing: the service's loss is reported once.
  EXPECT_EQ(side->midi->checkService(), midi::ServiceState::Down);  // asked anew, not remembered
  EXPECT_TRUE(side->midi->inputPresent(in) && side->midi->outputPresent(out));
  ASSERT_EQ(side->boxes.boxes.size(), 1) << side->boxes.texts().join("; ").toStdString();
  EXPECT_EQ(side->boxes.boxes[0].title, "Device Error");
  EXPECT_TRUE(side->boxes.boxes[0].text.startsWith("Midi Service:  The MIDI service has gone away."));

  ASSERT_TRUE(server.start());
  // Back without its programs: our ports again, and the status says what is missing.
  ASSERT_TRUE(waitFor([&] { return !side->link.missing().service; }, 5000));
  ASSERT_TRUE(waitFor([&] { return side->link.statusText() == "Not Connected - input and output missing"; }, 3000))
      << side->link.statusText().toStdString();
  EXPECT_TRUE(side->boxes.texts().join("|").contains("The MIDI service is back"));
  programsBack();
  ASSERT_TRUE(keyboard->ok() && synth->ok() && listener->ok());
  EXPECT_TRUE(flows(3000)) << "MIDI did not flow again within 3 s: " << countOf(*synth, 0x90) << " "
                          << countOf(*listener, 0x90) << " " << side->link.statusText().toStdString();
  EXPECT_EQ(side->link.statusText(), "Not Connected");

  // Once more, with the programs back before the link sees the server again (the
  // test's thread holds the loop): the new client connects them itself.
  side->link.checkDevices();
  killServer();
  ASSERT_TRUE(waitFor([&] { return side->link.missing().service; }, 5000));
  ASSERT_TRUE(server.start());
  programsBack();
  EXPECT_TRUE(flows(3000)) << "MIDI did not flow again within 3 s: " << countOf(*synth, 0x90) << " "
                          << countOf(*listener, 0x90) << " " << side->link.statusText().toStdString();
  side->link.stop();
}

// A SysEx plays on the thru but is not sent to a classic peer, which has no
// datagram for it; the notes around it go as before. That, and a SysEx the input
// had to drop, are each said once a session.
TEST(JackLink, SysExPlaysOnTheThruOnlyAndWhatAClassicPeerMissesIsSaidOnceASession) {
  REQUIRE_REAL_PART(jackAvailable(), kNoJackServer);
  RawPeer peer(freePortPair());
  auto side = makeSide("SysExSide", freePortPair(), peer.port());
  JackSysExClient player("sysex-player");
  ASSERT_TRUE(player.ok() && side->start(true));
  ASSERT_TRUE(player.connect(player.outPort(), "SysExSide:in") && player.connect("SysExSide:out", player.inPort()));
  ASSERT_TRUE(waitFor([&] {
    player.play({{{0xFE}}});
    return peer.receive(100) == QByteArray("\xFE\x00\x00", 3);
  }));
  while (peer.receive(200)) {
  }
  const MidiBytes dump = sysExOf(1000), tooLong = sysExOf(midi::kMaxMessageBytes + 1);
  const std::size_t piece = player.roomPerCycle();
  for (int session = 0; session < 2; ++session) {
    SCOPED_TRACE(session);
    const std::size_t logged = player.events().size();
    player.play({{{0x90, 1, 1}}, {dump, 300}, {{0x80, 1, 0}}, {tooLong, piece}, {dump}, {tooLong, piece}, {{0x90, 2, 2}}});
    ASSERT_TRUE(player.waitUntilPlayed());
    EXPECT_EQ(peer.receive(), QByteArray("\x90\x01\x01", 3));
    EXPECT_EQ(peer.receive(), QByteArray("\x80\x01\x00", 3));
    EXPECT_EQ(peer.receive(), QByteArray("\x90\x02\x02", 3));
    EXPECT_FALSE(peer.receive(300)) << "nothing but the notes";
    ASSERT_TRUE(waitFor([&] { return player.lastEvent() == MidiBytes{0x90, 2, 2}; }));
    const auto all = player.events();
    auto thru = wholeMessages({all.begin() + std::ptrdiff_t(logged), all.end()});
    std::erase_if(thru, [](const auto& m) { return m.bytes == MidiBytes{0xFE}; });  // late from the warm-up
    EXPECT_TRUE(thru.size() == 5 && thru[1].bytes == dump && thru[3].bytes == dump) << thru.size();
    waitFor([&] { return side->boxes.boxes.size() >= 2 * (session + 1); });  // posted to the loop
    ASSERT_EQ(side->boxes.boxes.size(), 2 * (session + 1)) << side->boxes.texts().join("; ").toStdString();
    const QString said = side->boxes.texts().mid(2 * session).join(" ");
    EXPECT_TRUE(said.contains("SysEx from the MIDI input is not sent to the peer: the classic peer protocol") &&
                said.contains("longer than 64 KiB")) << said.toStdString();
    side->link.stop();
    ASSERT_TRUE(side->start(true));
    settle(100);
  }
}
