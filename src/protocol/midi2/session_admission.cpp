// A host's admission of its clients: who may invite it at all, judged by address
// and name before any proof. A client the user is asked about is told that its
// invitation is pending, as a Windows host that asks for approval does; the
// client then waits (Windows up to 2 minutes) for the answer.
#include "protocol/midi2/session.h"

#include <algorithm>
#include <utility>

namespace strandlink::protocol::midi2 {

// Without a judge every client may try.
Verdict Session::judge(const Endpoint& from, const std::string& name) const {
  return config_.admits ? config_.admits(from, name) : Verdict::Admit;
}

// Whether the client may go on now. One refused is told with a Bye, each time it
// asks (rate-limited like every answer to a stranger); one asked about waits.
bool Session::admitted(const Endpoint& from, const Identity& who, Micros now) {
  const Verdict verdict = judge(from, who.name);
  const auto waiting = std::ranges::find_if(waiters_, [&](const Waiter& w) { return w.since != 0 && w.from == from; });
  if (verdict != Verdict::Ask && waiting != waiters_.end()) *waiting = Waiter{};
  if (verdict == Verdict::Admit) return true;
  if (verdict == Verdict::Refuse) {
    refuseInviter(from, who.name, now);
    return false;
  }
  if (waiting == waiters_.end()) {
    const auto free = std::ranges::find_if(waiters_, [](const Waiter& w) { return w.since == 0; });
    if (free == waiters_.end()) {
      refuseInviter(from, who.name, now);
      return false;
    }
    *free = Waiter{from, who, now == 0 ? 1 : now};
    event(eventAbout(EventKind::InviterWaits, from, who.name));
  }
  if (mayAnswerStranger(from, now)) appendInvitation(to(from), CommandCode::Pending, config_.us);
  return false;
}

void Session::refuseInviter(const Endpoint& from, const std::string& name, Micros now) {
  ++counters_.refusedInvitations;
  if (mayAnswerStranger(from, now)) appendBye(to(from), ByeReason::Rejected);
  event(eventAbout(EventKind::InviterRefused, from, name));
}

// A waiter the user let in is invited in now; one refused is told; one left
// waiting past a client's patience is forgotten (it has gone).
void Session::reconsider(Micros now) {
  if (!isHost()) return;
  for (Waiter& w : waiters_) {
    if (w.since == 0) continue;
    const Verdict verdict = judge(w.from, w.identity.name);
    if (verdict == Verdict::Ask && now - w.since < kPendingMicros) continue;
    Waiter was = std::exchange(w, Waiter{});
    if (verdict == Verdict::Admit) letIn(was.from, std::move(was.identity), now);
    else if (verdict == Verdict::Refuse) refuseInviter(was.from, was.identity.name, now);
  }
}

}  // namespace strandlink::protocol::midi2
