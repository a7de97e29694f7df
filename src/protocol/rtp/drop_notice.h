// Packets dropped because they are malformed. Anyone on the network can send
// them, so they are no error worth a box: the first is said in a line at once, the
// rest at most once every ten seconds, counted. The loop's thread only.
#pragma once

#include <QString>

#include <cstdint>
#include <optional>

#include "protocol/rtp/clock_sync.h"

namespace strandlink::protocol::rtp {

class DropNotice {
 public:
  static constexpr Micros kQuiet = 10'000'000;

  // One more; the line to show now, or an empty one (it is told with a later one).
  QString count(const QString& what, Micros now) {
    ++total_;
    ++untold_;
    if (lastLine_ && now - *lastLine_ < kQuiet) return {};
    QString line = QStringLiteral("RTP-MIDI: dropped %1").arg(what);
    if (untold_ > 1) line += QStringLiteral(" (%1 malformed packets since the last notice)").arg(untold_);
    lastLine_ = now;
    untold_ = 0;
    return line;
  }
  std::uint64_t total() const { return total_; }

 private:
  std::optional<Micros> lastLine_;
  std::uint64_t untold_ = 0;
  std::uint64_t total_ = 0;
};

}  // namespace strandlink::protocol::rtp
