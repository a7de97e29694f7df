// Reads the datagrams of a multicast group as one MIDI byte stream per sender. A
// SysEx split over datagrams continues in its sender's next one, whatever other
// senders sent between them; each sender keeps its own running status. Also keeps
// what the link shows of the group: who was heard, when, and how much, and what
// each sender left sounding, to be released once it is surely gone.
// Runs on the thread that reads the socket; not shared between threads.
#pragma once

#include <netinet/in.h>

#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <span>
#include <vector>

#include "midi/held_notes.h"
#include "midi/midi_stream_parser.h"

namespace strandlink::protocol::multicast {

// What was heard from one sender (an address and port).
struct SenderFigures {
  sockaddr_in address{};
  // When it last finished a MIDI message, on the clock the caller passes in: stray
  // bytes alone make no member (and, never heard, it is the first to go).
  std::int64_t lastHeardMicros = std::numeric_limits<std::int64_t>::min();
  std::uint64_t datagrams = 0;
  midi::StreamCounters stream;
};

class GroupReceiver {
 public:
  static constexpr std::size_t kDefaultMaxSenders = 32;

  // maxSenders bounds the memory a busy group can take: past it, the sender heard
  // least recently is forgotten (its unfinished message is counted as cut short,
  // its sounding notes handed to the next heldOfSilent()).
  explicit GroupReceiver(std::size_t maxSenders = kDefaultMaxSenders,
                         std::size_t maxSysEx = midi::MidiStreamParser::kDefaultMaxSysEx);

  // Parses one datagram as the next piece of its sender's stream, calling
  // deliver(std::span<const std::uint8_t>) for each whole message it finishes. The
  // view is valid during the call only.
  template <class Deliver>
  void receive(const sockaddr_in& from, std::span<const std::uint8_t> payload, std::int64_t nowMicros,
               Deliver&& deliver) {
    Sender& sender = senderFor(from);
    ++sender.figures.datagrams;
    sender.parser.feed(payload, [&](std::span<const std::uint8_t> message) {
      if (message[0] != 0xF0) sender.held.track(midi::ShortMessage::fromBytes(message));
      sender.figures.lastHeardMicros = nowMicros;
      deliver(message);
    });
  }

  // What the senders not heard since sinceMicros left sounding, forgotten here,
  // less what a sender heard since still holds.
  midi::HeldSet heldOfSilent(std::int64_t sinceMicros);
  // The link released everything: nothing is held any more.
  void forgetHeld();

  // Every sender heard, with its stream's counters.
  std::vector<SenderFigures> senders() const;
  // How many senders were heard at or after sinceMicros.
  std::size_t sendersHeardSince(std::int64_t sinceMicros) const;
  // The counters of every stream, forgotten senders' included.
  midi::StreamCounters totals() const;

 private:
  struct Sender {
    explicit Sender(std::size_t maxSysEx) : parser(maxSysEx) {}
    SenderFigures figures;
    midi::MidiStreamParser parser;
    midi::HeldNotes held;
  };

  Sender& senderFor(const sockaddr_in& from);
  Sender& makeRoom();

  std::size_t maxSenders_;
  std::size_t maxSysEx_;
  std::vector<std::unique_ptr<Sender>> senders_;
  midi::StreamCounters forgotten_;
  midi::HeldSet forgottenHeld_;
};

}  // namespace strandlink::protocol::multicast
