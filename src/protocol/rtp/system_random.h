// The system's randomness, for the values a session sends: a seeded generator's
// state would show in the throwaway SSRCs of our refusals and tell the next
// session's SSRC and token.
#pragma once

#include <sys/random.h>

namespace strandlink::protocol::rtp {

template <class T>
T systemRandom() {
  T value{};
  while (::getrandom(&value, sizeof value, 0) != sizeof value) {
  }
  return value;
}

}  // namespace strandlink::protocol::rtp
