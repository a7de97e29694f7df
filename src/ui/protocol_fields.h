// The address fields in the chosen protocol's terms: their captions, which of
// them it uses, its usual values, and the line that says what Start will do.
// Everything the window knows of a protocol here comes from its registry row.
#pragma once

#include <QFont>
#include <QRect>
#include <QString>

#include <vector>

#include "protocol/peer_protocol.h"
#include "protocol/protocol_registry.h"
#include "settings/settings.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace strandlink::ui {

struct AddressFields {
  QLabel* remoteAddressCaption;
  QLabel* remotePortCaption;
  QLabel* localPortCaption;
  QLineEdit* remoteAddress;
  QLineEdit* remotePort;
  QLineEdit* localPort;
  QPushButton* find;
  QPushButton* invite;  // the further peers' list, at the remote address's end
};

class ProtocolFields {
 public:
  explicit ProtocolFields(const AddressFields& fields);

  // Captions in the row's terms; a field it does not use is greyed and skipped by Tab.
  void show(const protocol::ProtocolRow& row);
  // Switching to row: its usual values go where the user left a field untouched,
  // which is empty or at any protocol's usual value; a typed value stays.
  void fillUsualValues(const protocol::ProtocolRow& row) const;
  // Find is offered for a protocol that publishes sessions, the list of further
  // peers for one that invites several; neither while the boxes are locked by a
  // running session.
  void enableButtons(const protocol::ProtocolRow& row, bool locked) const;

 private:
  AddressFields f_;
  QFont captionFont_;  // before any fitting: each caption is fitted afresh
  QRect remoteWhole_;  // the remote address box where no list button shares its line
};

// The session a remote field names for a protocol that takes one: a name of
// one label, as a published session goes by ("Studio"); empty when the field
// holds an address or a host with its domain, or the protocol takes no sessions.
QString sessionNamedBy(const protocol::ProtocolRow& row, const QString& remote);

// What Start will do with these settings, in one line: "Joins 225.0.0.37:21928".
// ownName: the name this side's session goes by; remoteSession: the peer's
// session when it is named instead of addressed; moreRemotes: the further peers
// an inviting side invites too ("Invites 10.0.0.2:5004, 10.0.0.3:5004").
QString startLineText(const protocol::ProtocolRow& row, const settings::Settings& s, const QString& ownName,
                      const QString& remoteSession, const std::vector<protocol::RemoteText>& moreRemotes = {});

}  // namespace strandlink::ui
