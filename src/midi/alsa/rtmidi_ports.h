// An open input and an open output over RtMidi. Each port has its own RtMidi
// object, made at open and destroyed at close, so that closing ends the backend's
// thread for that port.
#pragma once

#include <RtMidi.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "midi/chunk_store.h"
#include "midi/midi_service.h"
#include "midi/alsa/rtmidi_backend.h"
#include "midi/word_queue.h"

namespace strandlink::midi::alsa {

// Set while our own virtual port of one kind exists: a service has one of each.
using VirtualPortFlag = std::shared_ptr<std::atomic<bool>>;

// Where a port is: our client's name, the port to connect to (empty
// for our own virtual port) and the name of the port we register.
struct PortPlace {
  std::string clientName;
  std::string fullName;
  std::string portName;
  VirtualPortFlag virtualFlag;  // set for our own virtual port only
};

class RtMidiInPort final : public MidiInput {
 public:
  explicit RtMidiInPort(MidiInputHandler& handler);
  ~RtMidiInPort() override;
  RtMidiInPort(const RtMidiInPort&) = delete;
  RtMidiInPort& operator=(const RtMidiInPort&) = delete;

  // Window thread, before the port is handed out.
  MidiError open(const PortPlace& place, std::string& detail);

  MidiError start() override;
  MidiError stop() override;
  MidiError close() override;
  std::uint64_t droppedMessages() const override { return dropped_.load(std::memory_order_relaxed); }

 private:
  enum State : int { kClosed, kOpen, kStarted };
  // ALSA's input thread.
  static void onMessage(double timeStamp, std::vector<unsigned char>* message, void* self);
  void waitForCallbacks() const;

  MidiInputHandler& handler_;
  std::atomic<int> state_{kClosed};
  std::atomic<int> inCallback_{0};
  std::atomic<std::uint64_t> dropped_{0};
  VirtualPortFlag virtualFlag_;
  RtMidiErrors errors_;  // before backend_: it outlives the object that reports to it
  std::unique_ptr<RtMidiIn> backend_;
};

class RtMidiOutPort final : public MidiOutput {
 public:
  RtMidiOutPort() = default;
  ~RtMidiOutPort() override;
  RtMidiOutPort(const RtMidiOutPort&) = delete;
  RtMidiOutPort& operator=(const RtMidiOutPort&) = delete;

  // Window thread, before the port is handed out.
  MidiError open(const PortPlace& place, std::string& detail);

  using MidiOutput::send;
  MidiError send(MidiEventView message) override;
  MidiError close() override;

 private:
  MidiError sendPending();
  MidiError sendToBackend(std::span<const std::uint8_t> bytes);

  std::atomic<bool> open_{false};
  // Held by the one thread that sends to the backend at a time.
  std::atomic_flag sending_ = ATOMIC_FLAG_INIT;
  // Room for about a second of a full MIDI cable's messages, should the sending
  // thread be preempted while the other keeps playing. Each word holds the bytes
  // of one short message (status in the low byte), or 0xF0, the length of a SysEx
  // (bits 8 to 39) and its first chunk in long_ (from bit 40).
  WordQueue<1024, std::uint64_t> pending_;
  ChunkStore long_;
  std::vector<std::uint8_t> scratch_;  // the holder of sending_ only
  VirtualPortFlag virtualFlag_;
  RtMidiErrors errors_;
  std::unique_ptr<RtMidiOut> backend_;
};

}  // namespace strandlink::midi::alsa
