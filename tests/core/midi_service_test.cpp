// The MIDI service against a real JACK server (the dummy driver that
// scripts/test.sh starts), with plain JACK clients as keyboard and synth.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <future>
#include <latch>
#include <mutex>
#include <optional>
#include <thread>

#include "midi/midi_service.h"
#include "midi/rtmidi_service.h"
#include "support/jack_client.h"

namespace strandlink::midi {
namespace {

using test::JackKeyboard;
using test::JackSynth;
using test::MidiBytes;
using namespace std::chrono_literals;

// Sets an environment variable for one scope and puts the old value back.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    ::setenv(name, value, 1);
  }
  ~ScopedEnv() { old_ ? ::setenv(name_, old_->c_str(), 1) : ::unsetenv(name_); }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

// What the input callback saw, in order. Runs on JACK's thread.
struct Recorder {
  static void callback(void* self, std::uint32_t message, std::uint32_t param1) {
    auto& r = *static_cast<Recorder*>(self);
    std::lock_guard lock(r.mutex);
    if (message == MIM_DATA) r.words_.push_back(param1);
    else r.others_.push_back(message);
  }
  std::vector<std::uint32_t> data() {
    std::lock_guard lock(mutex);
    return words_;
  }
  std::vector<std::uint32_t> others() {  // the calls that carry no data
    std::lock_guard lock(mutex);
    return others_;
  }
  bool waitForData(std::size_t count) {
    const auto end = std::chrono::steady_clock::now() + 10s;
    while (data().size() < count && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(1ms);
    return data().size() >= count;
  }
  std::mutex mutex;
  std::vector<std::uint32_t> words_, others_;
};

std::uint32_t word(const MidiBytes& m) {
  std::uint32_t w = 0;
  for (std::size_t i = 0; i < m.size(); ++i) w |= std::uint32_t(m[i]) << (8 * i);
  return w;
}

// One message of every kind the bridge carries.
const std::vector<MidiBytes> kEveryKind = {
    {0x90, 0x3C, 0x64}, {0x80, 0x3C, 0x40}, {0xB2, 0x07, 0x7F}, {0xC5, 0x07}, {0xD1, 0x55}, {0xE0, 0x00, 0x40},
    {0xF8}, {0xFE}, {0xF2, 0x10, 0x02}, {0xFA}, {0xFC}};

class MidiServiceJack : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    if (!test::jackServerRunning(&why)) GTEST_SKIP() << "No JACK server for the MIDI tests: " << why;
    // Short, so that "<client> In" is listed uncut; new per test, so that no
    // port of an earlier test is taken for ours.
    static int count = 0;
    client_ = "slt" + std::to_string(++count);
    service_ = makeMidiService(client_);
    auto* rt = dynamic_cast<RtMidiService*>(service_.get());
    ASSERT_NE(rt, nullptr) << "a JACK server runs, yet no RtMidi service was made";
    ASSERT_EQ(rt->api(), RtMidi::UNIX_JACK);
  }
  // The entry of a full port name in a list, or -1.
  static int entryOf(const std::vector<std::string>& list, const std::string& name) {
    const auto it = std::find(list.begin(), list.end(), name);
    return it == list.end() ? -1 : int(it - list.begin());
  }
  // Our own virtual input, opened and connected to the keyboard by hand.
  void openOwnInput(JackKeyboard& keyboard, MidiInCallback callback, void* user, std::unique_ptr<MidiInPort>& in) {
    ASSERT_EQ(service_->openInput(0, callback, user, in), kMidiOk);
    const auto ours = keyboard.midiPorts(":" + client_ + " In$", JackPortIsInput);
    ASSERT_EQ(ours.size(), 1u);
    ASSERT_TRUE(keyboard.connect(keyboard.port(), ours[0]));
  }
  // An output opened on the synth's listed entry, the connection made at open in use.
  void openSynthOutput(JackSynth& synth, std::unique_ptr<MidiOutPort>& out) {
    const int entry = entryOf(service_->outputNames(), synth.port());
    ASSERT_GT(entry, 0);
    ASSERT_EQ(service_->openOutput(entry - 1, out), kMidiOk);
    ASSERT_TRUE(synth.waitCycles(2));
  }

