// Which adverts a browser resolves, and when. Only those of the name asked for,
// when one was; at most kResolvingAtOnce at a time, this computer's own first.
// So a flood of adverts on the network neither uses up the resolvers the daemon
// allows a client nor spends the time a lookup has on adverts nobody asked for.
#pragma once

#include <QString>

#include <algorithm>
#include <cstddef>
#include <deque>
#include <optional>

namespace strandlink::discovery {

template <typename Key>
class ResolveQueue {
 public:
  static constexpr std::size_t kResolvingAtOnce = 32;

  // Empty: every name. DNS-SD names are matched without regard to case.
  void onlyNamed(const QString& name) { onlyName_ = name; }
  bool wanted(const QString& name) const {
    return onlyName_.isEmpty() || name.compare(onlyName_, Qt::CaseInsensitive) == 0;
  }

  void offer(Key key, bool local) { local ? waiting_.push_front(key) : waiting_.push_back(key); }
  // The next to resolve now, if one waits and a resolver is free; each one taken
  // is given back by finished(), whether it resolved, failed or went.
  std::optional<Key> next() {
    if (waiting_.empty() || resolving_ >= kResolvingAtOnce) return std::nullopt;
    ++resolving_;
    const Key key = waiting_.front();
    waiting_.pop_front();
    return key;
  }
  void finished() { resolving_ -= resolving_ > 0 ? 1 : 0; }
  void withdraw(Key key) { std::erase(waiting_, key); }  // gone before its turn
  void clear() {
    waiting_.clear();
    resolving_ = 0;
  }

 private:
  QString onlyName_;
  std::deque<Key> waiting_;
  std::size_t resolving_ = 0;
};

}  // namespace strandlink::discovery
