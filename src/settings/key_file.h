// The shared key of a classic link, read from a file that only its owner may
// read: the file's bytes are the key, as they are (make one with
// head -c 32 /dev/urandom > FILE; chmod 600 FILE).
#pragma once

#include <QString>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace strandlink::settings {

inline constexpr std::size_t kMinKeyBytes = 32;
inline constexpr std::size_t kMaxKeyBytes = 4096;

enum class KeyFileError : std::uint8_t {
  None,
  Missing,       // no such file
  Unreadable,    // it could not be opened or read, or is no regular file
  OpenToOthers,  // its group or others may read or write it
  TooShort,      // fewer than kMinKeyBytes
  TooLong,       // more than kMaxKeyBytes: surely not a key
};

struct KeyFile {
  std::vector<std::uint8_t> key;  // empty unless error is None
  KeyFileError error = KeyFileError::None;
  int errnoValue = 0;  // for Unreadable
};

[[nodiscard]] KeyFile readKeyFile(const QString& path);

}  // namespace strandlink::settings