  ScopedEnv api_{"STRANDLINK_MIDI_API", "jack"};
  std::string client_;
  std::unique_ptr<MidiService> service_;
};

TEST_F(MidiServiceJack, ListsOurPortsFirstAndOtherClientsAfter) {
  JackKeyboard keyboard("kbd");
  JackSynth synth("syn");
  ASSERT_TRUE(keyboard.ok() && synth.ok());
  std::vector<std::string> inputs = service_->inputNames(), outputs = service_->outputNames();
  ASSERT_GE(inputs.size(), 2u);
  ASSERT_GE(outputs.size(), 2u);
  EXPECT_EQ(inputs[0], client_ + " In");
  EXPECT_EQ(outputs[0], client_ + " Out");
  EXPECT_GT(entryOf(inputs, keyboard.port()), 0);
  EXPECT_EQ(entryOf(inputs, synth.port()), -1);
  EXPECT_GT(entryOf(outputs, synth.port()), 0);
  EXPECT_EQ(entryOf(outputs, keyboard.port()), -1);

  // With our ports open, other programs see them, and our own lists do not show
  // them a second time.
  Recorder recorder;
  std::unique_ptr<MidiInPort> in;
  std::unique_ptr<MidiOutPort> out;
  ASSERT_EQ(service_->openInput(0, &Recorder::callback, &recorder, in), kMidiOk);
  ASSERT_EQ(service_->openOutput(-1, out), kMidiOk);
  EXPECT_EQ(keyboard.midiPorts(":" + client_ + " In$", JackPortIsInput).size(), 1u);
  EXPECT_EQ(synth.midiPorts(":" + client_ + " Out$", JackPortIsOutput).size(), 1u);
  inputs = service_->inputNames();
  outputs = service_->outputNames();
  for (std::size_t i = 1; i < inputs.size(); ++i) EXPECT_EQ(inputs[i].find(client_), std::string::npos);
  for (std::size_t i = 1; i < outputs.size(); ++i) EXPECT_EQ(outputs[i].find(client_), std::string::npos);

  EXPECT_EQ(in->close(), kMidiOk);
  EXPECT_EQ(out->close(), kMidiOk);
  EXPECT_TRUE(keyboard.midiPorts(":" + client_ + " In$", JackPortIsInput).empty());
  EXPECT_TRUE(synth.midiPorts(":" + client_ + " Out$", JackPortIsOutput).empty());
}

// Opened on the keyboard's listed entry: the connection is made at open.
TEST_F(MidiServiceJack, EveryKindOfMessageFromAListedPortReachesTheCallbackPackedAndInOrder) {
  JackKeyboard keyboard("kbd");
  ASSERT_TRUE(keyboard.ok());
  const int device = entryOf(service_->inputNames(), keyboard.port());
  ASSERT_GT(device, 0);
  Recorder recorder;
  std::unique_ptr<MidiInPort> in;
  ASSERT_EQ(service_->openInput(device, &Recorder::callback, &recorder, in), kMidiOk);
  ASSERT_EQ(in->start(), kMidiOk);
  ASSERT_TRUE(keyboard.waitCycles(2));  // the connection made at open is in use

  // SysEx in the middle is left out; several messages share a cycle.
  std::vector<MidiBytes> played = kEveryKind;
  played.insert(played.begin() + 5, MidiBytes{0xF0, 0x7D, 0x01, 0xF7});
  ASSERT_TRUE(keyboard.play(played, 3));
  ASSERT_TRUE(recorder.waitForData(kEveryKind.size())) << recorder.data().size() << " arrived";
  std::vector<std::uint32_t> expected;
  for (const MidiBytes& m : kEveryKind) expected.push_back(word(m));
  EXPECT_EQ(recorder.data(), expected);
  EXPECT_EQ(in->close(), kMidiOk);
  EXPECT_EQ(recorder.others(), (std::vector<std::uint32_t>{MIM_OPEN, MIM_CLOSE}));
}

