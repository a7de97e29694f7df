#include "discovery/avahi_connection.h"

#include <avahi-common/error.h>

namespace strandlink::discovery {

namespace {
constexpr int kRetryMs = 5000;
}

AvahiConnection::AvahiConnection(QObject* parent) : QObject(parent) {
  retry_.setInterval(kRetryMs);
  connect(&retry_, &QTimer::timeout, this, &AvahiConnection::connectClient);
}

AvahiConnection::~AvahiConnection() {
  if (client_) avahi_client_free(client_);
}

void AvahiConnection::start() {
  if (!client_) connectClient();
}

// NO_FAIL: without a daemon the client waits for one instead of failing.
void AvahiConnection::connectClient() {
  if (client_) return;
  int error = 0;
  client_ = avahi_client_new(poll_.api(), AVAHI_CLIENT_NO_FAIL, &AvahiConnection::stateCallback, this, &error);
  if (client_) {
    retry_.stop();
    return;
  }
  goOff({Problem::NoDaemon, error});
}

// Freed outside its own callback; everything made on it goes with it.
void AvahiConnection::dropClient() {
  if (client_) avahi_client_free(client_);
  client_ = nullptr;
}

void AvahiConnection::reconnect() {
  dropClient();
  connectClient();
}

void AvahiConnection::goOff(const Failure& reason) {
  offReason_ = reason;
  retry_.start();
  if (reportedOff_) return;
  reportedOff_ = true;
  emit off(reason);
}

void AvahiConnection::stateCallback(AvahiClient* client, AvahiClientState state, void* self) {
  static_cast<AvahiConnection*>(self)->onState(client, state);
}

// Called from inside avahi_client_new too, before client_ is set.
void AvahiConnection::onState(AvahiClient* client, AvahiClientState state) {
  client_ = client;
  switch (state) {
    case AVAHI_CLIENT_S_RUNNING:
      retry_.stop();
      running_ = true;
      offReason_.reset();
      emit running();
      break;
    case AVAHI_CLIENT_S_REGISTERING:
    case AVAHI_CLIENT_S_COLLISION:
      if (running_) emit interrupted();
      running_ = false;
      break;
    case AVAHI_CLIENT_CONNECTING:
      running_ = false;
      goOff({Problem::NoDaemon, 0});
      break;
    case AVAHI_CLIENT_FAILURE: {
      const int error = avahi_client_errno(client);
      running_ = false;
      emit lost();
      // A daemon that went away comes back: wait for it with a new client. Other
      // failures are tried again now and then.
      if (error == AVAHI_ERR_DISCONNECTED) {
        QMetaObject::invokeMethod(this, &AvahiConnection::reconnect, Qt::QueuedConnection);
      } else {
        goOff({Problem::ClientFailed, error});
        QMetaObject::invokeMethod(this, &AvahiConnection::dropClient, Qt::QueuedConnection);
      }
      break;
    }
  }
}

}  // namespace strandlink::discovery
