// Browses one service type through the Avahi daemon, resolves each service found
// (or each of one name), a few at a time, and keeps a live list of them, with a signal for each one that comes or goes.
// After a daemon restart it browses again.
#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

#include <list>
#include <optional>

#include <avahi-client/lookup.h>

#include "discovery/discovery_error.h"
#include "discovery/resolve_queue.h"

namespace strandlink::discovery {

class AvahiConnection;

struct FoundService {
  QString name;
  QString type;
  QString domain;
  QString host;     // e.g. "studio.local"
  QString address;  // IPv4 unless asked otherwise, e.g. "192.168.1.10"
  quint16 port = 0;
  QList<QByteArray> txt;
};

// The connection must outlive its browsers.
class Browser : public QObject {
  Q_OBJECT

 public:
  // Browses from now on, or as soon as the daemon runs. ipv6 also looks for IPv6
  // adverts and addresses.
  Browser(AvahiConnection& connection, const QString& type, bool ipv6 = false, QObject* parent = nullptr);
  ~Browser() override;

  // From now on only services of that name are resolved; call it before the
  // event loop runs. Empty: all.
  void resolveOnly(const QString& name) { queue_.onlyNamed(name); }

  QList<FoundService> services() const;  // resolved ones, in the order found
  // How many sessions (by name) were seen and are not resolved yet.
  qsizetype unresolved() const;
  // The daemon has reported what it knew when browsing began.
  bool allForNow() const { return allForNow_; }

 signals:
  void added(const strandlink::discovery::FoundService& service);
  void removed(const strandlink::discovery::FoundService& service);
  void allForNowReached();
  void failed(const strandlink::discovery::Failure& failure);

 private:
  struct Entry {
    Browser* owner;
    AvahiIfIndex interface;
    AvahiProtocol protocol;
    QByteArray name, type, domain;
    AvahiServiceResolver* resolver = nullptr;
    std::optional<FoundService> service;
  };

  void begin();
  void forget();
  void onFound(AvahiIfIndex interface, AvahiProtocol protocol, const char* name, const char* type, const char* domain,
               bool local);
  void resolveMore();
  void onGone(AvahiIfIndex interface, AvahiProtocol protocol, const char* name, const char* type, const char* domain);
  std::list<Entry>::iterator find(AvahiIfIndex interface, AvahiProtocol protocol, const char* name, const char* type,
                                  const char* domain);
  static void browseCallback(AvahiServiceBrowser*, AvahiIfIndex, AvahiProtocol, AvahiBrowserEvent, const char* name,
                             const char* type, const char* domain, AvahiLookupResultFlags flags, void* self);
  static void resolveCallback(AvahiServiceResolver*, AvahiIfIndex, AvahiProtocol, AvahiResolverEvent, const char* name,
                              const char* type, const char* domain, const char* host, const AvahiAddress* address,
                              uint16_t port, AvahiStringList* txt, AvahiLookupResultFlags, void* entry);

  AvahiConnection& connection_;
  QString type_;
  bool ipv6_;
  AvahiServiceBrowser* browser_ = nullptr;
  std::list<Entry> entries_;  // stable addresses: each is its resolver's user data
  ResolveQueue<Entry*> queue_;
  bool allForNow_ = false;
};

}  // namespace strandlink::discovery
