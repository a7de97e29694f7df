// The MIDI service against a real JACK server (the dummy driver that
// scripts/test.sh starts), with plain JACK clients as keyboard and synth.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "base/monotonic_clock.h"
#include "midi/alsa/rtmidi_service.h"
#include "midi/jack/jack_service.h"
#include "midi/midi_service.h"
#include "support/jack_client.h"
#include "support/real_part.h"
#include "support/sysex_bytes.h"

namespace strandlink::midi {
namespace {

using test::JackKeyboard, test::JackSynth, test::MidiBytes, test::entryOf;
using namespace std::chrono_literals;

// Sets an environment variable for one scope and puts the old value back.
struct ScopedEnv {
  ScopedEnv(const char* variable, const char* value) : name(variable) {
    if (const char* was = std::getenv(variable)) old = was;
    ::setenv(variable, value, 1);
  }
  ~ScopedEnv() { old ? ::setenv(name, old->c_str(), 1) : ::unsetenv(name); }
  const char* name;
  std::optional<std::string> old;
};

// Waits for a condition that real I/O brings about, with a generous deadline.
template <class Done>
bool eventually(Done done) {
  for (const auto end = std::chrono::steady_clock::now() + 10s; !done() && std::chrono::steady_clock::now() < end;)
    std::this_thread::sleep_for(100us);  // leave the CPU to JACK's thread
  return done();
}

// What the input handler saw, in order, on JACK's thread, and how far its capture
// times were from the monotonic clock's now.
struct Recorder final : MidiInputHandler {
  void onMidiMessage(MidiEventView m, std::int64_t timeMicros) override {
    const std::int64_t off = std::abs(timeMicros - monotonicMicros());
    std::lock_guard lock(mutex);
    messages.emplace_back(m.bytes().begin(), m.bytes().end());
    worstClockOffset = std::max(worstClockOffset, off);
  }
  std::vector<MidiBytes> data() {
    std::lock_guard lock(mutex);
    return messages;
  }
  void clear() {
    std::lock_guard lock(mutex);
    messages.clear();
    worstClockOffset = 0;
  }
  std::mutex mutex;
  std::vector<MidiBytes> messages;
  std::int64_t worstClockOffset = 0;
};

ShortMessage message(const MidiBytes& m) { return ShortMessage::fromBytes(m); }

// One message of every kind the bridge carries.
const std::vector<MidiBytes> kEveryKind = {
    {0x90, 0x3C, 0x64}, {0x80, 0x3C, 0x40}, {0xB2, 0x07, 0x7F}, {0xC5, 0x07}, {0xD1, 0x55}, {0xE0, 0x00, 0x40},
    {0xF8}, {0xFE}, {0xF2, 0x10, 0x02}, {0xFA}, {0xFC}};

class MidiServiceJack : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    REQUIRE_REAL_PART(test::jackServerRunning(&why), "no JACK server for the MIDI tests: " << why);
    static int count = 0;  // new, so that no port of this or an earlier run is ours
    client_ = "slt" + std::to_string(::getpid()) + "-" + std::to_string(++count);
    service_ = makeMidiService(client_);
    ASSERT_TRUE(dynamic_cast<jack::JackMidiService*>(service_.get())) << "a JACK server runs, yet no JACK service";
  }

  ScopedEnv api_{"STRANDLINK_MIDI_API", "jack"};
  std::string client_;
  std::unique_ptr<MidiService> service_;
};

