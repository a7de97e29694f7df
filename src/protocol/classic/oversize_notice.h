// Datagrams longer than a port reads. Anyone on the network can send them, so
// they are no error worth a box: they are counted, and said in a line at most once
// a minute. The loop's thread only.
#pragma once

#include <netinet/in.h>

#include <QString>

#include <chrono>
#include <cstdint>
#include <optional>

namespace strandlink::protocol::classic {

class OversizeNotice {
 public:
  using Clock = std::chrono::steady_clock;

  // portName as the line names the port ("MIDI", "chat"); readLength: the longest
  // datagram it takes.
  OversizeNotice(QString portName, int readLength) : portName_(std::move(portName)), readLength_(readLength) {}

  // One more from this sender: the line to show now, or an empty one when a line
  // was shown less than a minute ago (this one is told with the next).
  QString count(const sockaddr_in& from, Clock::time_point now);
  // The line for those counted since the last one, once a minute has passed since
  // it; else empty. Asked now and then (once a second).
  QString due(Clock::time_point now);
  std::uint64_t total() const { return total_; }

  static constexpr std::chrono::seconds kQuiet{60};

 private:
  QString line(Clock::time_point now);

  QString portName_;
  int readLength_;
  std::uint64_t total_ = 0;
  std::uint64_t untold_ = 0;
  QString lastSender_;
  std::optional<Clock::time_point> toldAt_;
};

}  // namespace strandlink::protocol::classic