TEST_F(MidiServiceJack, DeliveryOnlyBetweenStartAndStop) {
  JackKeyboard keyboard("kbd");
  JackSynth witness("witness");  // shows when the keyboard has played
  ASSERT_TRUE(keyboard.ok() && witness.ok());
  Recorder recorder;
  std::unique_ptr<MidiInPort> in;
  openOwnInput(keyboard, &Recorder::callback, &recorder, in);
  ASSERT_TRUE(keyboard.connect(keyboard.port(), witness.port()));

  // Played before start: a later cycle has run once the witness has the second.
  ASSERT_TRUE(keyboard.play({{0x90, 1, 1}, {0x90, 2, 2}}));
  ASSERT_TRUE(witness.waitFor(2));
  ASSERT_EQ(in->start(), kMidiOk);
  ASSERT_TRUE(keyboard.play({{0x90, 3, 3}}));
  ASSERT_TRUE(recorder.waitForData(1));
  ASSERT_EQ(in->stop(), kMidiOk);
  ASSERT_TRUE(keyboard.play({{0x90, 4, 4}, {0x90, 5, 5}}));
  ASSERT_TRUE(witness.waitFor(5));
  ASSERT_EQ(in->reset(), kMidiOk);
  ASSERT_EQ(in->start(), kMidiOk);
  ASSERT_TRUE(keyboard.play({{0x90, 6, 6}}));
  ASSERT_TRUE(recorder.waitForData(2));
  EXPECT_EQ(recorder.data(), (std::vector<std::uint32_t>{0x030390, 0x060690}));
}

// A callback held on JACK's thread until the test lets each call go, while the
// test's thread stops or closes the port.
struct HeldCallback {
  static void callback(void* self, std::uint32_t message, std::uint32_t) {
    auto& h = *static_cast<HeldCallback*>(self);
    if (message != MIM_DATA) return;
    const int me = h.entered.fetch_add(1) + 1;
    const auto end = std::chrono::steady_clock::now() + 10s;
    while (h.released.load() < me && std::chrono::steady_clock::now() < end)
      std::this_thread::sleep_for(100us);  // leave the CPU to the thread that stops
    h.finished.fetch_add(1);
  }
  bool waitEntered(int count) {
    const auto end = std::chrono::steady_clock::now() + 10s;
    while (entered.load() < count && std::chrono::steady_clock::now() < end) std::this_thread::yield();
    return entered.load() >= count;
  }
  std::atomic<int> entered{0}, released{0}, finished{0};
};

TEST_F(MidiServiceJack, StopAndCloseWaitForACallbackInProgress) {
  JackKeyboard keyboard("kbd");
  ASSERT_TRUE(keyboard.ok());
  HeldCallback held;
  std::unique_ptr<MidiInPort> in;
  openOwnInput(keyboard, &HeldCallback::callback, &held, in);
  ASSERT_EQ(in->start(), kMidiOk);

  for (const bool closing : {false, true}) {
    SCOPED_TRACE(closing ? "close" : "stop");
    const int call = held.entered.load() + 1;
    ASSERT_TRUE(keyboard.play({{0x90, 1, 1}}));
    ASSERT_TRUE(held.waitEntered(call));
    auto ending = std::async(std::launch::async, [&] { return closing ? in->close() : in->stop(); });
    EXPECT_EQ(ending.wait_for(50ms), std::future_status::timeout) << "returned during the callback";
    held.released.store(call);
    EXPECT_EQ(ending.get(), kMidiOk);
    EXPECT_EQ(held.finished.load(), call);
    // Played once stop or close has returned: not delivered. Two more cycles of the
    // keyboard, and every client has been through the cycle that carried it.
    ASSERT_TRUE(keyboard.play({{0x90, 2, 2}}));
    ASSERT_TRUE(keyboard.waitUntilPlayed());
    ASSERT_TRUE(keyboard.waitCycles(2));
    EXPECT_EQ(held.entered.load(), call);
    if (!closing) ASSERT_EQ(in->start(), kMidiOk);
  }
  EXPECT_EQ(held.entered.load(), 2);
  EXPECT_EQ(in->start(), kMidiNotOpen);
  EXPECT_EQ(in->close(), kMidiNotOpen);
}