// Opened on the keyboard's listed entry: the connection is made at open. Only what
// is played after start is delivered; a short SysEx in the middle too.
TEST_F(MidiServiceJack, EveryKindOfMessageFromAListedPortReachesTheHandlerWholeAndInOrder) {
  JackKeyboard keyboard("kbd");
  const int device = entryOf(service_->inputNames(), keyboard.port());
  ASSERT_TRUE(keyboard.ok() && device > 0);
  Recorder recorder;
  std::unique_ptr<MidiInput> in;
  ASSERT_EQ(service_->openInput(device, recorder, in), MidiError::Ok);
  // The connection made at open is in use once a message gets through (JACK may skip
  // a slow new client's first cycles, many under a sanitizer).
  ASSERT_EQ(in->start(), MidiError::Ok);
  for (int i = 0; i < 200 && recorder.data().empty(); ++i) keyboard.play({{0xFE}}), keyboard.waitCycles(4);
  ASSERT_FALSE(recorder.data().empty());
  // Played while stopped: two more cycles, and every client has been through the one that carried it.
  ASSERT_EQ(in->stop(), MidiError::Ok);
  ASSERT_TRUE(keyboard.play({{0x90, 1, 1}}) && keyboard.waitUntilPlayed() && keyboard.waitCycles(2));
  recorder.clear();
  ASSERT_EQ(in->start(), MidiError::Ok);
  std::vector<MidiBytes> played = kEveryKind;
  played.insert(played.begin() + 5, MidiBytes{0xF0, 0x7D, 0x01, 0xF7});
  // Between them events that are no whole message: dropped and counted, each once.
  const std::vector<MidiBytes> broken{{0x90, 0x3C}, {0xC5}, {0xB2, 0x87, 0x10}, {0x3C, 0x40}, {0xE0, 0x90, 0x40}};
  std::vector<MidiBytes> events;
  for (std::size_t k = 0; k < played.size(); ++k) {
    events.push_back(played[k]);
    if (k < broken.size()) events.push_back(broken[k]);
  }
  ASSERT_TRUE(keyboard.play(events, 3));  // several messages share a cycle
  ASSERT_TRUE(eventually([&] { return recorder.data().size() >= played.size(); })) << recorder.data().size();
  ASSERT_TRUE(keyboard.waitUntilPlayed() && keyboard.waitCycles(2));
  EXPECT_EQ(recorder.data(), played);
  EXPECT_EQ(in->droppedMessages(), broken.size());
  // Capture times are on the monotonic clock (JACK's own is CLOCK_MONOTONIC_RAW,
  // 0.25 s from it on this machine): within a few periods of the handler's now,
  // or of a late handler's under ThreadSanitizer.
#ifdef __SANITIZE_THREAD__
  EXPECT_LT(recorder.worstClockOffset, 1000000);
#else
  EXPECT_LT(recorder.worstClockOffset, 50000);
#endif
  EXPECT_EQ(in->close(), MidiError::Ok);
  EXPECT_FALSE(keyboard.connected(keyboard.port(), client_ + ":in")) << "closing disconnects";
}

// A callback held on JACK's thread until the test lets each call go, while the
// test's thread stops or closes the port.
struct HeldCallback final : MidiInputHandler {
  void onMidiMessage(MidiEventView, std::int64_t) override {
    const int me = entered.fetch_add(1) + 1;
    eventually([&] { return released.load() >= me; });
    finished.fetch_add(1);
  }
  std::atomic<int> entered{0}, released{0}, finished{0};
};

TEST_F(MidiServiceJack, StopAndCloseWaitForACallbackInProgressAndNothingComesAfter) {
  JackKeyboard keyboard("kbd");
  ASSERT_TRUE(keyboard.ok());
  HeldCallback held;
  std::unique_ptr<MidiInput> in;
  ASSERT_EQ(service_->openInput(0, held, in), MidiError::Ok);  // our own, connected by hand
  ASSERT_TRUE(keyboard.connect(keyboard.port(), client_ + ":in"));
  ASSERT_EQ(in->start(), MidiError::Ok);

  for (const bool closing : {false, true}) {
    SCOPED_TRACE(closing ? "close" : "stop");
    const int call = held.entered.load() + 1;
    ASSERT_TRUE(keyboard.play({{0x90, 1, 1}}));
    ASSERT_TRUE(eventually([&] { return held.entered.load() == call; }));
    auto ending = std::async(std::launch::async, [&] { return closing ? in->close() : in->stop(); });
    EXPECT_EQ(ending.wait_for(50ms), std::future_status::timeout) << "returned during the callback";
    held.released.store(call);
    EXPECT_EQ(ending.get(), MidiError::Ok);
    EXPECT_EQ(held.finished.load(), call);
    // Played once stop or close has returned: not delivered.
    ASSERT_TRUE(keyboard.play({{0x90, 2, 2}}) && keyboard.waitUntilPlayed() && keyboard.waitCycles(2));
    EXPECT_EQ(held.entered.load(), call);
    if (!closing) {
      ASSERT_EQ(in->start(), MidiError::Ok);
    }
  }
  EXPECT_EQ(held.entered.load(), 2);
  EXPECT_TRUE(in->start() == MidiError::NotOpen && in->close() == MidiError::NotOpen);
}

// Thru: the handler plays each captured message on the output, on JACK's thread.
struct Thru final : MidiInputHandler {
  void onMidiMessage(MidiEventView m, std::int64_t) override { failures += out->send(m) != MidiError::Ok; }
  void onMidiDropped() override { drops.fetch_add(1); }
  MidiOutput* out = nullptr;
  std::atomic<int> failures{0}, drops{0};
};

