// SIGINT, SIGTERM and SIGUSR1 delivered to the event loop: the handler only
// writes the signal's number to a socket pair, which the loop reads.
#pragma once

#include <QObject>
#include <QSocketNotifier>

#include <memory>

namespace strandlink::app {

class SignalWatcher : public QObject {
  Q_OBJECT
 public:
  // Installs the handlers (for the whole process; one watcher at a time).
  explicit SignalWatcher(QObject* parent = nullptr);
  ~SignalWatcher() override;

 signals:
  // SIGINT or SIGTERM: end the program as its close box would.
  void terminationRequested();
  // SIGUSR1: release the notes the peer left sounding.
  void panicRequested();

 private:
  void readSignal();
  std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace strandlink::app
