#include "settings/key_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace strandlink::settings {

namespace {

KeyFile failed(KeyFileError error, int errnoValue = 0) { return {{}, error, errnoValue}; }

}  // namespace

KeyFile readKeyFile(const QString& path) {
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
  if (got < kMinKeyBytes) return failed(KeyFileError::TooShort);
  if (got > kMaxKeyBytes) return failed(KeyFileError::TooLong);
  key.resize(got);
  return {std::move(key), KeyFileError::None, 0};
}

}  // namespace strandlink::settings