TEST_F(MidiServiceJack, OutputIsByteExactSendsNothingInvalidAndServesThruAndTheWindowAtOnce) {
  JackSynth synth("syn");
  JackKeyboard keyboard("kbd");
  const int entry = entryOf(service_->outputNames(), synth.port());
  const int device = entryOf(service_->inputNames(), keyboard.port());
  ASSERT_TRUE(synth.ok() && keyboard.ok() && entry > 0 && device > 0);
  std::unique_ptr<MidiOutput> out;
  ASSERT_EQ(service_->openOutput(entry, out), MidiError::Ok);
  ASSERT_TRUE(synth.waitCycles(2));  // the connection made at open is in use
  // No status byte; SysEx and undefined; note on, program change, song position with a data byte >= 128.
  // A short note-on; each data byte the status calls for at 128.
  for (const MidiBytes& m : std::vector<MidiBytes>{{0x3C, 0x40}, {0xF0}, {0xF7}, {0xF4}, {0xF5}, {0x90, 0x3C},
                                                   {0x90, 0xBC, 0}, {0x90, 0x3C, 0x80}, {0xC0, 0x80}, {0xF2, 0x80, 0}})
    EXPECT_EQ(out->send(message(m)), MidiError::InvalidMessage) << std::hex << int(m[0]) << " " << m.size();
  for (const MidiBytes& m : kEveryKind) EXPECT_EQ(out->send(message(m)), MidiError::Ok);
  // Bytes the status does not call for are not sent, whatever they hold.
  EXPECT_TRUE(out->send(message({0xC5, 0x07, 0xFF})) == MidiError::Ok &&
              out->send(message({0xF8, 0xFF, 0xFF})) == MidiError::Ok);
  std::vector<MidiBytes> expected = kEveryKind;
  expected.insert(expected.end(), {{0xC5, 0x07}, {0xF8}});
  ASSERT_TRUE(synth.waitFor(expected.size()));
  EXPECT_EQ(synth.received(), expected);

  // The thru on JACK's thread and the window's thread at once lose nothing and keep
  // their order; several rounds, because a race shows at random.
  Thru thru;
  thru.out = out.get();
  std::unique_ptr<MidiInput> in;
  ASSERT_EQ(service_->openInput(device, thru, in), MidiError::Ok);
  ASSERT_TRUE(keyboard.waitCycles(2) && in->start() == MidiError::Ok);
  constexpr int kRounds = 6, kEach = 500;
  int failures = 0;
  for (int round = 0; round < kRounds; ++round) {
    std::vector<MidiBytes> played;
    for (int i = round * kEach; i < (round + 1) * kEach; ++i) played.push_back({0xB1, std::uint8_t(i % 128), std::uint8_t(i / 128)});
    ASSERT_TRUE(keyboard.play(played, 4));
    for (int i = round * kEach; i < (round + 1) * kEach; ++i) {
      failures += out->send(message({0x90, std::uint8_t(i % 128), std::uint8_t(i / 128)})) != MidiError::Ok;
      if (i % 4 == 3) std::this_thread::sleep_for(1ms);  // spread over the keyboard's cycles
    }
    ASSERT_TRUE(synth.waitFor(expected.size() + 2 * kEach * (round + 1))) << synth.received().size() << " by " << round;
  }
  EXPECT_EQ(failures + thru.failures.load(), 0);
  EXPECT_FALSE(synth.overflowed());
  int next[2] = {0, 0};
  const auto received = synth.received();
  for (auto m = received.begin() + std::ptrdiff_t(expected.size()); m != received.end(); ++m) {
    ASSERT_EQ(m->size(), 3u);
    const int who = (*m)[0] == 0x90 ? 0 : 1;
    EXPECT_EQ((*m)[1] + 128 * (*m)[2], next[who]++) << (who ? "thru" : "window") << " out of order";
  }
  EXPECT_TRUE(next[0] == kRounds * kEach && next[1] == kRounds * kEach) << next[0] << " " << next[1];
  EXPECT_EQ(in->close(), MidiError::Ok);
  // Sent right before the close (the notes a Stop releases): played before the connection goes.
  EXPECT_TRUE(out->send(message({0x80, 0x3C, 0})) == MidiError::Ok && out->close() == MidiError::Ok);
  ASSERT_TRUE(synth.waitFor(received.size() + 1));
  EXPECT_EQ(synth.received().back(), (MidiBytes{0x80, 0x3C, 0}));
  EXPECT_FALSE(synth.connected(client_ + ":out", synth.port())) << "closing disconnects";
  EXPECT_EQ(out->send(message({0x90, 0x3C, 0x40})), MidiError::NotOpen);
}

