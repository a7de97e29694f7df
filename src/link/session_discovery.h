// Discovery for a link: the running session's advert on the network, and the
// lookup of a peer's session by its published name. One connection to the Avahi
// daemon, made at first use and kept for the program's life, so that "discovery
// is off" is said once however often a session starts.
#pragma once

#include <QEventLoop>
#include <QObject>
#include <QString>

#include <chrono>
#include <memory>
#include <optional>

#include "discovery/browser.h"
#include "discovery/publisher.h"
#include "settings/preferences.h"

namespace strandlink::discovery {
class AvahiConnection;
}

namespace strandlink::link {

// What a session of that protocol publishes with our MIDI (or control) port;
// nothing for a protocol that publishes none.
std::optional<discovery::Advert> sessionAdvert(settings::Protocol protocol, const QString& name, quint16 port);

// The name a session is published under and every protocol offers its peers: the
// one given, trimmed, or this computer's host name.
QString sessionName(const QString& given);

// A session looked up by name: the service, or the line that says why there is none.
struct FoundSession {
  std::optional<discovery::FoundService> service;
  QString problem;
  bool abandoned = false;  // the program is ending: nothing to say
};

class SessionDiscovery : public QObject {
  Q_OBJECT
 public:
  explicit SessionDiscovery(QObject* parent = nullptr);
  ~SessionDiscovery() override;

  // The one connection to the daemon, reached on first use.
  discovery::AvahiConnection& connection();

  // Publishes this session (replacing what was published), or nothing for a
  // protocol without adverts; published later should the daemon come later.
  void publish(settings::Protocol protocol, const QString& name, quint16 port);
  void withdraw();

  // The session of that protocol published under that name (DNS-SD names are
  // matched without regard to case), waiting up to `wait` for it to answer. Runs
  // the event loop meanwhile, without user input.
  FoundSession find(settings::Protocol protocol, const QString& name, std::chrono::milliseconds wait);
  // The program is ending: a find in progress returns at once, and so does every
  // later one, with nothing found.
  void abandonFinds();

 signals:
  // A line for the user: discovery is off, the name was taken, publishing failed.
  void noticed(const QString& line);

 private:
  std::unique_ptr<discovery::AvahiConnection> connection_;
  std::unique_ptr<discovery::Publisher> publisher_;
  QEventLoop* finding_ = nullptr;  // the loop of the find in progress
  bool abandoned_ = false;
  bool saidOff_ = false;  // the user was told discovery is off, and not yet that it is back
};

}  // namespace strandlink::link
