#include "discovery/publisher.h"

#include <avahi-common/alternative.h>
#include <avahi-common/error.h>
#include <avahi-common/malloc.h>

#include "discovery/avahi_connection.h"

namespace strandlink::discovery {

namespace {
constexpr int kMaxNameTries = 100;  // "Name #2" ... before giving up
}

Publisher::Publisher(AvahiConnection& connection, QObject* parent) : QObject(parent), connection_(connection) {
  connect(&connection_, &AvahiConnection::running, this, &Publisher::commit);
  connect(&connection_, &AvahiConnection::interrupted, this, &Publisher::reset);
  connect(&connection_, &AvahiConnection::lost, this, &Publisher::forget);
}

Publisher::~Publisher() { withdraw(); }

void Publisher::publish(const Advert& advert) {
  withdraw();
  advert_ = advert;
  name_ = advert.name;
  reportedName_.clear();
  commit();
}

void Publisher::withdraw() {
  if (group_) avahi_entry_group_free(group_);
  group_ = nullptr;
  advert_.reset();
  established_ = false;
}

// The host name is changing: the advert goes and is added again once running.
void Publisher::reset() {
  if (group_) avahi_entry_group_reset(group_);
  established_ = false;
}

// The daemon went away and took the group with it. After its restart the
// wanted name is tried first again: what clashed may be gone.
void Publisher::forget() {
  group_ = nullptr;
  established_ = false;
  if (advert_) name_ = advert_->name;
}

void Publisher::commit() {
  AvahiClient* client = connection_.client();
  if (!advert_ || !client) return;
  if (!group_) group_ = avahi_entry_group_new(client, &Publisher::groupCallback, this);
  if (!group_) {
    fail(avahi_client_errno(client));
    return;
  }
  if (!avahi_entry_group_is_empty(group_)) return;
  if (!addService()) return;
  if (const int error = avahi_entry_group_commit(group_); error < 0) fail(error);
}

// A daemon that has just gone, before the connection has heard of it, refuses
// through the bus: the connection says once that discovery is off, and the
// advert is published again when the daemon is back. Anything else is said.
void Publisher::fail(int error) {
  if (error == AVAHI_ERR_DISCONNECTED || error == AVAHI_ERR_DBUS_ERROR) return;
  emit failed({Problem::PublishFailed, error});
}

// A name taken by a service on this host is refused at once; one taken elsewhere
// on the network comes back later as a group collision.
bool Publisher::addService() {
  AvahiStringList* txt = nullptr;
  for (const QByteArray& record : advert_->txt)
    txt = avahi_string_list_add_arbitrary(txt, reinterpret_cast<const uint8_t*>(record.constData()), record.size());
  txt = avahi_string_list_reverse(txt);  // built front first: the records go out in the order given
  const AvahiProtocol protocol = advert_->ipv6 ? AVAHI_PROTO_UNSPEC : AVAHI_PROTO_INET;
  int error = AVAHI_ERR_COLLISION;
  for (int tries = 0; error == AVAHI_ERR_COLLISION && tries < kMaxNameTries; ++tries) {
    error = avahi_entry_group_add_service_strlst(group_, AVAHI_IF_UNSPEC, protocol, AvahiPublishFlags(0),
                                                 name_.toUtf8().constData(), advert_->type.toUtf8().constData(),
                                                 nullptr, nullptr, advert_->port, txt);
    if (error == AVAHI_ERR_COLLISION) takeNextName();
  }
  avahi_string_list_free(txt);
  if (error < 0) fail(error);
  return error >= 0;
}

void Publisher::takeNextName() {
  char* next = avahi_alternative_service_name(name_.toUtf8().constData());
  name_ = QString::fromUtf8(next);
  avahi_free(next);
}

void Publisher::groupCallback(AvahiEntryGroup* group, AvahiEntryGroupState state, void* self) {
  static_cast<Publisher*>(self)->onGroup(group, state);
}

void Publisher::onGroup(AvahiEntryGroup* group, AvahiEntryGroupState state) {
  switch (state) {
    case AVAHI_ENTRY_GROUP_ESTABLISHED:
      established_ = true;
      if (advert_ && name_ != advert_->name && name_ != reportedName_) {
        reportedName_ = name_;
        emit renamed(advert_->name, name_);
      }
      emit established(name_);
      break;
    case AVAHI_ENTRY_GROUP_COLLISION:
      established_ = false;
      takeNextName();
      avahi_entry_group_reset(group);
      QMetaObject::invokeMethod(this, &Publisher::commit, Qt::QueuedConnection);
      break;
    case AVAHI_ENTRY_GROUP_FAILURE:
      established_ = false;
      emit failed({Problem::PublishFailed, avahi_client_errno(avahi_entry_group_get_client(group))});
      break;
    case AVAHI_ENTRY_GROUP_UNCOMMITED:
    case AVAHI_ENTRY_GROUP_REGISTERING: break;
  }
}

}  // namespace strandlink::discovery