TEST_F(MidiServiceJack, OutputIsByteExactAndInvalidWordsSendNothing) {
  JackSynth synth("syn");
  ASSERT_TRUE(synth.ok());
  std::unique_ptr<MidiOutPort> out;
  openSynthOutput(synth, out);

  const std::uint32_t invalid[] = {
      0x00403C,                                // no status byte
      0x0000F0, 0x0000F7, 0x0000F4, 0x0000F5,  // SysEx and undefined
      0x00BC90, 0x803C90,                      // note on with data 1 or data 2 >= 128
      0x0080C0, 0x0080F2};                     // program change, song position with a bad byte
  for (std::uint32_t w : invalid) EXPECT_EQ(out->sendShort(w), kMidiInvalidMessage) << std::hex << w;
  for (const MidiBytes& m : kEveryKind) EXPECT_EQ(out->sendShort(word(m)), kMidiOk);
  // Bytes the status does not call for are not sent, whatever they hold.
  EXPECT_EQ(out->sendShort(0xFFFF07C5u), kMidiOk);
  EXPECT_EQ(out->sendShort(0x00FFFFF8u), kMidiOk);
  ASSERT_TRUE(synth.waitFor(kEveryKind.size() + 2));
  std::vector<MidiBytes> expected = kEveryKind;
  expected.push_back({0xC5, 0x07});
  expected.push_back({0xF8});
  EXPECT_EQ(synth.received(), expected);
  EXPECT_EQ(out->close(), kMidiOk);
  EXPECT_EQ(out->sendShort(0x403C90), kMidiNotOpen);
}

TEST_F(MidiServiceJack, TwoThreadsSendingAtOnceLoseNothingAndKeepTheirOrder) {
  JackSynth synth("syn");
  ASSERT_TRUE(synth.ok());
  std::unique_ptr<MidiOutPort> out;
  openSynthOutput(synth, out);

  // Rounds of bursts small enough for one cycle's buffers, so that only a fault
  // of ours can lose or garble a message; several, because a race shows at random.
  constexpr int kRounds = 6, kEach = 500;
  auto sender = [&](std::uint8_t status, int round, std::latch& go) {
    go.arrive_and_wait();  // both at once, so that the sends overlap
    int failures = 0;
    for (int i = round * kEach; i < (round + 1) * kEach; ++i)
      failures += out->sendShort(status | std::uint32_t(i % 128) << 8 | std::uint32_t(i / 128) << 16) != kMidiOk;
    return failures;
  };
  for (int round = 0; round < kRounds; ++round) {
    std::latch go(2);
    auto a = std::async(std::launch::async, sender, std::uint8_t{0x90}, round, std::ref(go));
    auto b = std::async(std::launch::async, sender, std::uint8_t{0xB1}, round, std::ref(go));
    EXPECT_EQ(a.get() + b.get(), 0);
    ASSERT_TRUE(synth.waitFor(std::size_t(2 * kEach * (round + 1))))
        << synth.received().size() << " arrived by round " << round;
  }
  EXPECT_FALSE(synth.overflowed());
  int next[2] = {0, 0};
  for (const MidiBytes& m : synth.received()) {
    ASSERT_EQ(m.size(), 3u);
    const int who = m[0] == 0x90 ? 0 : 1;
    EXPECT_EQ(m[1] + 128 * m[2], next[who]++) << "thread " << who << " out of order";
  }
  EXPECT_EQ(next[0], kRounds * kEach);
  EXPECT_EQ(next[1], kRounds * kEach);
}

