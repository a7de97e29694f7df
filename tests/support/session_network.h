// An in-memory network for session state machines: a fake clock, hosts that come
// and go, and datagrams that the test may drop or delay. Every datagram goes
// through the real encoder and decoder on the way.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "protocol/rtp/session.h"

namespace strandlink::testing {

namespace rtp = protocol::rtp;

struct Datagram {
  rtp::Micros sentAt = 0;
  std::string fromHost;
  rtp::Outgoing out;
};

struct LoggedEvent {
  rtp::Micros at = 0;
  std::string host;
  rtp::SessionEvent event;
};

class SessionNetwork {
 public:
  static constexpr std::uint16_t kControlPort = 5004;

  static rtp::PeerAddress control(const std::string& host) { return {host, kControlPort}; }

  // Binds a host's two ports to a new session (a fresh start of the program).
  rtp::Session& add(const std::string& host, rtp::SessionConfig config, rtp::Micros clockOffset = 0);
  // The program is gone: its ports answer nothing any more.
  void remove(const std::string& host) { hosts_.erase(host); }
  rtp::Session& at(const std::string& host) { return hosts_.at(host)->session; }
  rtp::Micros localTime(const std::string& host) const { return now_ + hosts_.at(host)->clockOffset; }

  void start(const std::string& host) { at(host).start(localTime(host)); }
  void stop(const std::string& host) { at(host).stop(); }
  void deliverData(const std::string& to, const std::string& fromHost, std::uint32_t ssrc, std::uint16_t sequence);

  // Runs every timer and delivery up to the time given.
  void runUntil(rtp::Micros until);
  void runFor(rtp::Micros span) { runUntil(now_ + span); }
  rtp::Micros now() const { return now_; }

  // Return true to lose a datagram; return the one-way delay of a datagram.
  std::function<bool(const Datagram&)> drops = [](const Datagram&) { return false; };
  std::function<rtp::Micros(const Datagram&)> delay = [](const Datagram&) { return rtp::Micros{1000}; };

  const std::vector<Datagram>& sent() const { return sent_; }
  const std::vector<LoggedEvent>& events() const { return events_; }
  std::vector<rtp::Micros> sendTimes(const std::string& host, std::function<bool(const rtp::SessionPacket&)> which) const;
  std::optional<rtp::Micros> firstEvent(const std::string& host, rtp::SessionEventKind kind, rtp::Micros after = -1) const;

 private:
  struct Host {
    rtp::Session session;
    rtp::Micros clockOffset;
  };
  struct InFlight {
    rtp::Micros arrival;
    Datagram datagram;
  };

  void collect();
  void deliver(const Datagram& d);
  std::optional<rtp::Micros> nextTimer(std::string& host) const;

  rtp::Micros now_ = 0;
  std::map<std::string, std::unique_ptr<Host>> hosts_;
  std::multimap<rtp::Micros, Datagram> inFlight_;
  std::vector<Datagram> sent_;
  std::vector<LoggedEvent> events_;
};

bool isInvitation(const rtp::SessionPacket& p);
bool isClockSync(const rtp::SessionPacket& p, int count);

}  // namespace strandlink::testing
