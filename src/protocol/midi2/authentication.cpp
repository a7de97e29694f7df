#include "protocol/midi2/authentication.h"

#include <sodium.h>

namespace strandlink::protocol::midi2 {

namespace {

// Once, before the first use; thread-safe and idempotent in libsodium itself.
void ready() {
  static const bool once = sodium_init() >= 0;
  static_cast<void>(once);
}

}  // namespace

Digest authenticationDigest(const Nonce& nonce, std::string_view user, std::string_view secret) {
  ready();
  crypto_hash_sha256_state state;
  crypto_hash_sha256_init(&state);
  crypto_hash_sha256_update(&state, nonce.data(), nonce.size());
  crypto_hash_sha256_update(&state, reinterpret_cast<const unsigned char*>(user.data()), user.size());
  crypto_hash_sha256_update(&state, reinterpret_cast<const unsigned char*>(secret.data()), secret.size());
  Digest digest{};
  crypto_hash_sha256_final(&state, digest.data());
  return digest;
}

bool sameDigest(std::span<const std::uint8_t> a, const Digest& b) {
  return a.size() >= b.size() && sodium_memcmp(a.data(), b.data(), b.size()) == 0;
}

Nonce freshNonce() {
  ready();
  Nonce nonce{};
  randombytes_buf(nonce.data(), nonce.size());
  return nonce;
}

}  // namespace strandlink::protocol::midi2
