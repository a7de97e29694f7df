#include "link/session_discovery.h"

#include <utility>

#include <QEventLoop>
#include <QSysInfo>
#include <QTimer>

#include "discovery/avahi_connection.h"
#include "protocol/protocol_registry.h"
#include "settings/preferences.h"
#include "version.h"

namespace strandlink::link {

// IPv4 only: our sockets listen there alone, and an IPv6 address in the advert is
// one a peer would try in vain. A classic peer needs only the MIDI port (its chat
// is on the port above); the TXT record says which wire the port speaks.
std::optional<discovery::Advert> sessionAdvert(settings::Protocol protocol, const QString& name, quint16 port) {
  const QString type = protocol::protocolRow(protocol).serviceType;
  if (type.isEmpty()) return std::nullopt;
  discovery::Advert advert{.type = type, .name = name, .port = port};
  if (protocol == settings::Protocol::Classic) {
    advert.txt = {QByteArrayLiteral("txtvers=1"), QByteArrayLiteral("protocol=classic"),
                  QByteArrayLiteral("version=") + QByteArray(kVersion)};
  } else if (protocol == settings::Protocol::Midi2) {
    // The same name and id as our invitations say, so a peer matches the two.
    advert.txt = {QByteArrayLiteral("UMPEndpointName=") + name.toUtf8().left(98),
                  QByteArrayLiteral("ProductInstanceId=") + settings::productInstanceId().toLatin1()};
  }
  return advert;
}

QString sessionName(const QString& given) {
  if (!given.trimmed().isEmpty()) return given.trimmed();
  const QString host = QSysInfo::machineHostName();
  return host.isEmpty() ? QStringLiteral("Strandlink") : host;
}

SessionDiscovery::SessionDiscovery(QObject* parent) : QObject(parent) {}

SessionDiscovery::~SessionDiscovery() {
  publisher_.reset();  // before the connection it was made on
}

discovery::AvahiConnection& SessionDiscovery::connection() {
  if (connection_) return *connection_;
  connection_ = std::make_unique<discovery::AvahiConnection>();
  connect(connection_.get(), &discovery::AvahiConnection::off, this, [this](const discovery::Failure& reason) {
    saidOff_ = true;
    emit noticed(discovery::describe(reason));
  });
  connect(connection_.get(), &discovery::AvahiConnection::running, this, [this] {
    if (!std::exchange(saidOff_, false)) return;
    emit noticed(QStringLiteral("discovery is back: sessions are published and found again"));
  });
  connection_->start();
  return *connection_;
}

void SessionDiscovery::publish(settings::Protocol protocol, const QString& name, quint16 port) {
  const std::optional<discovery::Advert> advert = sessionAdvert(protocol, name, port);
  if (!advert) {
    withdraw();
    return;
  }
  if (!publisher_) {
    publisher_ = std::make_unique<discovery::Publisher>(connection());
    connect(
        publisher_.get(), &discovery::Publisher::renamed, this, [this](const QString& wanted, const QString& taken) {
          emit noticed(QStringLiteral("This session is published as \"%1\": another one on the network is named \"%2\"")
                           .arg(taken, wanted));
        });
    connect(publisher_.get(), &discovery::Publisher::failed, this,
            [this](const discovery::Failure& f) { emit noticed(discovery::describe(f)); });
  }
  publisher_->publish(*advert);
}

void SessionDiscovery::withdraw() {
  if (publisher_) publisher_->withdraw();
}

FoundSession SessionDiscovery::find(settings::Protocol protocol, const QString& name, std::chrono::milliseconds wait) {
  const protocol::ProtocolRow& row = protocol::protocolRow(protocol);
  const QString type = row.serviceType;
  if (abandoned_) return {std::nullopt, {}, true};
  if (type.isEmpty()) return {std::nullopt, QStringLiteral("sessions are not published in %1 mode").arg(row.title)};
  discovery::AvahiConnection& daemon = connection();
  if (daemon.isOff()) return {std::nullopt, discovery::describe(*daemon.offReason())};
  discovery::Browser browser(daemon, type);
  // Among a flood of adverts the one asked for is the only one worth the wait.
  browser.resolveOnly(name);
  const auto named = [&]() -> std::optional<discovery::FoundService> {
    for (const discovery::FoundService& s : browser.services())
      if (s.name.compare(name, Qt::CaseInsensitive) == 0) return s;
    return std::nullopt;
  };
  QEventLoop loop;
  connect(&browser, &discovery::Browser::added, &loop, [&] {
    if (named()) loop.quit();
  });
  QString failed;
  connect(&browser, &discovery::Browser::failed, &loop, [&](const discovery::Failure& f) {
    failed = discovery::describe(f);
    loop.quit();
  });
  QTimer::singleShot(wait, &loop, &QEventLoop::quit);
  finding_ = &loop;
  if (!named()) loop.exec(QEventLoop::ExcludeUserInputEvents);
  finding_ = nullptr;
  if (abandoned_) return {std::nullopt, {}, true};
  if (const auto found = named()) return {found, {}};
  if (!failed.isEmpty()) return {std::nullopt, failed};
  return {std::nullopt, QStringLiteral("no %1 session of that name answered within %2 s")
                            .arg(type)
                            .arg(static_cast<long long>((wait.count() + 500) / 1000))};
}

void SessionDiscovery::abandonFinds() {
  abandoned_ = true;
  if (finding_ != nullptr) finding_->quit();
}

}  // namespace strandlink::link
