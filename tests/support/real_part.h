// A test whose real part is missing (a JACK server, jackd, the rights to raise
// priorities): a skip on a developer's machine, a failure under CI=true, where a
// green run must mean that everything ran. Either way one line says what was
// missing. tests/support/real_part.sh does the same for the shell tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string_view>

namespace strandlink::test {

inline bool underCi() {
  const char* ci = std::getenv("CI");
  return ci != nullptr && (std::string_view(ci) == "true" || std::string_view(ci) == "1");
}

inline constexpr char kNoJackServer[] = "no JACK server runs (scripts/test.sh starts one)";

}  // namespace strandlink::test

// Leaves the test, or its SetUp, when present is false.
#define REQUIRE_REAL_PART(present, missing)                                              \
  do {                                                                                   \
    if (!(present)) {                                                                    \
      if (::strandlink::test::underCi()) GTEST_FAIL() << "missing under CI: " << missing; \
      GTEST_SKIP() << missing;                                                           \
    }                                                                                    \
  } while (false)
