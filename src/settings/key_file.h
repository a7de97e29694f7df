// The shared key of a classic link, read from a file that only its owner may
// read: the file's bytes are the key, as they are (make one with
// head -c 32 /dev/urandom > FILE; chmod 600 FILE).
#pragma once

#include <QString>

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
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
  BadLine,       // a users file's line that is no "user:password"
};

struct KeyFile {
  std::vector<std::uint8_t> key;  // empty unless error is None
  KeyFileError error = KeyFileError::None;
  int errnoValue = 0;  // for Unreadable
  int line = 0;        // for BadLine, from 1
};

// least: the fewest bytes a key of its kind may have.
[[nodiscard]] KeyFile readKeyFile(const QString& path, std::size_t least = kMinKeyBytes);

// A secret or a password typed into a file: its text without the line break an
// editor puts after it, under the same rule of who may read it.
[[nodiscard]] KeyFile readSecretFile(const QString& path);

// A host's users: lines "user:password" (blank lines and lines that begin with
// "#" aside), under the same rule.
struct UsersFile : KeyFile {
  std::map<std::string, std::string> users;
};
[[nodiscard]] UsersFile readUsersFile(const QString& path);

}  // namespace strandlink::settings
