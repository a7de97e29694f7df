// One connection to the system's Avahi daemon, kept across daemon restarts.
// Without a daemon (or a system bus) discovery is off: off() says so once, and the
// connection keeps waiting, so discovery comes on when the daemon starts.
#pragma once

#include <QObject>
#include <QTimer>

#include <optional>

#include <avahi-client/client.h>

#include "discovery/avahi_qt_poll.h"
#include "discovery/discovery_error.h"

namespace strandlink::discovery {

class AvahiConnection : public QObject {
  Q_OBJECT

 public:
  explicit AvahiConnection(QObject* parent = nullptr);
  ~AvahiConnection() override;

  // Connects; by its return the daemon has been reached, or isOff() is true.
  void start();

  bool isOff() const { return offReason_.has_value(); }
  std::optional<Failure> offReason() const { return offReason_; }
  // Non-null while running; what is made on it lives until lost().
  AvahiClient* client() const { return running_ ? client_ : nullptr; }

 signals:
  void running();      // reached the daemon, at first and again after each restart
  void interrupted();  // the host name is being (re)registered: adverts must be reset
  void lost();         // the daemon went away: what was made on client() is gone
  void off(const strandlink::discovery::Failure& reason);  // once per connection

 private:
  void connectClient();
  void reconnect();
  void dropClient();
  void goOff(const Failure& reason);
  void onState(AvahiClient* client, AvahiClientState state);
  static void stateCallback(AvahiClient* client, AvahiClientState state, void* self);

  AvahiQtPoll poll_;
  AvahiClient* client_ = nullptr;
  bool running_ = false;
  bool reportedOff_ = false;
  std::optional<Failure> offReason_;
  QTimer retry_;  // without a system bus, a new client is tried now and then
};

}  // namespace strandlink::discovery
