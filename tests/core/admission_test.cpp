// Who may invite: the rule, the list, and the questions put to the user.
#include <gtest/gtest.h>

#include "protocol/admission.h"

namespace strandlink::protocol {
namespace {

using settings::Admission::Anyone;
using settings::Admission::Ask;
using settings::Admission::Listed;

TEST(Admission, ListedAddressesAndNamesComeInAndAnswersHoldForTheRun) {
  Admission a;
  EXPECT_EQ(a.judge({"10.0.0.9", "Stranger"}), Verdict::Admit);  // anyone, as before
  a.configure(Listed, {"10.0.0.2"}, {"iPad"});
  EXPECT_EQ(a.judge({"10.0.0.2", "Whatever"}), Verdict::Admit);
  EXPECT_EQ(a.judge({"10.0.0.7", "iPad"}), Verdict::Admit);
  EXPECT_EQ(a.judge({"10.0.0.7", "iPad 2"}), Verdict::Refuse);
  EXPECT_FALSE(a.ask({"10.0.0.7", "iPad 2"}));  // listed never asks

  a.configure(Ask, {}, {});
  const Inviter mac{"10.0.0.3", "Mac"};
  EXPECT_EQ(a.judge(mac), Verdict::Ask);
  EXPECT_TRUE(a.ask(mac));
  EXPECT_FALSE(a.ask(mac));  // its retries are the same question
  a.answer(mac, InviterAnswer::Refuse);
  EXPECT_EQ(a.judge(mac), Verdict::Refuse);
  EXPECT_TRUE(a.refusedByUser(mac));
  EXPECT_EQ(a.judge({"10.0.0.3", "Mac again"}), Verdict::Ask);  // a name is no proof either way
  a.answer({"10.0.0.3", "Mac again"}, InviterAnswer::AllowOnce);
  EXPECT_EQ(a.judge(mac), Verdict::Admit);  // the address is let in, whatever name it gives
  a.configure(Ask, {}, {});
  EXPECT_EQ(a.judge(mac), Verdict::Ask);  // a new run forgets the answers
}

TEST(Admission, AFloodOfInvitersAsksAFewAndRefusesTheRestUntilOneIsAnswered) {
  Admission a;
  a.configure(Ask, {}, {});
  for (std::size_t i = 0; i < Admission::kMostAsked + 3; ++i)
    EXPECT_EQ(a.ask({"10.0.1." + std::to_string(i), "x"}), i < Admission::kMostAsked) << i;
  EXPECT_EQ(a.questions().size(), Admission::kMostAsked);
  EXPECT_EQ(a.judge({"10.0.1.0", "x"}), Verdict::Ask);  // one asked about still waits
  EXPECT_EQ(a.judge({"10.0.2.1", "y"}), Verdict::Refuse);
  a.answer(a.questions().front(), InviterAnswer::Refuse);
  EXPECT_EQ(a.judge({"10.0.2.1", "y"}), Verdict::Ask);
  EXPECT_FALSE(a.refusedByUser({"10.0.1.9", "x"}));
  a.configure(Anyone, {}, {});
  EXPECT_TRUE(a.questions().empty());
}

}  // namespace
}  // namespace strandlink::protocol
