#include "discovery/browser.h"

#include <avahi-common/address.h>
#include <avahi-common/strlst.h>

#include <QSet>

#include "discovery/avahi_connection.h"

namespace strandlink::discovery {

Browser::Browser(AvahiConnection& connection, const QString& type, bool ipv6, QObject* parent)
    : QObject(parent), connection_(connection), type_(type), ipv6_(ipv6) {
  connect(&connection_, &AvahiConnection::running, this, &Browser::begin);
  connect(&connection_, &AvahiConnection::lost, this, &Browser::forget);
  begin();
}

Browser::~Browser() {
  for (Entry& e : entries_)
    if (e.resolver) avahi_service_resolver_free(e.resolver);
  if (browser_) avahi_service_browser_free(browser_);
}

QList<FoundService> Browser::services() const {
  QList<FoundService> list;
  for (const Entry& e : entries_)
    if (e.service) list << *e.service;
  return list;
}

qsizetype Browser::unresolved() const {
  QSet<QByteArray> resolved, waiting;
  for (const Entry& e : entries_) (e.service ? resolved : waiting).insert(e.name);
  return waiting.subtract(resolved).size();
}

void Browser::begin() {
  AvahiClient* client = connection_.client();
  if (browser_ || !client) return;
  allForNow_ = false;
  browser_ = avahi_service_browser_new(client, AVAHI_IF_UNSPEC, ipv6_ ? AVAHI_PROTO_UNSPEC : AVAHI_PROTO_INET,
                                       type_.toUtf8().constData(), nullptr, AvahiLookupFlags(0),
                                       &Browser::browseCallback, this);
  if (!browser_) emit failed({Problem::BrowseFailed, avahi_client_errno(client)});
}

// The daemon went away and took the browser and resolvers with it; so did the
// services as far as anyone can tell.
void Browser::forget() {
  browser_ = nullptr;
  queue_.clear();
  std::list<Entry> gone;
  gone.swap(entries_);
  for (const Entry& e : gone)
    if (e.service) emit removed(*e.service);
}

std::list<Browser::Entry>::iterator Browser::find(AvahiIfIndex interface, AvahiProtocol protocol, const char* name,
                                                  const char* type, const char* domain) {
  for (auto it = entries_.begin(); it != entries_.end(); ++it)
    if (it->interface == interface && it->protocol == protocol && it->name == name && it->type == type &&
        it->domain == domain)
      return it;
  return entries_.end();
}

void Browser::onFound(AvahiIfIndex interface, AvahiProtocol protocol, const char* name, const char* type,
                      const char* domain, bool local) {
  if (!queue_.wanted(QString::fromUtf8(name))) return;
  if (find(interface, protocol, name, type, domain) != entries_.end()) return;
  Entry& e = entries_.emplace_back(Entry{this, interface, protocol, name, type, domain, nullptr, std::nullopt});
  queue_.offer(&e, local);
  resolveMore();
}

void Browser::resolveMore() {
  while (const std::optional<Entry*> next = queue_.next()) {
    Entry* e = *next;
    e->resolver = avahi_service_resolver_new(connection_.client(), e->interface, e->protocol, e->name.constData(),
                                             e->type.constData(), e->domain.constData(),
                                             ipv6_ ? AVAHI_PROTO_UNSPEC : AVAHI_PROTO_INET, AvahiLookupFlags(0),
                                             &Browser::resolveCallback, e);
    if (e->resolver) continue;
    queue_.finished();
    entries_.remove_if([e](const Entry& x) { return &x == e; });  // unresolvable: as if never seen
  }
}

void Browser::onGone(AvahiIfIndex interface, AvahiProtocol protocol, const char* name, const char* type,
                     const char* domain) {
  const auto it = find(interface, protocol, name, type, domain);
  if (it == entries_.end()) return;
  if (it->resolver) {
    avahi_service_resolver_free(it->resolver);
    queue_.finished();
  } else if (!it->service) {
    queue_.withdraw(&*it);
  }
  const std::optional<FoundService> service = it->service;
  entries_.erase(it);
  resolveMore();
  if (service) emit removed(*service);
}

void Browser::browseCallback(AvahiServiceBrowser*, AvahiIfIndex interface, AvahiProtocol protocol,
                             AvahiBrowserEvent event, const char* name, const char* type, const char* domain,
                             AvahiLookupResultFlags flags, void* self) {
  auto* b = static_cast<Browser*>(self);
  switch (event) {
    case AVAHI_BROWSER_NEW:
      b->onFound(interface, protocol, name, type, domain, (flags & AVAHI_LOOKUP_RESULT_LOCAL) != 0);
      break;
    case AVAHI_BROWSER_REMOVE: b->onGone(interface, protocol, name, type, domain); break;
    case AVAHI_BROWSER_ALL_FOR_NOW:
      b->allForNow_ = true;
      emit b->allForNowReached();
      break;
    case AVAHI_BROWSER_FAILURE:
      emit b->failed({Problem::BrowseFailed, avahi_client_errno(b->connection_.client())});
      break;
    case AVAHI_BROWSER_CACHE_EXHAUSTED: break;
  }
}

static FoundService describeFound(const char* name, const char* type, const char* domain, const char* host,
                                  const AvahiAddress* address, uint16_t port, AvahiStringList* txt) {
  FoundService s;
  s.name = QString::fromUtf8(name);
  s.type = QString::fromUtf8(type);
  s.domain = QString::fromUtf8(domain);
  s.host = QString::fromUtf8(host);
  char text[AVAHI_ADDRESS_STR_MAX] = {};
  if (address) avahi_address_snprint(text, sizeof text, address);
  s.address = QString::fromLatin1(text);
  s.port = port;
  for (AvahiStringList* t = txt; t; t = avahi_string_list_get_next(t))
    s.txt.prepend(QByteArray(reinterpret_cast<const char*>(avahi_string_list_get_text(t)),
                             static_cast<qsizetype>(avahi_string_list_get_size(t))));
  return s;
}

// A service that cannot be resolved (gone before it answered) is dropped quietly.
void Browser::resolveCallback(AvahiServiceResolver* resolver, AvahiIfIndex, AvahiProtocol, AvahiResolverEvent event,
                              const char* name, const char* type, const char* domain, const char* host,
                              const AvahiAddress* address, uint16_t port, AvahiStringList* txt, AvahiLookupResultFlags,
                              void* entry) {
  auto* e = static_cast<Entry*>(entry);
  Browser* b = e->owner;
  avahi_service_resolver_free(resolver);
  e->resolver = nullptr;
  b->queue_.finished();
  if (event != AVAHI_RESOLVER_FOUND) {
    b->entries_.remove_if([e](const Entry& x) { return &x == e; });
    b->resolveMore();
    return;
  }
  e->service = describeFound(name, type, domain, host, address, port, txt);
  b->resolveMore();
  emit b->added(*e->service);
}

}  // namespace strandlink::discovery
