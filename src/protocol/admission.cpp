#include "protocol/admission.h"

#include <algorithm>

namespace strandlink::protocol {

void Admission::configure(settings::Admission mode, std::set<std::string> addresses, std::set<std::string> names) {
  mode_ = mode;
  addresses_ = std::move(addresses);
  names_ = std::move(names);
  refused_.clear();
  questions_.clear();
}

// A refusal holds for the inviter under that name from that address: a listed
// address is still let in under another name.
Verdict Admission::judge(const Inviter& inviter) const {
  if (mode_ == settings::Admission::Anyone || listed(inviter)) return Verdict::Admit;
  if (mode_ == settings::Admission::Listed || refused_.contains(inviter)) return Verdict::Refuse;
  const bool waiting = std::ranges::find(questions_, inviter) != questions_.end();
  return waiting || questions_.size() < kMostAsked ? Verdict::Ask : Verdict::Refuse;
}

bool Admission::ask(const Inviter& inviter) {
  if (judge(inviter) != Verdict::Ask || std::ranges::find(questions_, inviter) != questions_.end()) return false;
  questions_.push_back(inviter);
  return true;
}

// Allowing lets the address in, whatever name it gives next: the user saw the
// address, and a name alone proves nothing.
void Admission::answer(const Inviter& inviter, InviterAnswer answer) {
  std::erase(questions_, inviter);
  if (answer == InviterAnswer::Refuse) refused_.insert(inviter);
  else addresses_.insert(inviter.host);
}

}  // namespace strandlink::protocol
