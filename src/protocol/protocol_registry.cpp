#include "protocol/protocol_registry.h"

#include <algorithm>
#include <iterator>

#include "protocol/classic/classic_protocol.h"
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
    {Protocol::Classic, L1("classic"), L1("classic"), L1("Classic"), L1("_strandlink._udp"), true,
     make<classic::ClassicProtocol>},
    {Protocol::Rtp, L1("rtp"), L1("RTP-MIDI"), L1("RTP-MIDI"), L1("_apple-midi._udp"), false, make<rtp::RtpProtocol>},
    // A group has no one address to publish: every member hears the group.
    {Protocol::Multicast, L1("multicast"), L1("multicast"), L1("Multicast"), L1(), false,
     make<multicast::MulticastProtocol>},
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
