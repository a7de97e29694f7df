// Avahi's main-loop interface served by the Qt event loop: file descriptors
// through QSocketNotifier, timeouts through QTimer. Every Avahi callback then runs
// on the thread of this object, so discovery needs no lock and no hand-over.
#pragma once

#include <avahi-common/watch.h>

namespace strandlink::discovery {

class AvahiQtPoll {
 public:
  AvahiQtPoll();
  AvahiQtPoll(const AvahiQtPoll&) = delete;
  AvahiQtPoll& operator=(const AvahiQtPoll&) = delete;

  // Valid as long as this object; it must outlive every Avahi object made on it.
  const AvahiPoll* api() const { return &api_; }

 private:
  AvahiPoll api_{};
};

}  // namespace strandlink::discovery