// SysEx of every length through the input and, by the thru, the output of one
// copy, among short messages: byte-exact and in order; one event where an empty
// buffer holds it, consecutive pieces where not; every short message out within a
// period of being played, or of the end of the SysEx ahead of it. Pieces another
// program sends are put back together; one longer than the input takes is
// dropped, counted and said. The window's thread may send SysEx too.
TEST_F(MidiServiceJack, SysExOfAnyLengthPassesInputThruAndOutputWholeInOrderAndKeepsShortMessagesMoving) {
  test::JackSysExClient player("sx");
  ASSERT_TRUE(player.ok());
  const int device = entryOf(service_->inputNames(), player.outPort());
  const int entry = entryOf(service_->outputNames(), player.inPort());
  Thru thru;
  std::unique_ptr<MidiOutput> out;
  std::unique_ptr<MidiInput> in;
  ASSERT_EQ(service_->openOutput(entry, out), MidiError::Ok);
  thru.out = out.get();
  ASSERT_TRUE(service_->openInput(device, thru, in) == MidiError::Ok && in->start() == MidiError::Ok);
  for (int i = 0; i < 200 && player.events().empty(); ++i) {
    player.play({{{0xFE}}});
    player.waitUntilPlayed() && player.waitCycles(4);
  }
  ASSERT_FALSE(player.events().empty()) << "the connections never carried a message";
  player.waitCycles(4);
  const std::size_t warmUp = player.events().size();
  const auto received = [&] {
    const auto all = player.events();
    return std::vector<test::JackSysExClient::Event>(all.begin() + std::ptrdiff_t(warmUp), all.end());
  };
  const std::size_t room = player.roomPerCycle();
  // Some hundred bytes (PipeWire at 128 frames) to 32 KiB (jackd): 64 KiB takes pieces.
  ASSERT_TRUE(room > 100 && room < kMaxMessageBytes) << room;

  const MidiBytes s10 = test::sysExOf(10, 1), sOneEvent = test::sysExOf(room * 3 / 4, 2), s1000 = test::sysExOf(1000, 3),
                  s64k = test::sysExOf(kMaxMessageBytes, 4), tooLong = test::sysExOf(kMaxMessageBytes + 1, 5);
  const std::vector<test::JackSysExClient::Step> steps = {
      {{0x90, 1, 1}}, {s10},          {{0x90, 2, 2}}, {sOneEvent}, {{0x90, 3, 3}}, {s1000, 300},
      {{0x90, 4, 4}}, {s64k, room},   {{0x90, 5, 5}}, {tooLong, room}, {{0x90, 6, 6}}};
  std::vector<MidiBytes> expected;
  std::vector<std::size_t> stepOf;
  for (std::size_t k = 0; k < steps.size(); ++k)
    if (steps[k].bytes != tooLong) expected.push_back(steps[k].bytes), stepOf.push_back(k);
  player.play(steps);
  ASSERT_TRUE(player.waitUntilPlayed());
  ASSERT_TRUE(eventually([&] { return player.lastEvent() == expected.back(); }))
      << received().size() << " events, " << test::wholeMessages(received()).size() << " messages, "
      << in->droppedMessages() << " dropped, " << thru.failures.load() << " failed";
  player.waitCycles(4);
  const auto events = received();
  const auto whole = test::wholeMessages(events);
  ASSERT_EQ(whole.size(), expected.size());
  for (std::size_t k = 0; k < whole.size(); ++k)
    EXPECT_TRUE(whole[k].bytes == expected[k]) << "message " << k << ": " << whole[k].bytes.size() << " bytes";
  const auto asOneEvent = [&](const MidiBytes& m) {
    return std::any_of(events.begin(), events.end(), [&](const auto& e) { return e.bytes == m; });
  };
  EXPECT_TRUE(asOneEvent(s10) && asOneEvent(sOneEvent));
  for (const auto& e : events)  // pieces: a status byte only at the ends
    EXPECT_TRUE(std::all_of(e.bytes.begin() + 1, e.bytes.end() - 1, [](std::uint8_t b) { return b < 0x80; }));

  // Counted in frames: a period is one cycle of the server.
  const std::int64_t period = player.period();
  const auto played = player.playedFrames();
  for (std::size_t k = 0; k < whole.size(); ++k) {
    const auto late = std::int64_t(std::int32_t(whole[k].frame - played[stepOf[k]]));
    if (expected[k].front() == 0xF0) {
      const auto cycles = std::int64_t((expected[k].size() + room - 1) / room);
      EXPECT_LE(late, (cycles + 1) * period) << "SysEx " << k << " of " << expected[k].size() << " bytes";
    } else if (k > 0 && expected[k - 1].front() == 0xF0) {
      EXPECT_LE(std::int32_t(whole[k].frame - whole[k - 1].frame), period) << "held back behind SysEx " << k - 1;
    } else {
      EXPECT_LE(late, period) << "message " << k;
    }
  }
  EXPECT_EQ(in->droppedMessages(), 1u);
  EXPECT_EQ(thru.drops.load(), 1);
  EXPECT_EQ(thru.failures.load(), 0);
  EXPECT_FALSE(player.overflowed());

  // From the window's thread: whole or refused.
  const MidiBytes s3000 = test::sysExOf(3000, 6);
  for (const MidiBytes& bad : std::vector<MidiBytes>{{0xF0, 0x7D, 0x80, 0xF7}, {0xF0, 0x7D, 0x01}, {0xF0}})
    EXPECT_EQ(out->send(MidiEventView(bad)), MidiError::InvalidMessage) << bad.size();
  EXPECT_TRUE(out->send(MidiEventView(s3000)) == MidiError::Ok && out->send(message({0x80, 1, 0})) == MidiError::Ok &&
              out->send(MidiEventView(s10)) == MidiError::Ok);
  ASSERT_TRUE(eventually([&] { return player.lastEvent() == s10; }));
  const auto tail = test::wholeMessages(received());
  EXPECT_TRUE(tail.size() == expected.size() + 3 && tail[expected.size()].bytes == s3000 &&
              tail[expected.size() + 1].bytes == MidiBytes({0x80, 1, 0}) && tail.back().bytes == s10);
  EXPECT_TRUE(in->close() == MidiError::Ok && out->close() == MidiError::Ok);
}

