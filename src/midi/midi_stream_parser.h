// Turns a MIDI 1.0 byte stream, in chunks of any size, into whole messages: running
// status, real-time bytes in the middle of a message, a SysEx spread over many
// chunks. Anything that is not a whole message is dropped and counted, never passed
// on half-formed. Every part that reads raw MIDI bytes (a network peer, a serial
// device) uses this one decoder, one per byte stream: two senders' bytes must never
// meet in one parser, or one's SysEx would swallow the other's messages.
//
// Safe on a real-time thread: all storage is reserved at construction, and parsing
// neither allocates nor locks.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace strandlink::midi {

// What a parser has passed on and what it has dropped, and why.
struct StreamCounters {
  std::uint64_t messages = 0;         // whole messages delivered, real-time ones included
  std::uint64_t strayDataBytes = 0;   // data bytes with no status to belong to
  std::uint64_t cutShort = 0;         // messages (SysEx too) a status byte broke off before their end
  std::uint64_t strayEnds = 0;        // F7 with no SysEx open
  std::uint64_t undefinedStatus = 0;  // F4, F5: no message has them
  std::uint64_t oversizedSysEx = 0;   // SysEx longer than the parser keeps

  std::uint64_t dropped() const { return strayDataBytes + cutShort + strayEnds + undefinedStatus + oversizedSysEx; }
  friend bool operator==(const StreamCounters&, const StreamCounters&) = default;
};

class MidiStreamParser {
 public:
  static constexpr std::size_t kDefaultMaxSysEx = 64 * 1024;

  // maxSysEx: the longest SysEx kept, F0 and F7 included (at least 2); a longer one
  // is dropped whole and counted.
  explicit MidiStreamParser(std::size_t maxSysEx = kDefaultMaxSysEx);

  // Reads from the front of chunk up to the end of the next whole message and
  // returns that message; chunk keeps what is still unread. Returns an empty view
  // once chunk is used up (a message not yet finished waits for the next chunk).
  // The view stays valid until the next call.
  std::span<const std::uint8_t> next(std::span<const std::uint8_t>& chunk);

  // Calls deliver(std::span<const std::uint8_t>) for every whole message the chunk
  // finishes, in order. The view is valid during the call only.
  template <class Deliver>
  void feed(std::span<const std::uint8_t> chunk, Deliver&& deliver) {
    for (auto message = next(chunk); !message.empty(); message = next(chunk)) deliver(message);
  }

  // Forgets a message in progress and the running status (the stream was cut);
  // counts the message it drops.
  void reset();
  // The end of an event of a port whose events hold whole messages (JACK): a short
  // message it left open is dropped and counted, and its running status reaches
  // no further; a SysEx may go on in the next event.
  void endEvent();

  const StreamCounters& counters() const { return counters_; }
  std::size_t maxSysEx() const { return sysex_.size(); }

 private:
  std::span<const std::uint8_t> onStatus(std::uint8_t status);
  std::span<const std::uint8_t> onData(std::uint8_t data);
  std::span<const std::uint8_t> onSysExByte(std::uint8_t byte);
  std::span<const std::uint8_t> startMessage(std::uint8_t status);
  std::span<const std::uint8_t> completeIfWhole();
  void dropOpenMessage();
  std::span<const std::uint8_t> delivered(const std::uint8_t* bytes, std::size_t size);

  StreamCounters counters_;
  std::uint8_t runningStatus_ = 0;  // 0: none
  std::array<std::uint8_t, 3> short_{};
  std::uint8_t shortHave_ = 0;  // bytes of the short message in progress; 0: none open
  std::uint8_t shortNeed_ = 0;
  std::uint8_t realTime_ = 0;
  std::vector<std::uint8_t> sysex_;  // sized once, at construction
  std::size_t sysexHave_ = 0;
  bool inSysEx_ = false;
  bool sysexTooLong_ = false;
};

}  // namespace strandlink::midi
