#include "ui/protocol_fields.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <netinet/in.h>

#include "net/addresses.h"
#include "ui/field_validator.h"
#include "ui/help_widgets.h"
#include "ui/invite_list.h"

namespace strandlink::ui {

namespace {

using protocol::RemoteKind;

struct Captions {
  const char* address;
  const char* port;
};

Captions captionsFor(RemoteKind kind) {
  switch (kind) {
    case RemoteKind::Address: return {"Remote Host IP Address", "Remote Host Port:"};
    case RemoteKind::SessionOrAddress: return {"Remote Session or Host", "Remote Port:"};
    case RemoteKind::Group: return {"Group", "Group Port"};
  }
  return {"", ""};
}

// Untouched: empty, or what some protocol would have put there itself.
bool untouchedPort(const QString& text) {
  const QString t = text.trimmed();
  if (t.isEmpty()) return true;
  for (const protocol::ProtocolRow& r : protocol::protocols())
    if (t == QString::number(r.usualPort)) return true;
  return false;
}

bool untouchedRemote(const QString& text) {
  const QString t = text.trimmed();
  if (t.isEmpty()) return true;
  for (const protocol::ProtocolRow& r : protocol::protocols())
    if (!r.usualRemote.isEmpty() && t == r.usualRemote) return true;
  return false;
}

void setCaption(QLabel* caption, const QFont& base, const char* text) {
  caption->setFont(base);
  caption->setText(QString::fromLatin1(text));
  fitFont(caption, caption->text(), caption->width());
}

QString quoted(const QString& name) { return u'\u201c' + name + u'\u201d'; }

}  // namespace

ProtocolFields::ProtocolFields(const AddressFields& fields)
    : f_(fields), captionFont_(fields.remoteAddressCaption->font()), remoteWhole_(fields.remoteAddress->geometry()) {}

void ProtocolFields::show(const protocol::ProtocolRow& row) {
  const Captions c = captionsFor(row.remote);
  setCaption(f_.remoteAddressCaption, captionFont_, c.address);
  setCaption(f_.remotePortCaption, captionFont_, c.port);
  f_.localPort->setEnabled(row.localPort);
  f_.localPortCaption->setEnabled(row.localPort);
  f_.invite->setVisible(row.invitesSeveral);
  QRect remote = remoteWhole_;
  if (row.invitesSeveral) remote.setRight(f_.invite->geometry().left() - 2);
  f_.remoteAddress->setGeometry(remote);
}

void ProtocolFields::fillUsualValues(const protocol::ProtocolRow& row) const {
  const QString port = QString::number(row.usualPort);
  if (untouchedRemote(f_.remoteAddress->text())) setTextUnfiltered(*f_.remoteAddress, row.usualRemote);
  if (untouchedPort(f_.remotePort->text())) setTextUnfiltered(*f_.remotePort, port);
  // A field the protocol does not use keeps what it holds for the next that does.
  if (row.localPort && untouchedPort(f_.localPort->text())) setTextUnfiltered(*f_.localPort, port);
}

void ProtocolFields::enableButtons(const protocol::ProtocolRow& row, bool locked) const {
  f_.find->setEnabled(!locked && protocol::findsSessions(row));
  f_.invite->setEnabled(!locked && row.invitesSeveral);
}

QString sessionNamedBy(const protocol::ProtocolRow& row, const QString& remote) {
  const QString t = remote.trimmed();
  if (row.remote != RemoteKind::SessionOrAddress || t.contains(u'.') || !net::isHostName(t)) return {};
  return t;
}

QString startLineText(const protocol::ProtocolRow& row, const settings::Settings& s, const QString& ownName,
                      const QString& remoteSession, const std::vector<protocol::RemoteText>& moreRemotes) {
  const QString host = s.remoteHost.trimmed(), port = s.remotePort.trimmed();
  QStringList invited;
  if (!remoteSession.isEmpty()) invited << quoted(remoteSession);
  else if (!host.isEmpty()) invited << host + u':' + port;
  invited << remoteLines(moreRemotes);
  const QString remote = invited.join(QStringLiteral(", "));
  switch (row.remote) {
    case RemoteKind::Address:
      if (host.isEmpty() && remoteSession.isEmpty()) return QStringLiteral("Sends nowhere yet: give the remote host");
      return QStringLiteral("Sends to ") + remote;
    case RemoteKind::SessionOrAddress: {
      if (!invited.isEmpty()) return QStringLiteral("Invites ") + remote;
      const QString local = s.localPort.trimmed();
      return QStringLiteral("Waits to be invited as %1").arg(quoted(ownName)) +
             (local.isEmpty() ? QString() : QStringLiteral(" on port ") + local);
    }
    case RemoteKind::Group:
      // An empty group is the usual one on its usual port, whatever the port says.
      if (host.isEmpty()) return QStringLiteral("Joins %1:%2").arg(row.usualRemote).arg(row.usualPort);
      // A dotted address that is no group (one left from a unicast link) Start refuses: say so now.
      if (const std::uint32_t a = net::parseDottedAddress(host.toStdString());
          a != net::kNoAddress && !IN_MULTICAST(ntohl(a)))
        return QStringLiteral("%1 is no multicast group: empty the field for the usual %2:%3")
            .arg(host, row.usualRemote)
            .arg(row.usualPort);
      return QStringLiteral("Joins %1:%2").arg(host, port.isEmpty() ? QString::number(row.usualPort) : port);
  }
  return {};
}

}  // namespace strandlink::ui
