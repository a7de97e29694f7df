// What can go wrong with discovery, as values; the texts are in discovery_error.cpp.
#pragma once

#include <QString>

namespace strandlink::discovery {

enum class Problem {
  NoDaemon,       // no Avahi daemon (or no system bus) to talk to: discovery is off
  ClientFailed,   // the daemon refused us or the connection broke for good
  PublishFailed,  // the advert could not be registered
  BrowseFailed,   // the service type could not be browsed
};

struct Failure {
  Problem problem = Problem::NoDaemon;
  int avahiError = 0;  // Avahi's own error code, 0 when there is none
};

// One line for the user, with Avahi's reason where it gave one.
QString describe(const Failure& failure);

}  // namespace strandlink::discovery