TEST_F(MidiServiceJack, BadNumbersVanishedPortsAndTakenPortsFailCleanly) {
  Recorder recorder;
  std::unique_ptr<MidiInPort> in, second;
  std::unique_ptr<MidiOutPort> out;
  std::optional<JackKeyboard> keyboard("kbd");
  ASSERT_TRUE(keyboard->ok());
  const auto inputs = service_->inputNames();
  const auto outputs = service_->outputNames();

  EXPECT_EQ(service_->openInput(-1, &Recorder::callback, &recorder, in), kMidiBadDevice);
  EXPECT_EQ(service_->openInput(int(inputs.size()), &Recorder::callback, &recorder, in), kMidiBadDevice);
  EXPECT_EQ(service_->openOutput(-2, out), kMidiBadDevice);
  EXPECT_EQ(service_->openOutput(int(outputs.size()) - 1, out), kMidiBadDevice);
  EXPECT_EQ(service_->errorText(kMidiBadDevice), "The device number names no device.");

  // The keyboard leaves between listing and opening.
  const int device = entryOf(inputs, keyboard->port());
  ASSERT_GT(device, 0);
  keyboard.reset();
  EXPECT_EQ(service_->openInput(device, &Recorder::callback, &recorder, in), kMidiDeviceGone);
  EXPECT_FALSE(in);
  EXPECT_TRUE(recorder.others().empty());

  // Our own virtual port exists once.
  ASSERT_EQ(service_->openInput(0, &Recorder::callback, &recorder, in), kMidiOk);
  EXPECT_EQ(service_->openInput(0, &Recorder::callback, &recorder, second), kMidiAllocated);
  EXPECT_FALSE(second);
  EXPECT_EQ(service_->errorText(kMidiAllocated), "The MIDI port is already in use.");
  ASSERT_EQ(in->close(), kMidiOk);
  EXPECT_EQ(service_->openInput(0, &Recorder::callback, &recorder, second), kMidiOk);
}

TEST(MidiServiceNone, NoServiceGivesEmptyListsAndOpensFailWithTheirCode) {
  const std::string nobody = "strandlink-nobody-" + std::to_string(::getpid());
  ScopedEnv server("JACK_DEFAULT_SERVER", nobody.c_str());
  std::vector<const char*> apis{"jack"};
  const int seq = ::open("/dev/snd/seq", O_RDWR | O_NONBLOCK);
  if (seq < 0) apis.push_back("alsa");  // only where ALSA cannot answer either
  else ::close(seq);

  for (const char* api : apis) {
    SCOPED_TRACE(api);
    ScopedEnv forced("STRANDLINK_MIDI_API", api);
    auto service = makeMidiService("sl-none");
    ASSERT_NE(service, nullptr);
    EXPECT_TRUE(service->inputNames().empty() && service->outputNames().empty());
    Recorder recorder;
    std::unique_ptr<MidiInPort> in;
    std::unique_ptr<MidiOutPort> out;
    EXPECT_EQ(service->openInput(0, &Recorder::callback, &recorder, in), kMidiNoService);
    EXPECT_EQ(service->openOutput(-1, out), kMidiNoService);
    EXPECT_FALSE(in || out);
    EXPECT_EQ(service->errorText(kMidiNoService),
              "No MIDI service is running (neither an ALSA sequencer nor a JACK server).");
  }
}

// Port names in ALSA's form, which cannot be run here.
TEST(MidiPortNames, ListedNamesAreCutCleanlyAndOwnPortsAreRecognised) {
  EXPECT_EQ(listedPortName(std::string("synth:in\0junk", 13)), "synth:in");
  EXPECT_EQ(listedPortName(std::string(40, 'x')), std::string(31, 'x'));
  // "é" is two bytes, at 30 and 31: cutting at 31 would leave half of it.
  EXPECT_EQ(listedPortName(std::string(30, 'a') + "\xC3\xA9" + "bc"), std::string(30, 'a'));
  EXPECT_EQ(listedPortName(std::string(29, 'a') + "\xC3\xA9" + "bc"), std::string(29, 'a') + "\xC3\xA9");

  const std::pair<const char*, bool> names[] = {
      {"Strandlink:Strandlink In", true},        {"Strandlink-01:Strandlink In", true},
      {"Strandlink:Strandlink In 128:0", true},  {"Strandlink2:Strandlink In", false},
      {"Strandlink-x:Strandlink In", false},     {"Strandlink:Strandlink Input", false},
      {"Strandlink:Strandlink In 128", false},   {"system:midi_capture_1", false}};
  for (auto [name, own] : names) EXPECT_EQ(isOwnPortName(name, "Strandlink", "Strandlink In"), own) << name;
}

}  // namespace
}  // namespace strandlink::midi
