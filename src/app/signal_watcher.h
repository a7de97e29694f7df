// SIGINT, SIGTERM, SIGHUP and SIGUSR1 delivered to the event loop: the handler only
// notes which signal came and wakes the loop through a socket pair, which the loop
// reads. The ending signals are caught from the first line of main(), long before
// a loop runs: start-up asks terminationRequested() between its steps.
#pragma once

#include <QObject>
#include <QSocketNotifier>

#include <memory>

namespace strandlink::app {

// The first thing main() does. SIGINT, SIGTERM and SIGHUP are caught from here
// to the end, so that one at any moment ends the program as its normal stop does
// (a mask inherited from whoever started us would hold them back: they are
// unblocked). SIGUSR1 is ignored until a watcher takes it, and again after: a
// panic asked for before the link runs or while it ends has nothing to release,
// and must not end the program.
void catchSignals();
// Any thread. Whether SIGINT, SIGTERM or SIGHUP came since catchSignals().
bool terminationRequested();

class SignalWatcher : public QObject {
  Q_OBJECT
 public:
  // Takes SIGUSR1 (for the whole process; one watcher at a time). An ending
  // signal that came before it is announced once the loop runs.
  explicit SignalWatcher(QObject* parent = nullptr);
  ~SignalWatcher() override;

 signals:
  // SIGINT, SIGTERM or SIGHUP (a closed terminal, a dropped SSH session): end the
  // program as its close box would. Once only: a repeat changes nothing.
  void terminationRequested();
  // SIGUSR1: release the notes the peer left sounding.
  void panicRequested();

 private:
  void readSignal();
  std::unique_ptr<QSocketNotifier> notifier_;
  bool announced_ = false;
};

}  // namespace strandlink::app
