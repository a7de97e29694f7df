#include "discovery/avahi_qt_poll.h"

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include <avahi-common/timeval.h>
#include <sys/time.h>

#include <algorithm>

// Avahi declares these two types and leaves their contents to the main loop.
struct AvahiWatch {
  int fd;
  AvahiWatchCallback callback;
  void* userdata;
  AvahiWatchEvent happened = static_cast<AvahiWatchEvent>(0);
  QSocketNotifier* read = nullptr;
  QSocketNotifier* write = nullptr;
};

struct AvahiTimeout {
  AvahiTimeoutCallback callback;
  void* userdata;
  QTimer* timer = nullptr;
};

namespace strandlink::discovery {

namespace {

// The callback may free the watch, so nothing touches it afterwards.
void fire(AvahiWatch* w, AvahiWatchEvent event) {
  w->happened = event;
  w->callback(w, w->fd, event, w->userdata);
}

void watchUpdate(AvahiWatch* w, AvahiWatchEvent events) {
  w->read->setEnabled(events & (AVAHI_WATCH_IN | AVAHI_WATCH_ERR | AVAHI_WATCH_HUP));
  w->write->setEnabled(events & AVAHI_WATCH_OUT);
}

AvahiWatch* watchNew(const AvahiPoll*, int fd, AvahiWatchEvent events, AvahiWatchCallback callback, void* userdata) {
  auto* w = new AvahiWatch{fd, callback, userdata};
  w->read = new QSocketNotifier(fd, QSocketNotifier::Read);
  w->write = new QSocketNotifier(fd, QSocketNotifier::Write);
  QObject::connect(w->read, &QSocketNotifier::activated, [w] { fire(w, AVAHI_WATCH_IN); });
  QObject::connect(w->write, &QSocketNotifier::activated, [w] { fire(w, AVAHI_WATCH_OUT); });
  watchUpdate(w, events);
  return w;
}

AvahiWatchEvent watchGetEvents(AvahiWatch* w) { return w->happened; }

// Freed from inside its own notifier's signal at times: the notifiers go later.
void watchFree(AvahiWatch* w) {
  for (QSocketNotifier* n : {w->read, w->write}) {
    n->setEnabled(false);
    QObject::disconnect(n, nullptr, nullptr, nullptr);
    n->deleteLater();
  }
  delete w;
}

void timeoutUpdate(AvahiTimeout* t, const struct timeval* due) {
  if (!due) {
    t->timer->stop();
    return;
  }
  struct timeval now {};
  gettimeofday(&now, nullptr);
  const AvahiUsec left = avahi_timeval_diff(due, &now);
  t->timer->start(static_cast<int>(std::max<AvahiUsec>(0, (left + 999) / 1000)));
}

AvahiTimeout* timeoutNew(const AvahiPoll*, const struct timeval* due, AvahiTimeoutCallback callback, void* userdata) {
  auto* t = new AvahiTimeout{callback, userdata};
  t->timer = new QTimer;
  t->timer->setSingleShot(true);
  t->timer->setTimerType(Qt::PreciseTimer);
  QObject::connect(t->timer, &QTimer::timeout, [t] { t->callback(t, t->userdata); });
  timeoutUpdate(t, due);
  return t;
}

void timeoutFree(AvahiTimeout* t) {
  t->timer->stop();
  QObject::disconnect(t->timer, nullptr, nullptr, nullptr);
  t->timer->deleteLater();
  delete t;
}

}  // namespace

AvahiQtPoll::AvahiQtPoll() {
  api_.userdata = this;
  api_.watch_new = watchNew;
  api_.watch_update = watchUpdate;
  api_.watch_get_events = watchGetEvents;
  api_.watch_free = watchFree;
  api_.timeout_new = timeoutNew;
  api_.timeout_update = timeoutUpdate;
  api_.timeout_free = timeoutFree;
}

}  // namespace strandlink::discovery
