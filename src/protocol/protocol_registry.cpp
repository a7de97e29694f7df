#include "protocol/protocol_registry.h"

#include <algorithm>
#include <iterator>

#include "protocol/classic/classic_protocol.h"
#include "protocol/midi2/midi2_protocol.h"
#include "protocol/multicast/multicast_codec.h"
#include "protocol/multicast/multicast_protocol.h"
#include "protocol/rtp/rtp_protocol.h"

namespace strandlink::protocol {

namespace {

template <class P>
std::unique_ptr<PeerProtocol> make(const PeerContext& context) {
  return std::make_unique<P>(context);
}

using L1 = QLatin1StringView;
using settings::Protocol;

constexpr ProtocolRow kRows[] = {
    {.value = Protocol::Classic,
     .name = L1("classic"),
     .title = L1("classic"),
     .label = L1("Classic"),
     .serviceType = L1("_strandlink._udp"),
     .chat = true,
     .usualPort = 4000,
     .remote = RemoteKind::Address,
     .usualRemote = L1(),
     .localPort = true,
     .invitesSeveral = false,
     .make = make<classic::ClassicProtocol>},
    // 5004 is the port a Mac's Network MIDI sessions take first.
    {.value = Protocol::Rtp,
     .name = L1("rtp"),
     .title = L1("RTP-MIDI"),
     .label = L1("RTP-MIDI"),
     .serviceType = L1("_apple-midi._udp"),
     .chat = false,
     .usualPort = 5004,
     .remote = RemoteKind::SessionOrAddress,
     .usualRemote = L1(),
     .localPort = true,
     .invitesSeveral = true,
     .make = make<rtp::RtpProtocol>},
    // A group has no one address to publish: every member hears the group. Its
    // members send and listen on the group's port, so a local port has no part.
    {.value = Protocol::Multicast,
     .name = L1("multicast"),
     .title = L1("multicast"),
     .label = L1("Multicast"),
     .serviceType = L1(),
     .chat = false,
     .usualPort = multicast::kDefaultPort,
     .remote = RemoteKind::Group,
     .usualRemote = L1("225.0.0.37"),
     .localPort = false,
     .invitesSeveral = false,
     .make = make<multicast::MulticastProtocol>},
    // Without a remote a copy is a host that clients invite.
    {.value = Protocol::Midi2,
     .name = L1("midi2"),
     .title = L1("Network MIDI 2.0"),
     .label = L1("Network MIDI 2.0"),
     .serviceType = L1("_midi2._udp"),
     .chat = false,
     .usualPort = midi2::kDefaultPort,
     .remote = RemoteKind::SessionOrAddress,
     .usualRemote = L1(),
     .localPort = true,
     .invitesSeveral = false,
     .make = make<midi2::Midi2Protocol>},
};

// protocolRow() finds a row by its value's position.
static_assert(std::ranges::all_of(kRows, [](const ProtocolRow& r) { return &r == &kRows[std::size_t(r.value)]; }));

}  // namespace

std::span<const ProtocolRow> protocols() { return kRows; }

const ProtocolRow& protocolRow(Protocol protocol) { return kRows[std::size_t(protocol)]; }

std::optional<Protocol> protocolFromName(const QString& name) {
  const auto row = std::ranges::find_if(kRows, [&](const ProtocolRow& r) { return name == r.name; });
  if (row == std::end(kRows)) return std::nullopt;
  return row->value;
}

}  // namespace strandlink::protocol
