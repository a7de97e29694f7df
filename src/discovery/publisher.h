// Publishes one service advert through the Avahi daemon and keeps it published:
// on a name clash it takes the next free name ("Name #2") and says so, and after a
// daemon restart it publishes again. Withdrawn on withdraw() and on destruction.
#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

#include <optional>

#include <avahi-client/publish.h>

#include "discovery/discovery_error.h"

namespace strandlink::discovery {

class AvahiConnection;

struct Advert {
  QString type;  // e.g. "_apple-midi._udp"
  QString name;  // the wanted name; a clash gives "name #2" and so on
  quint16 port = 0;
  QList<QByteArray> txt{};  // TXT records, each "key=value"
  bool ipv6 = false;        // IPv4 only unless our sockets listen on IPv6 too
};

// The connection must outlive its publishers.
class Publisher : public QObject {
  Q_OBJECT

 public:
  explicit Publisher(AvahiConnection& connection, QObject* parent = nullptr);
  ~Publisher() override;

  // Replaces any advert of ours; published now, or as soon as the daemon runs.
  void publish(const Advert& advert);
  void withdraw();

  QString name() const { return name_; }  // the name in use, after any clash
  bool isEstablished() const { return established_; }

 signals:
  void established(const QString& name);
  void renamed(const QString& wanted, const QString& taken);  // the wanted name was in use
  void failed(const strandlink::discovery::Failure& failure);

 private:
  void commit();
  bool addService();
  void takeNextName();
  void fail(int avahiError);
  void reset();
  void forget();
  void onGroup(AvahiEntryGroup* group, AvahiEntryGroupState state);
  static void groupCallback(AvahiEntryGroup* group, AvahiEntryGroupState state, void* self);

  AvahiConnection& connection_;
  std::optional<Advert> advert_;
  QString name_;
  QString reportedName_;  // the last taken name reported through renamed()
  AvahiEntryGroup* group_ = nullptr;
  bool established_ = false;
};

}  // namespace strandlink::discovery
