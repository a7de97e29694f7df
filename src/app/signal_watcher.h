// SIGINT, SIGTERM, SIGHUP and SIGUSR1 delivered to the event loop: the handler only
// notes which signal came and wakes the loop through a socket pair, which the loop
// reads.
#pragma once

#include <QObject>
#include <QSocketNotifier>

#include <memory>

namespace strandlink::app {

// SIGUSR1 ignored until a watcher takes it, and again after: a panic asked for
// before the link runs or while it ends has nothing to release, and must not end
// the program. The first thing main() does.
void ignorePanicSignal();

class SignalWatcher : public QObject {
  Q_OBJECT
 public:
  // Installs the handlers (for the whole process; one watcher at a time).
  explicit SignalWatcher(QObject* parent = nullptr);
  ~SignalWatcher() override;

 signals:
  // SIGINT, SIGTERM or SIGHUP (a closed terminal, a dropped SSH session): end the
  // program as its close box would.
  void terminationRequested();
  // SIGUSR1: release the notes the peer left sounding.
  void panicRequested();

 private:
  void readSignal();
  std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace strandlink::app
