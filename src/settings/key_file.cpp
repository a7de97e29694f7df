#include "settings/key_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace strandlink::settings {

namespace {

KeyFile failed(KeyFileError error, int errnoValue = 0) { return {{}, error, errnoValue}; }

}  // namespace

KeyFile readKeyFile(const QString& path, std::size_t least) {
  const QByteArray name = path.toLocal8Bit();
  const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return failed(errno == ENOENT ? KeyFileError::Missing : KeyFileError::Unreadable, errno);
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  struct stat info {};
  if (::fstat(fd, &info) != 0) return failed(KeyFileError::Unreadable, errno);
  if (!S_ISREG(info.st_mode)) return failed(KeyFileError::Unreadable, EINVAL);
  // As ssh does with its keys: a key others can read is no secret any more.
  if ((info.st_mode & (S_IRWXG | S_IRWXO)) != 0) return failed(KeyFileError::OpenToOthers);
  std::vector<std::uint8_t> key(kMaxKeyBytes + 1);
  std::size_t got = 0;
  while (got < key.size()) {
    const ssize_t n = ::read(fd, key.data() + got, key.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return failed(KeyFileError::Unreadable, errno);
    if (n == 0) break;
    got += std::size_t(n);
  }
  if (got < least) return failed(KeyFileError::TooShort);
  if (got > kMaxKeyBytes) return failed(KeyFileError::TooLong);
  key.resize(got);
  return {std::move(key), KeyFileError::None, 0};
}

KeyFile readSecretFile(const QString& path) {
  KeyFile read = readKeyFile(path, 1);
  while (!read.key.empty() && (read.key.back() == '\n' || read.key.back() == '\r')) read.key.pop_back();
  if (read.error == KeyFileError::None && read.key.empty()) return failed(KeyFileError::TooShort);
  return read;
}

UsersFile readUsersFile(const QString& path) {
  UsersFile users;
  static_cast<KeyFile&>(users) = readKeyFile(path, 1);
  const std::string text(users.key.begin(), users.key.end());
  users.key.clear();
  std::size_t start = 0;
  for (int line = 1; users.error == KeyFileError::None && start < text.size(); ++line) {
    const std::size_t end = std::min(text.find('\n', start), text.size());
    std::string entry = text.substr(start, end - start);
    start = end + 1;
    if (!entry.empty() && entry.back() == '\r') entry.pop_back();
    if (entry.empty() || entry.front() == '#') continue;
    const std::size_t colon = entry.find(':');
    if (colon == 0 || colon == std::string::npos || colon + 1 == entry.size()) {
      users.error = KeyFileError::BadLine;
      users.line = line;
    } else {
      users.users[entry.substr(0, colon)] = entry.substr(colon + 1);
    }
  }
  if (users.error == KeyFileError::None && users.users.empty()) users.error = KeyFileError::TooShort;
  if (users.error != KeyFileError::None) users.users.clear();
  return users;
}

}  // namespace strandlink::settings
