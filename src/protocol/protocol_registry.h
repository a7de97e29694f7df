// Every peer protocol, one row each: the names it goes by, what the front ends
// offer with it, and how one is made. The command line, strandlink.conf, the
// window and discovery list and name protocols from here alone.
#pragma once

#include <QString>

#include <memory>
#include <optional>
#include <span>

#include "protocol/peer_protocol.h"
#include "settings/preferences.h"

namespace strandlink::protocol {

struct ProtocolRow {
  settings::Protocol value;
  QLatin1StringView name;         // on the command line and in strandlink.conf: "rtp"
  QLatin1StringView title;        // in the user's texts: "the RTP-MIDI peer protocol carries ..."
  QLatin1StringView label;        // in the window's Protocol box
  QLatin1StringView serviceType;  // the DNS-SD type its sessions go by; empty: it publishes none
  bool chat;                      // the front ends offer the chat only with one that carries it
  std::unique_ptr<PeerProtocol> (*make)(const PeerContext& context);  // a stopped one
};

// In the order of settings::Protocol, which is the order they are offered in; the
// first is the one used when none (or none known) was chosen.
std::span<const ProtocolRow> protocols();
const ProtocolRow& protocolRow(settings::Protocol protocol);
// By the name exactly; nothing for a name that is none of them.
std::optional<settings::Protocol> protocolFromName(const QString& name);

}  // namespace strandlink::protocol
