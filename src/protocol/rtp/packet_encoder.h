// Turns the MIDI events of one batch (a JACK cycle, say) into as few RTP-MIDI
// packets as fit: every event with its time, as many per packet as fit in
// kMaxPayload octets, a SysEx too long for one packet split into segments across
// the next ones. Plain status bytes throughout, no running status: every peer
// reads them, and a lost packet cannot take a later command's status with it.
// The marker bit stays 0 and the packets leave with J = 0: the sender adds the
// journal afterwards (JournalSender::attach), in the room it asked to be left.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "midi/midi_event.h"
#include "protocol/rtp/midi_packet.h"

namespace strandlink::protocol::rtp {

struct TimedEvent {
  std::uint32_t offset = 0;  // ticks after the batch's timestamp
  midi::MidiEvent event;
};

class PacketEncoder {
 public:
  PacketEncoder(std::uint32_t ssrc, std::uint16_t firstSequence, std::size_t maxPayload = kMaxPayload);

  // The octets a packet must leave after its MIDI list, asked as it is begun (the
  // packets before it handed out): the journal it will carry.
  using Reserve = std::function<std::size_t(std::uint16_t sequence)>;
  using Out = std::function<void(std::vector<std::uint8_t>& packet)>;

  // The packets for these events, in order, each with the next sequence number,
  // handed to `out` as each is made. Offsets should not decrease; one that does is
  // sent at the time of the one before. Events an output could not play (see
  // MidiEvent::wellFormed) are left out. With `reserve`, each packet's MIDI list
  // leaves that many octets of maxPayload; a reserve that leaves too little for a
  // message leaves a whole list, and the packet goes larger (UDP fragments it):
  // no message is dropped for it.
  void encode(std::uint32_t timestamp, std::span<const TimedEvent> events, const Reserve& reserve, const Out& out);
  std::vector<std::vector<std::uint8_t>> encode(std::uint32_t timestamp, std::span<const TimedEvent> events);

  std::uint16_t nextSequence() const { return sequence_; }
  // Takes a sequence number for a packet made elsewhere (a guard packet).
  std::uint16_t takeSequence() { return sequence_++; }

 private:
  std::size_t room();
  std::size_t deltaSizeFor(std::uint32_t offset) const;
  void beginCommand(std::uint32_t offset);
  void addBytes(std::uint32_t offset, std::span<const std::uint8_t> bytes);
  void addSysEx(std::uint32_t offset, std::span<const std::uint8_t> bytes);
  void flush();

  std::uint32_t ssrc_;
  std::uint16_t sequence_;
  std::size_t maxList_;    // the MIDI list's share of the payload: all but a long header
  std::size_t limit_ = 0;  // the packet begun: its list's share, once asked
  bool begun_ = false;
  const Reserve* reserve_ = nullptr;
  const Out* out_ = nullptr;
  std::uint32_t timestamp_ = 0;
  std::uint32_t packetOffset_ = 0;  // of the packet's first command, which needs no delta time
  std::uint32_t lastOffset_ = 0;
  std::vector<std::uint8_t> list_;
};

}  // namespace strandlink::protocol::rtp
