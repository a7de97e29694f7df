// The digests that prove a secret without sending it: SHA-256 over the host's
// nonce and the secret (or the user's name and password), compared in constant
// time.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

namespace strandlink::protocol::midi2 {

using Nonce = std::array<std::uint8_t, 16>;
using Digest = std::array<std::uint8_t, 32>;

// The shared secret's; with a user, the name's and the password's (secret).
Digest authenticationDigest(const Nonce& nonce, std::string_view user, std::string_view secret);
bool sameDigest(std::span<const std::uint8_t> a, const Digest& b);
Nonce freshNonce();

}  // namespace strandlink::protocol::midi2