// Our ports come first and once; bad numbers, vanished ports and taken ports fail
// cleanly. One client per copy, with the ports "in" and "out" from start to end.
TEST_F(MidiServiceJack, ListsOurPortsFirstAndRefusesBadVanishedAndTakenPorts) {
  std::optional<JackKeyboard> keyboard("kbd");
  JackSynth synth("syn");
  ASSERT_TRUE(keyboard->ok() && synth.ok());
  const auto inputs = service_->inputNames(), outputs = service_->outputNames();
  ASSERT_TRUE(!inputs.empty() && !outputs.empty());
  EXPECT_EQ(inputs[0] + "|" + outputs[0], client_ + ":in|" + client_ + ":out");
  const auto ourPorts = [&] {
    auto ports = synth.midiPorts("^" + client_ + "[-:]", 0);  // "slt1-01:" would be a second client
    std::sort(ports.begin(), ports.end());
    return ports;
  };
  const std::vector<std::string> ours{client_ + ":in", client_ + ":out"};
  EXPECT_EQ(ourPorts(), ours);
  EXPECT_TRUE(entryOf(inputs, keyboard->port()) > 0 && entryOf(inputs, synth.port()) == -1);
  EXPECT_TRUE(entryOf(outputs, synth.port()) > 0 && entryOf(outputs, keyboard->port()) == -1);
  Recorder recorder;
  std::unique_ptr<MidiInput> in, second;
  std::unique_ptr<MidiOutput> out;
  for (int bad : {-1, int(inputs.size())})
    EXPECT_EQ(service_->openInput(bad, recorder, in), MidiError::BadDevice) << bad;
  for (int bad : {-1, int(outputs.size())}) EXPECT_EQ(service_->openOutput(bad, out), MidiError::BadDevice) << bad;
  EXPECT_EQ(service_->errorText(MidiError::BadDevice), "The device number names no device.");

  // The keyboard leaves between listing and opening.
  const int device = entryOf(inputs, keyboard->port());
  keyboard.reset();
  EXPECT_EQ(service_->openInput(device, recorder, in), MidiError::DeviceGone);
  EXPECT_FALSE(in);

  // Our own ports: our lists do not show them a second time; one input and one output at a time.
  ASSERT_EQ(service_->openInput(0, recorder, in), MidiError::Ok);
  ASSERT_EQ(service_->openOutput(0, out), MidiError::Ok);
  for (const auto& list : {service_->inputNames(), service_->outputNames()})
    for (std::size_t i = 1; i < list.size(); ++i) EXPECT_EQ(list[i].find(client_), std::string::npos) << list[i];
  std::unique_ptr<MidiOutput> secondOut;
  EXPECT_TRUE(service_->openInput(0, recorder, second) == MidiError::Allocated && !second);
  EXPECT_TRUE(service_->openOutput(int(outputs.size()) - 1, secondOut) == MidiError::Allocated && !secondOut);
  EXPECT_EQ(service_->errorText(MidiError::Allocated), "The MIDI port is already in use.");
  EXPECT_TRUE(service_->inputPresent(0) && service_->outputPresent(0));
  EXPECT_TRUE(in->close() == MidiError::Ok && out->close() == MidiError::Ok);
  EXPECT_EQ(ourPorts(), ours);
  EXPECT_EQ(service_->openInput(0, recorder, second), MidiError::Ok);
}

