#include "ui/session_finder.h"

#include <QLabel>
#include <QListWidget>
#include <QSet>
#include <QVBoxLayout>

#include "discovery/avahi_connection.h"
#include "discovery/browser.h"
#include "link/session_discovery.h"
#include "protocol/protocol_registry.h"
#include "report/visible_text.h"
#include "ui/popup_placement.h"

namespace strandlink::ui {

namespace {
constexpr int kVisibleRows = 6;
enum Role { NameRole = Qt::UserRole, AddressRole, PortRole };
}  // namespace

SessionFinder::SessionFinder(link::SessionDiscovery& discovery, QWidget* parent)
    : QFrame(parent, Qt::Popup), discovery_(discovery) {
  setObjectName(QStringLiteral("sessionFinder"));
  setFrameStyle(QFrame::Box | QFrame::Plain);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(2, 2, 2, 2);
  layout->setSpacing(2);
  list_ = new QListWidget(this);
  list_->setObjectName(QStringLiteral("sessionList"));
  state_ = new QLabel(this);
  state_->setObjectName(QStringLiteral("sessionState"));
  state_->setWordWrap(true);
  layout->addWidget(list_);
  layout->addWidget(state_);
  // One click picks, as in a drop-down list; Enter picks the current line.
  connect(list_, &QListWidget::itemClicked, this, &SessionFinder::pick);
  connect(list_, &QListWidget::itemActivated, this, &SessionFinder::pick);
}

SessionFinder::~SessionFinder() = default;

void SessionFinder::open(settings::Protocol protocol, QWidget* anchor) {
  browser_.reset();
  offLine_.clear();
  const QString type = protocol::protocolRow(protocol).serviceType;
  discovery::AvahiConnection& connection = discovery_.connection();
  if (type.isEmpty()) {
    offLine_ = QStringLiteral("Multicast sessions are not published: every member hears the group");
  } else {
    if (connection.isOff()) offLine_ = discovery::describe(*connection.offReason());
    // Browses even so: the list fills should the daemon come while it is open.
    browser_ = std::make_unique<discovery::Browser>(connection, type);
    connect(browser_.get(), &discovery::Browser::added, this, &SessionFinder::refill);
    connect(browser_.get(), &discovery::Browser::removed, this, &SessionFinder::refill);
    connect(browser_.get(), &discovery::Browser::allForNowReached, this, &SessionFinder::refill);
    connect(browser_.get(), &discovery::Browser::failed, this, [this](const discovery::Failure& f) {
      offLine_ = discovery::describe(f);
      refill();
    });
    // Through the browser, so that the tie goes when the list closes.
    connect(&connection, &discovery::AvahiConnection::running, browser_.get(), [this] {
      offLine_.clear();
      refill();
    });
  }
  setFont(anchor->font());  // a window of its own: the window's font does not reach it
  refill();
  showUnder(*this, *anchor, list_->sizeHintForRow(0) > 0 ? list_->sizeHintForRow(0) * kVisibleRows + 40 : 150);
  list_->setFocus(Qt::PopupFocusReason);
}

QString SessionFinder::stateText() const { return state_->text(); }

void SessionFinder::hideEvent(QHideEvent* event) {
  // Browsing costs the network a little: only while someone looks.
  browser_.reset();
  QFrame::hideEvent(event);
}

// One line per session, however many interfaces it was seen on.
void SessionFinder::refill() {
  const QString chosen = list_->currentItem() ? list_->currentItem()->text() : QString();
  list_->clear();
  QSet<QString> shown;
  const QList<discovery::FoundService> found = browser_ ? browser_->services() : QList<discovery::FoundService>{};
  for (const discovery::FoundService& s : found) {
    const QString endpoint = QStringLiteral("%1:%2").arg(s.address).arg(s.port);
    if (shown.contains(s.name + endpoint)) continue;
    shown.insert(s.name + endpoint);
    auto* item = new QListWidgetItem(
        QStringLiteral("%1 \u2014 %2 (%3)").arg(report::visibleName(s.name), report::visibleName(s.host), endpoint),
        list_);
    item->setData(NameRole, s.name);
    item->setData(AddressRole, s.address);
    item->setData(PortRole, s.port);
  }
  // A line is always chosen, so that Enter takes it; a refill keeps the user's choice.
  const QList<QListWidgetItem*> same = list_->findItems(chosen, Qt::MatchExactly);
  list_->setCurrentRow(same.isEmpty() ? 0 : list_->row(same.first()));
  if (!offLine_.isEmpty()) state_->setText(offLine_);
  else if (list_->count() > 0) state_->setText(QStringLiteral("Pick a session to fill the remote address and port"));
  else if (browser_ && browser_->allForNow())
    state_->setText(QStringLiteral("No session found yet; still looking\u2026"));
  else state_->setText(QStringLiteral("Looking for sessions\u2026"));
}

void SessionFinder::pick(QListWidgetItem* item) {
  if (!item) return;
  const QString name = item->data(NameRole).toString(), address = item->data(AddressRole).toString();
  const auto port = static_cast<quint16>(item->data(PortRole).toUInt());
  hide();
  emit picked(name, address, port);
}

}  // namespace strandlink::ui
