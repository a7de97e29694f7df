// Datagrams plainly in another protocol's wire format than the one a port speaks:
// two sides set to different protocols then say so instead of failing in
// silence. Each test is strict, so that nothing of a port's own protocol matches.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "protocol/peer_protocol.h"

namespace strandlink::protocol {

// A whole AppleMIDI session packet (the signature, a command, its length and
// version): all that a port carrying any bytes at all (chat lines, raw MIDI) can
// tell for sure.
std::optional<Wire> rtpSessionPacket(std::span<const std::uint8_t> datagram);
// A classic port's MIDI datagrams are three or seven bytes long: anything of
// RTP-MIDI or Network MIDI 2.0 is longer.
std::optional<Wire> otherThanClassicMidi(std::span<const std::uint8_t> datagram);
// What reaches an RTP-MIDI port that is no session packet: a classic side's MIDI
// datagram or control byte, or a Network MIDI 2.0 packet.
std::optional<Wire> otherThanRtp(std::span<const std::uint8_t> datagram);

// Tells the link of each wire heard once a session.
class OtherWireNotice {
 public:
  explicit OtherWireNotice(settings::Protocol listener) : listener_(listener) {}
  void sessionStarted() { said_ = 0; }
  // False when wire is none: the datagram is the port's own to use.
  bool heard(std::optional<Wire> wire, PeerSink& sink);

 private:
  settings::Protocol listener_;
  std::uint8_t said_ = 0;  // a bit per wire
};

}  // namespace strandlink::protocol