TEST(MidiServiceNone, NoServiceGivesEmptyListsAndOpensFailWithTheirCode) {
  ScopedEnv server("JACK_DEFAULT_SERVER", ("strandlink-nobody-" + std::to_string(::getpid())).c_str());
  std::vector<const char*> apis{"jack"};
  if (::access("/dev/snd/seq", F_OK) != 0) apis.push_back("alsa");  // ALSA too, where it cannot answer either
  for (const char* api : apis) {
    SCOPED_TRACE(api);
    ScopedEnv forced("STRANDLINK_MIDI_API", api);
    auto service = makeMidiService("sl-none");
    ASSERT_NE(service, nullptr);
    EXPECT_TRUE(service->inputNames().empty() && service->outputNames().empty());
    std::unique_ptr<MidiInput> in;
    std::unique_ptr<MidiOutput> out;
    Recorder recorder;
    EXPECT_TRUE(service->openInput(0, recorder, in) == MidiError::NoService && !in);
    EXPECT_TRUE(service->openOutput(0, out) == MidiError::NoService && !out);
    EXPECT_EQ(service->errorText(MidiError::NoService),
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
  const std::pair<const char*, bool> names[] = {{"Strandlink:in 128:0", true}, {"Strandlink:in", true},
      {"Strandlink2:in 128:0", false}, {"Strandlink:input 128:0", false}, {"Strandlink:in 128", false}};
  for (auto [name, own] : names) EXPECT_EQ(alsa::isOwnPortName(name, "Strandlink", "in"), own) << name;
}

// This process's threads, each with the signals it blocks (its SigBlk mask).
std::map<std::string, std::uint64_t> threadsAndTheirBlockedSignals() {
  std::map<std::string, std::uint64_t> threads;
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
    std::ifstream status(task.path() / "status");
    for (std::string line; std::getline(status, line);)
      if (line.rfind("SigBlk:", 0) == 0) threads[task.path().filename()] = std::stoull(line.substr(7), nullptr, 16);
  }
  return threads;
}


// libjack's threads for a client (its notifications, the real-time process cycle)
// take none of the signals the main thread's loop handles: a burst of panics never
// interrupts the cycle.
TEST_F(MidiServiceJack, TheClientsThreadsTakeNoneOfTheSignalsTheLoopHandles) {
  const auto before = threadsAndTheirBlockedSignals();
  auto other = makeMidiService(client_ + "-quiet");
  const auto after = threadsAndTheirBlockedSignals();
  int started = 0;
  for (const auto& [thread, blocked] : after) {
    if (before.contains(thread)) continue;
    ++started;
    for (const int sig : {SIGINT, SIGTERM, SIGHUP, SIGUSR1})
      EXPECT_TRUE(blocked & (std::uint64_t{1} << (sig - 1))) << "thread " << thread << " takes signal " << sig;
  }
  EXPECT_GT(started, 0) << "the client started no thread of its own";
  // Nor does opening or closing a client change the mask of the thread that does
  // it (libjack puts back the one it found at the first open once the last closes).
  const std::string main = std::to_string(::getpid());
  EXPECT_EQ(after.at(main), before.at(main));
  other.reset();
  service_.reset();
  EXPECT_EQ(threadsAndTheirBlockedSignals().at(main), before.at(main));
}

}  // namespace
}  // namespace strandlink::midi
