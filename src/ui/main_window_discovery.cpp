// The window's part in discovery: the Find button and its list beside the remote
// address, the session's published name, and a remote given by session name.
#include <QLineEdit>
#include <QPushButton>

#include "ui/field_validator.h"
#include "protocol/protocol_registry.h"
#include "settings/preferences.h"
#include "ui/invite_list.h"
#include "ui/main_window.h"
#include "ui/session_finder.h"
#include "ui/tool_tips.h"
#include "ui/twips.h"

namespace strandlink::ui {

// Between the local address and the remote one, on the remote address's line.
void MainWindow::buildSessionFinder(QWidget* frame) {
  findButton_ = place<QPushButton>(frame, "findButton", twipsRect(4125, 600, 675, 315));
  findButton_->setText(QStringLiteral("Fin&d\u2026"));
  findButton_->setToolTip(wrappedToolTip(
      QStringLiteral("The sessions of the chosen protocol published on the network: a pick fills the remote "
                     "address and port (Alt+D)")));
  finder_ = new SessionFinder(link_.discovery(), this);
  // At the remote address's end, for a protocol whose session invites several peers.
  inviteButton_ = place<QPushButton>(frame, "inviteButton", twipsRect(6720, 600, 315, 315));
  inviteButton_->setText(QStringLiteral("+"));
  inviteButton_->setToolTip(wrappedToolTip(
      QStringLiteral("Further peers to invite into the same session, one per line: what one plays reaches all")));
  inviteList_ = new InviteList(protocol::kMaxSources - 1, this);
}

void MainWindow::wireInviteList() {
  connect(inviteButton_, &QPushButton::clicked, this, [this] {
    inviteList_->open(moreRemotes_, protocol::protocolRow(chosenProtocol()).usualPort, remoteAddressBox_);
  });
  connect(inviteList_, &InviteList::edited, this, [this](const std::vector<protocol::RemoteText>& remotes) {
    takeInviteList(remotes);
    settings::saveInviteAlso(remoteLines(remotes));
  });
}

// strandlink.conf may have been edited by hand: it is read as the list's text would be.
void MainWindow::restoreInviteList() {
  const quint16 usual = protocol::protocolRow(settings::Protocol::Rtp).usualPort;
  takeInviteList(listedRemotes(settings::loadInviteAlso().join(u'\n'), usual, protocol::kMaxSources - 1).remotes);
}

void MainWindow::wireSessionFinder() {
  connect(findButton_, &QPushButton::clicked, this,
          [this] { finder_->open(sessionOptions().protocol, remoteAddressBox_); });
  connect(finder_, &SessionFinder::picked, this,
          [this](const QString&, const QString& address, quint16 port) { showRemote(address, port); });
  // A session named on the command line is looked up at each Start; what the user
  // types instead replaces it.
  for (QLineEdit* box : {remoteAddressBox_, remotePortBox_})
    connect(box, &QLineEdit::textEdited, this, [this] { remoteSession_.clear(); });
  // The boxes show where the named session was found: what the session uses.
  connect(&link_, &link::Link::remoteSessionFound, this,
          [this](const QString&, const QString& address, quint16 port) { fillRemote(address, port); });
}

void MainWindow::showRemote(const QString& address, quint16 port) {
  remoteSession_.clear();
  fillRemote(address, port);
  remotePortBox_->setFocus(Qt::OtherFocusReason);
}

void MainWindow::fillRemote(const QString& address, quint16 port) {
  setTextUnfiltered(*remoteAddressBox_, address);
  setTextUnfiltered(*remotePortBox_, QString::number(port));
}

// Two copies on one desktop are told apart by their names.
void MainWindow::publishAs(const QString& name) {
  publish_ = true;
  sessionName_ = name;
  setWindowTitle(name.isEmpty() ? caption() : name + QStringLiteral(" \u2014 ") + caption());
  showStartLine();
}

// Given on the command line, for this run: the list kept stays as it was.
void MainWindow::inviteAlso(const std::vector<protocol::RemoteText>& remotes) {
  if (!remotes.empty()) takeInviteList(remotes);
}

void MainWindow::takeInviteList(const std::vector<protocol::RemoteText>& remotes) {
  moreRemotes_ = remotes;
  showStartLine();
}

void MainWindow::setRemoteSession(const QString& name) {
  remoteSession_ = name;
  showStartLine();
  showNotice(QStringLiteral("The remote is the session \"%1\", looked up on the network at Start").arg(name));
}

}  // namespace strandlink::ui
