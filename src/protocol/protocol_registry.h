// Every peer protocol, one row each: the names it goes by, what the front ends
// offer with it, and how one is made. The command line, strandlink.conf, the
// window and discovery list and name protocols from here alone.
#pragma once

#include <QString>

#include <cstdint>
#include <memory>
#include <optional>
#include <span>

#include "protocol/peer_protocol.h"
#include "settings/preferences.h"

namespace strandlink::protocol {

// What the remote address field names for a protocol.
enum class RemoteKind {
  Address,           // the peer's host
  SessionOrAddress,  // a published session's name or the peer's host; none: wait to be invited
  Group,             // a multicast group; none: the usual one
};

struct ProtocolRow {
  settings::Protocol value;
  QLatin1StringView name;         // on the command line and in strandlink.conf: "rtp"
  QLatin1StringView title;        // in the user's texts: "the RTP-MIDI peer protocol carries ..."
  QLatin1StringView label;        // in the window's Protocol box
  QLatin1StringView serviceType;  // the DNS-SD type its sessions go by; empty: it publishes none
  bool chat;                      // the front ends offer the chat only with one that carries it
  std::uint16_t usualPort;        // the port its peers listen on unless told otherwise
  RemoteKind remote;
  QLatin1StringView usualRemote;  // the remote used when none is given; empty: none
  bool localPort;                 // whether the local port means anything to it
  bool invitesSeveral;            // one session invites several peers: --remote again, the window's further peers
  std::unique_ptr<PeerProtocol> (*make)(const PeerContext& context);  // a stopped one
};

// Find lists the sessions of the protocol's DNS-SD type: only one that publishes any.
inline bool findsSessions(const ProtocolRow& row) { return !row.serviceType.isEmpty(); }

// In the order of settings::Protocol, which is the order they are offered in; the
// first is the one used when none (or none known) was chosen.
std::span<const ProtocolRow> protocols();
const ProtocolRow& protocolRow(settings::Protocol protocol);
// By the name exactly; nothing for a name that is none of them.
std::optional<settings::Protocol> protocolFromName(const QString& name);

}  // namespace strandlink::protocol
