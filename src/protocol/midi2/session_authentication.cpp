// The session's proofs: a host's questions and its check of the answers, and a
// client's answer when its host asks.
#include "protocol/midi2/session.h"

#include <algorithm>
#include <utility>

namespace strandlink::protocol::midi2 {

// A fresh nonce for each question; a client that keeps guessing is answered
// for a while, then turned away.
void Session::challenge(const Endpoint& from, Identity who, int attempts, Micros now) {
  constexpr Micros kForgotten = 30 * kSecond;
  auto at = std::ranges::find_if(challenges_, [&](const Challenge& c) { return c.asked != 0 && c.from == from; });
  if (at == challenges_.end())
    at = std::ranges::min_element(challenges_, [&](const Challenge& a, const Challenge& b) {
      return (now - a.asked > kForgotten ? 0 : a.asked) < (now - b.asked > kForgotten ? 0 : b.asked);
    });
  if (attempts == 0 && !mayAnswerStranger(from, now)) return;
  *at = {from, std::move(who), freshNonce(), attempts, now == 0 ? 1 : now};
  const bool withUser = asksUser();
  std::vector<std::uint8_t>& out = to(from);
  const std::size_t header = out.size();
  appendInvitation(out, withUser ? CommandCode::UserAuthRequired : CommandCode::AuthRequired, config_.us,
                   attempts > 0 ? 0x01 : 0x00);
  out.insert(out.begin() + std::ptrdiff_t(header + 4), at->nonce.begin(), at->nonce.end());
  out[header + 1] = std::uint8_t(out[header + 1] + 4);
}

void Session::takeProof(const Endpoint& from, const Command& command, Micros now) {
  const bool withUser = command.code == std::uint8_t(CommandCode::InvitationWithUserAuth);
  const auto at = std::ranges::find_if(challenges_, [&](const Challenge& c) { return c.asked != 0 && c.from == from; });
  if (!asksProof() || at == challenges_.end() || withUser != asksUser()) {
    ++counters_.refusedInvitations;
    if (mayAnswerStranger(from, now))
      appendBye(to(from),
                !asksProof() || at != challenges_.end() ? ByeReason::NoMatchingAuth : ByeReason::AuthWithoutChallenge);
    return;
  }
  if (command.words() < 8) {
    ++counters_.malformed;
    return;
  }
  const std::string user = withUser ? readText(command, 8) : std::string();
  const std::optional<std::string> password = passwordOf(user);
  Challenge asked = std::exchange(*at, Challenge{});
  // An early proof is not judged: it gets the reply a wrong one would.
  ProofFailures* record = failuresOf(from.address, now);
  const bool early = record && now < record->notBefore;
  if (!early && password && sameDigest(command.payload.first(32), authenticationDigest(asked.nonce, user, *password))) {
    if (record) *record = ProofFailures{};
    return admit(from, std::move(asked.identity), now);
  }
  if (!early) record = &failed(from.address, now);
  SessionEvent e = eventAbout(EventKind::ProofRefused, from, asked.identity.name);
  e.early = early;
  e.wait = record->notBefore - now;
  event(std::move(e));
  if (asked.attempts + 1 >= 3) {
    ++counters_.refusedInvitations;
    appendBye(to(from), withUser && !password ? ByeReason::UserNotFound : ByeReason::AuthFailed);
    return;
  }
  challenge(from, std::move(asked.identity), asked.attempts + 1, now);
}

// What an address failed lately; a record quiet for a while is dropped.
Session::ProofFailures* Session::failuresOf(std::uint32_t address, Micros now) {
  ProofFailures* found = nullptr;
  for (ProofFailures& f : failures_) {
    if (f.last != 0 && now - f.last >= kProofFailuresForgotten) f = ProofFailures{};
    if (f.last != 0 && f.address == address) found = &f;
  }
  return found;
}

// With every address's record in use the oldest goes.
Session::ProofFailures& Session::failed(std::uint32_t address, Micros now) {
  ProofFailures* f = failuresOf(address, now);
  if (!f) {
    f = &*std::ranges::min_element(failures_, {}, &ProofFailures::last);
    *f = ProofFailures{address};
  }
  ++f->count;
  f->last = now == 0 ? 1 : now;
  f->notBefore = now + std::min(kLongestProofDelay, kFirstProofDelay << std::min(f->count - 1, 5));
  return *f;
}

// A host with users asks for a user and that user's password; one with a secret
// (and a user: that user's name with the secret as its password), for the secret.
bool Session::asksUser() const { return !config_.users.empty() || !config_.user.empty(); }

bool Session::asksProof() const { return !config_.users.empty() || !config_.secret.empty(); }

std::optional<std::string> Session::passwordOf(const std::string& user) const {
  if (config_.users.empty()) return user == config_.user ? std::optional(config_.secret) : std::nullopt;
  const auto found = config_.users.find(user);
  return found == config_.users.end() ? std::nullopt : std::optional(found->second);
}

// Once: a host that asks again after our digest has refused it.
void Session::prove(const Command& command, Micros now) {
  Slot& s = slots_[0];
  const bool withUser = command.code == std::uint8_t(CommandCode::UserAuthRequired);
  const bool able = !config_.secret.empty() && withUser == !config_.user.empty();
  if (!able || (command.byte3 != 0 && s.proved) || command.words() < 4) {
    appendBye(to(s.peer), ByeReason::InvitationCanceled);
    return refused(able ? Refusal::AuthenticationFailed : Refusal::WantsAuthentication, now);
  }
  Nonce nonce{};
  std::copy_n(command.payload.begin(), nonce.size(), nonce.begin());
  const Digest digest = authenticationDigest(nonce, withUser ? config_.user : "", config_.secret);
  std::vector<std::uint32_t> words;
  std::vector<std::uint8_t> bytes(digest.begin(), digest.end());
  if (withUser) bytes.insert(bytes.end(), config_.user.begin(), config_.user.end());
  bytes.resize((bytes.size() + 3) / 4 * 4, 0);
  for (std::size_t i = 0; i < bytes.size(); i += 4)
    words.push_back(std::uint32_t(bytes[i]) << 24 | std::uint32_t(bytes[i + 1]) << 16 |
                    std::uint32_t(bytes[i + 2]) << 8 | bytes[i + 3]);
  appendCommand(to(s.peer), withUser ? CommandCode::InvitationWithUserAuth : CommandCode::InvitationWithAuth, 0, 0,
                words);
  s.proved = true;
  s.deadline = now + kWatchdogMicros;
}

}  // namespace strandlink::protocol::midi2
