// Who may invite this side into a session: anyone, only the inviters listed, or
// whoever the user lets in when asked. An inviter is judged by its address and by
// the session name it gives; a name is the inviter's own word, so only an address
// keeps out a stranger who calls itself by a listed name. The loop's thread only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "protocol/verdict.h"
#include "settings/preferences.h"

namespace strandlink::protocol {

// One inviter as the network gave it: its IPv4 address in text and its session name.
struct Inviter {
  std::string host;
  std::string name;
  friend auto operator<=>(const Inviter&, const Inviter&) = default;
};

// The user's answer to a question about an inviter.
enum class InviterAnswer { AllowOnce, AllowAlways, Refuse };

class Admission {
 public:
  // Questions waiting for the user at once; an unknown inviter past these is refused.
  static constexpr std::size_t kMostAsked = 8;

  // The rule of the next sessions; addresses and names let in. Forgets every
  // answer given for one run only, and every open question.
  void configure(settings::Admission mode, std::set<std::string> addresses, std::set<std::string> names);
  settings::Admission mode() const { return mode_; }

  Verdict judge(const Inviter& inviter) const;
  // An inviter judged Ask is kept waiting (its retries go unanswered) until the
  // user answers: true when it is a new question, to be put to the user.
  bool ask(const Inviter& inviter);
  void answer(const Inviter& inviter, InviterAnswer answer);
  const std::vector<Inviter>& questions() const { return questions_; }
  bool refusedByUser(const Inviter& inviter) const { return refused_.contains(inviter); }

 private:
  bool listed(const Inviter& inviter) const { return addresses_.contains(inviter.host) || names_.contains(inviter.name); }

  settings::Admission mode_ = settings::Admission::Anyone;
  std::set<std::string> addresses_;
  std::set<std::string> names_;
  std::set<Inviter> refused_;  // for this run
  std::vector<Inviter> questions_;
};

}  // namespace strandlink::protocol
