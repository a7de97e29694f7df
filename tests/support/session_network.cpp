#include "support/session_network.h"

#include <gtest/gtest.h>

namespace strandlink::testing {

rtp::Session& SessionNetwork::add(const std::string& host, rtp::SessionConfig config, rtp::Micros clockOffset) {
  hosts_[host] = std::make_unique<Host>(Host{rtp::Session(std::move(config)), clockOffset});
  return at(host);
}

void SessionNetwork::deliverData(const std::string& to, const std::string& fromHost, std::uint32_t ssrc,
                                 std::uint16_t sequence) {
  rtp::RtpHeader header;
  header.ssrc = ssrc;
  header.sequence = sequence;
  at(to).acceptData({fromHost, kControlPort + 1}, header, localTime(to));
  collect();
}

void SessionNetwork::runUntil(rtp::Micros until) {
  collect();
  for (int steps = 0;; ++steps) {
    if (steps > 1'000'000) {
      ADD_FAILURE() << "the sessions never settle: a timer that does not move on";
      break;
    }
    std::string host;
    const auto timer = nextTimer(host);
    const auto arrival = inFlight_.empty() ? std::nullopt : std::optional(inFlight_.begin()->first);
    if (arrival && *arrival <= until && (!timer || *arrival <= *timer)) {
      now_ = std::max(now_, *arrival);
      const Datagram d = inFlight_.begin()->second;
      inFlight_.erase(inFlight_.begin());
      deliver(d);
    } else if (timer && *timer <= until) {
      now_ = std::max(now_, *timer);
      at(host).tick(localTime(host));
    } else {
      break;
    }
    collect();
  }
  now_ = until;
}

std::optional<rtp::Micros> SessionNetwork::nextTimer(std::string& host) const {
  std::optional<rtp::Micros> best;
  for (const auto& [name, h] : hosts_) {
    const auto wake = h->session.nextWakeup();
    if (!wake) continue;
    const rtp::Micros global = *wake - h->clockOffset;
    if (!best || global < *best) best = global, host = name;
  }
  return best;
}

void SessionNetwork::collect() {
  for (auto& [name, h] : hosts_) {
    for (auto& out : h->session.takeOutgoing()) {
      Datagram d{now_, name, std::move(out)};
      sent_.push_back(d);
      if (!drops(d)) inFlight_.emplace(now_ + delay(d), std::move(d));
    }
    for (const auto& e : h->session.takeEvents()) events_.push_back({now_, name, e});
  }
}

void SessionNetwork::deliver(const Datagram& d) {
  const auto host = hosts_.find(d.out.to.host);
  if (host == hosts_.end()) return;  // nobody listens there
  const std::uint16_t port = d.out.to.port;
  if (port != kControlPort && port != kControlPort + 1) return;
  // Through the wire format and back, as a socket would carry it.
  rtp::SessionPacket packet;
  EXPECT_EQ(rtp::decodeSessionPacket(rtp::encodeSessionPacket(d.out.packet), packet), rtp::DecodeError::None);
  const auto fromPort = static_cast<std::uint16_t>(kControlPort + (d.out.from == rtp::SessionPort::Data ? 1 : 0));
  const auto toPort = port == kControlPort ? rtp::SessionPort::Control : rtp::SessionPort::Data;
  host->second->session.receive(toPort, {d.fromHost, fromPort}, packet, localTime(host->first));
}

std::vector<rtp::Micros> SessionNetwork::sendTimes(const std::string& host,
                                                   std::function<bool(const rtp::SessionPacket&)> which) const {
  std::vector<rtp::Micros> times;
  for (const auto& d : sent_)
    if (d.fromHost == host && which(d.out.packet)) times.push_back(d.sentAt);
  return times;
}

std::optional<rtp::Micros> SessionNetwork::firstEvent(const std::string& host, rtp::SessionEventKind kind,
                                                      rtp::Micros after) const {
  for (const auto& e : events_)
    if (e.host == host && e.event.kind == kind && e.at > after) return e.at;
  return std::nullopt;
}

bool isInvitation(const rtp::SessionPacket& p) {
  const auto* e = std::get_if<rtp::Exchange>(&p);
  return e && e->command == rtp::ExchangeCommand::Invitation;
}

bool isClockSync(const rtp::SessionPacket& p, int count) {
  const auto* c = std::get_if<rtp::ClockSync>(&p);
  return c && c->count == count;
}

}  // namespace strandlink::testing
