// Devices that go away during a session and come back, a hundred times while MIDI
// flows: JACK clients whose ports vanish and reappear under the same name. Each
// disappearance is reported once, the device is opened again by name as soon as
// it is back, and neither that nor Stop tears down what a process cycle may read.
#include <gtest/gtest.h>

#include <thread>

#include "support/jack_client.h"
#include "support/side.h"
#include "support/real_part.h"

using namespace strandlink;
using namespace strandlink::test;

TEST(DeviceReturn, EachOfAHundredUnplugsDuringTrafficIsReportedOnceAndTheDeviceReopenedWhenBack) {
  REQUIRE_REAL_PART(jackAvailable(), kNoJackServer);
  auto keyboard = madeWhenServed<JackKeyboard>("plug-kb");
  auto synth = madeWhenServed<JackSynth>("plug-syn");
  const int local = freePortPair();
  RawPeer peer(freePortPair());
  auto side = makeSide("Replug", local, peer.port());
  side->settings.inputPosition = entryOf(side->link.devices().inputs, "plug-kb:out");
  side->settings.outputPosition = entryOf(side->link.devices().outputs, "plug-syn:in");
  ASSERT_TRUE(side->settings.inputPosition > 0 && side->settings.outputPosition > 0);
  ASSERT_TRUE(side->start(true));
  // Datagrams to play arrive all the time, from a thread of their own.
  std::jthread datagrams([&](std::stop_token stop) {
    RawPeer sender(freePortPair());
    while (!stop.stop_requested()) {
      sender.sendTo(local, QByteArray("\x91\x30\x40", 3));
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  const auto check = [&] { side->link.checkDevices(); };
  for (int plug = 0; plug < 100; ++plug) {
    // Unplugged, by turns the keyboard and the synth, while the other keeps working.
    if (plug % 2 == 0) keyboard.reset();
    else synth.reset();
    // The server takes a port away or registers it on its own time: check until the
    // watch has seen it, as its timer would.
    ASSERT_TRUE(waitFor([&] { check(); return side->boxes.boxes.size() == plug + 1; })) << plug;
    if (plug < 2) {
      EXPECT_EQ(side->boxes.boxes[plug].title, "Device Error");
      EXPECT_TRUE(side->boxes.boxes[plug].text.startsWith(
          plug == 0 ? "Midi Input: plug-kb:out :  The MIDI port is no longer there. It is opened again"
                    : "Midi Output: plug-syn:in :  The MIDI port is no longer there. It is opened again"))
          << side->boxes.boxes[plug].text.toStdString();
    }
    if (plug % 2 == 0) keyboard = madeWhenServed<JackKeyboard>("plug-kb");
    else synth = madeWhenServed<JackSynth>("plug-syn");
    ASSERT_TRUE(keyboard->ok() && synth->ok());
    synth->clear();
    // Both paths play again, once the watch has opened the device again: the
    // keyboard's thru and the network's datagrams.
    ASSERT_TRUE(waitFor([&] {
      check();
      keyboard->play({{0x90, 5, 5}});
      return countOf(*synth, 0x90) > 0 && countOf(*synth, 0x91) > 0;
    })) << plug;
  }
  datagrams.request_stop();
  datagrams.join();
  EXPECT_EQ(side->boxes.boxes.size(), 100);
  // Stop closes cleanly what the watch opened again.
  side->link.stop();
  EXPECT_EQ(side->boxes.boxes.size(), 100);
}
