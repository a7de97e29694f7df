#include "net/read_notifier.h"

#include <QSocketNotifier>

namespace strandlink::net {

ReadNotifier::ReadNotifier(int fd, std::function<void()> onReadable)
    : notifier_(std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read)) {
  // The notifier is level-triggered: while a datagram waits it fires again after
  // the handler returns, so one read per call drains the queue. Qt guards the
  // emission, so the handler may destroy this notifier (a Stop from inside it).
  QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(),
                   [handler = std::move(onReadable)] { handler(); });
}

ReadNotifier::~ReadNotifier() {
  if (notifier_) notifier_->setEnabled(false);
}

}  // namespace strandlink::net
