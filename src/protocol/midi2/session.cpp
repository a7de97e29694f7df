#include "protocol/midi2/session.h"

#include <algorithm>
#include <cctype>
#include <utility>

namespace strandlink::protocol::midi2 {

namespace {

// A peer is known by its name and instance id, in any case, never by its port.
bool sameText(const std::string& a, const std::string& b) {
  return std::ranges::equal(a, b, [](unsigned char x, unsigned char y) { return std::tolower(x) == std::tolower(y); });
}
bool sameIdentity(const Identity& a, const Identity& b) {
  return sameText(a.name, b.name) && sameText(a.instanceId, b.instanceId);
}

// Commands that only make sense inside a session.
bool needsSession(std::uint8_t code) {
  switch (CommandCode(code)) {
    case CommandCode::UmpData:
    case CommandCode::RetransmitRequest:
    case CommandCode::RetransmitError:
    case CommandCode::SessionReset:
    case CommandCode::SessionResetReply: return true;
    default: return false;
  }
}

bool knownCode(std::uint8_t code) {
  switch (CommandCode(code)) {
    case CommandCode::Invitation:
    case CommandCode::InvitationWithAuth:
    case CommandCode::InvitationWithUserAuth:
    case CommandCode::Accepted:
    case CommandCode::Pending:
    case CommandCode::AuthRequired:
    case CommandCode::UserAuthRequired:
    case CommandCode::Ping:
    case CommandCode::PingReply:
    case CommandCode::Nak:
    case CommandCode::OtherNak:
    case CommandCode::Bye:
    case CommandCode::ByeReply: return true;
    default: return needsSession(code);
  }
}

}  // namespace

Session::Session(SessionConfig config) : config_(std::move(config)) {}

void Session::start(Micros now) {
  if (!isHost()) invite(now);
}

void Session::stop() {
  for (Slot& s : slots_) {
    if (s.state == State::Established) appendBye(to(s.peer), ByeReason::UserTerminated);
    else if (s.state == State::Inviting || s.state == State::Pending)
      appendBye(to(s.peer), ByeReason::InvitationCanceled);
    s = Slot{};
  }
}

void Session::receive(const Endpoint& from, std::span<const std::uint8_t> datagram, Micros now) {
  const DatagramError error = readDatagram(datagram, commands_);
  if (error == DatagramError::NoSignature) return;
  if (error != DatagramError::None) ++counters_.malformed;
  if (const auto slot = slotOf(from)) slots_[*slot].heard = true;
  askedThisDatagram_ = false;
  newestData_ = nullptr;
  for (const Command& command : commands_)
    if (CommandCode(command.code) == CommandCode::UmpData) newestData_ = &command;
  for (const Command& command : commands_) {
    if (!isHost() && from != *config_.host) {
      ++counters_.unexpected;
      break;
    }
    if (needsSession(command.code) && !slotOf(from)) {
      notInSession(from, now);
      continue;
    }
    take(from, command, now);
  }
  // The copies in a datagram come before what is new: a gap still open after it
  // is filled by a request or not at all.
  if (const auto slot = slotOf(from); slot && !slots_[*slot].in.resends) giveUp(*slot, slots_[*slot].in.expected);
}

void Session::take(const Endpoint& from, const Command& command, Micros now) {
  switch (CommandCode(command.code)) {
    case CommandCode::Ping:
      // Answered outside a session too: a peer may check that we are here.
      if (command.words() < 1) ++counters_.malformed;
      else appendPing(to(from), CommandCode::PingReply, command.word(0));
      return;
    case CommandCode::Bye: appendCommand(to(from), CommandCode::ByeReply, 0, 0); break;
    case CommandCode::ByeReply: return;
    case CommandCode::Nak:
    case CommandCode::OtherNak:
      ++counters_.naks;
      // A peer that cannot send again is not asked again.
      if (const auto slot = slotOf(from);
          slot && command.words() >= 1 && command.word(0) >> 24 == std::uint8_t(CommandCode::RetransmitRequest)) {
        slots_[*slot].in.resends = false;
        giveUp(*slot, slots_[*slot].in.expected);
      }
      return;
    default: break;
  }
  if (isHost()) takeAsHost(from, command, now);
  else takeAsClient(command, now);
}

void Session::takeAsHost(const Endpoint& from, const Command& command, Micros now) {
  const auto slot = slotOf(from);
  switch (CommandCode(command.code)) {
    case CommandCode::Invitation: return takeInvitation(from, command, now);
    case CommandCode::InvitationWithAuth:
    case CommandCode::InvitationWithUserAuth: return takeProof(from, command, now);
    case CommandCode::Bye:
      if (slot) end(*slot, rtp::DownReason::PeerLeft, now);
      return;
    default: break;
  }
  if (slot) takeSessionCommand(*slot, command, now);
  else ++counters_.unexpected;
}

void Session::takeAsClient(const Command& command, Micros now) {
  Slot& s = slots_[0];
  const bool inviting = s.state == State::Inviting || s.state == State::Pending;
  switch (CommandCode(command.code)) {
    case CommandCode::Accepted:
      if (!inviting) return;
      if (!readIdentity(command, s.identity)) {
        ++counters_.malformed;
        return;
      }
      s.state = State::Established;
      s.in = Incoming{};
      s.attempts = 0;
      s.heard = false;
      s.deadline = now + kWatchdogMicros;
      event(eventOf(EventKind::Up));
      return;
    case CommandCode::Pending:
      // A host that asks a person first: wait for it, up to a limit, without asking again.
      if (s.state != State::Inviting) return;
      s.state = State::Pending;
      s.deadline = now + kPendingMicros;
      return;
    case CommandCode::AuthRequired:
    case CommandCode::UserAuthRequired:
      if (inviting) prove(command, now);
      return;
    case CommandCode::Bye:
      if (s.state == State::Established) return end(0, rtp::DownReason::PeerLeft, now);
      if (inviting)
        refused(command.byte2 == std::uint8_t(ByeReason::TooManySessions) ? Refusal::Busy : Refusal::Declined, now);
      return;
    default: break;
  }
  if (s.state == State::Established) takeSessionCommand(0, command, now);
  else ++counters_.unexpected;
}

void Session::takeInvitation(const Endpoint& from, const Command& command, Micros now) {
  Identity who;
  if (!readIdentity(command, who)) {
    ++counters_.malformed;
    if (mayAnswerStranger(from, now)) appendNak(to(from), NakReason::Malformed, command.header());
    return;
  }
  const auto refuse = [&](ByeReason reason) {
    ++counters_.refusedInvitations;
    if (mayAnswerStranger(from, now)) appendBye(to(from), reason);
  };
  // A peer we could not tell from another after a restart is turned away.
  if (who.name.empty() || who.instanceId.empty()) return refuse(ByeReason::Rejected);
  const std::optional<std::size_t> slot = slotOf(from);
  if (slot && sameIdentity(slots_[*slot].identity, who)) {
    appendInvitation(to(from), CommandCode::Accepted, config_.us);  // our reply was lost
    return;
  }
  if (admitted(from, who, now)) letIn(from, std::move(who), now);
}

// Past the host's admission: the proof it asks for, or the session.
void Session::letIn(const Endpoint& from, Identity who, Micros now) {
  if (asksProof()) return challenge(from, std::move(who), 0, now);
  admit(from, std::move(who), now);
}

void Session::admit(const Endpoint& from, Identity who, Micros now) {
  std::optional<std::size_t> slot = slotOf(from);
  // The same peer from a new port (restarted) replaces its old session at once.
  if (!slot) {
    for (std::size_t i = 0; i < slots_.size(); ++i)
      if (slots_[i].state == State::Established && sameIdentity(slots_[i].identity, who)) slot = i;
  }
  if (slot) end(*slot, rtp::DownReason::PeerRestarted, now);
  else {
    const auto free = std::ranges::find_if(slots_, [](const Slot& s) { return s.state == State::Idle; });
    if (free == slots_.end()) {
      ++counters_.refusedInvitations;
      if (mayAnswerStranger(from, now)) appendBye(to(from), ByeReason::TooManySessions);
      return;
    }
    slot = std::size_t(free - slots_.begin());
  }
  Slot& s = slots_[*slot];
  s = Slot{};
  s.state = State::Established;
  s.peer = from;
  s.identity = std::move(who);
  s.deadline = now + kWatchdogMicros;
  appendInvitation(to(from), CommandCode::Accepted, config_.us);
  event(eventOf(EventKind::Up, *slot));
}

void Session::takeSessionCommand(std::size_t slot, const Command& command, Micros now) {
  Slot& s = slots_[slot];
  switch (CommandCode(command.code)) {
    case CommandCode::UmpData: return takeData(slot, command, now);
    case CommandCode::RetransmitRequest:
      if (command.words() < 1) {
        ++counters_.malformed;
        return;
      }
      {
        ++counters_.requests;
        SessionEvent e = eventOf(EventKind::Resend, slot);
        e.sequence = command.data();
        e.count = std::uint16_t(command.word(0) >> 16);
        event(std::move(e));
        return;
      }
    case CommandCode::RetransmitError: return takeRetransmitError(slot, command);
    case CommandCode::SessionReset:
      // What waited goes on without its gap; the numbering starts anew.
      giveUp(slot, s.in.expected);
      s.in.renumber();
      appendCommand(to(s.peer), CommandCode::SessionResetReply, 0, 0);
      event(eventOf(EventKind::ResetSent, slot));
      return;
    case CommandCode::SessionResetReply: return;
    case CommandCode::PingReply:
      // Only the reply to our latest ping: one to none we sent times nothing.
      if (s.pingSent != 0 && command.words() >= 1 && command.word(0) == s.pingId) {
        s.attempts = 0;
        s.roundTrip = now - std::exchange(s.pingSent, 0);
      }
      return;
    default: break;
  }
  if (knownCode(command.code)) ++counters_.unexpected;
  else appendNak(to(s.peer), NakReason::NotSupported, command.header());
}

// Data from a peer with no session: it is told so, at most once a second.
void Session::notInSession(const Endpoint& from, Micros now) {
  ++counters_.unexpected;
  if (mayAnswerStranger(from, now)) appendBye(to(from), ByeReason::NotEstablished);
}

void Session::invite(Micros now) {
  Slot& s = slots_[0];
  if (s.state != State::Inviting) s.attempts = 0;
  s.state = State::Inviting;
  s.peer = *config_.host;
  ++s.attempts;
  s.deadline = now + kWatchdogMicros;
  s.proved = false;
  // What we can prove, should the host ask.
  const std::uint8_t able = config_.secret.empty() ? 0 : config_.user.empty() ? 0x01 : 0x02;
  appendInvitation(to(s.peer), CommandCode::Invitation, config_.us, able);
}

void Session::refused(Refusal refusal, Micros now) {
  ++counters_.refusedInvitations;
  Slot& s = slots_[0];
  s.state = State::Waiting;
  s.deadline = now + kReinviteMicros;
  SessionEvent e = eventOf(EventKind::Refused);
  e.refusal = refusal;
  event(std::move(e));
}

void Session::end(std::size_t slot, rtp::DownReason reason, Micros now) {
  giveUp(slot, slots_[slot].in.expected);  // what waited is played before the end
  SessionEvent e = eventOf(EventKind::Down, slot);
  e.reason = reason;
  e.peerName = slots_[slot].identity.name;
  event(std::move(e));
  Slot& s = slots_[slot];
  if (isHost()) {
    s = Slot{};
    return;
  }
  s.state = State::Waiting;
  s.deadline = now + kReinviteMicros;
}

void Session::tick(Micros now) {
  reconsider(now);
  for (std::size_t i = 0; i < slots_.size(); ++i) {
    Slot& s = slots_[i];
    if (s.state == State::Established && s.in.askAgainAt != 0 && now >= s.in.askAgainAt) askAgain(s, now);
    if (s.state == State::Established) giveUpExpired(i, now);
    if (s.state == State::Idle || now < s.deadline) continue;
    switch (s.state) {
      case State::Inviting:
        if (s.attempts < kInvitationAttempts) invite(now);
        else {
          appendBye(to(s.peer), ByeReason::InvitationCanceled);
          refused(Refusal::NoAnswer, now);
        }
        break;
      case State::Pending:
        appendBye(to(s.peer), ByeReason::InvitationCanceled);
        refused(Refusal::NoAnswer, now);
        break;
      case State::Waiting: invite(now); break;
      case State::Established: watch(i, now); break;
      case State::Idle: break;
    }
  }
}

// Five looks in a row with nothing heard end the session. Each look pings, heard
// or not, so that the figures have a round trip while MIDI flows as well.
void Session::watch(std::size_t slot, Micros now) {
  Slot& s = slots_[slot];
  s.deadline = now + kWatchdogMicros;
  if (std::exchange(s.heard, false)) s.attempts = 0;
  else if (s.attempts >= kPingsUnanswered) {
    appendBye(to(s.peer), ByeReason::Timeout);
    return end(slot, rtp::DownReason::TimedOut, now);
  } else ++s.attempts;
  s.pingSent = now;
  appendPing(to(s.peer), CommandCode::Ping, ++s.pingId);
}

}  // namespace strandlink::protocol::midi2
