#include "net/socket_service.h"

#include <QSocketNotifier>

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "net/wsksock.h"

namespace strandlink::net {

namespace {

// Per thread, like the platform's last error: the MIDI thread's failed send must
// not overwrite what the window's thread is about to read.
thread_local int lastError = 0;

int failWith(int code) {
  lastError = code;
  return -1;
}

int failFromErrno() {
  const int code = socketErrorFromErrno(errno);
  // An errno without a row still has to read as a failure.
  return failWith(code != 0 ? code : 10022);
}

bool hasNul(const std::string& text) { return text.find('\0') != std::string::npos; }

// A text of digits and dots that is no address cannot be a host name either (no
// top-level domain is numeric), so it fails at once instead of waiting for a
// name server that may be slow or unreachable.
bool onlyDigitsAndDots(const std::string& text) {
  for (char c : text) {
    if ((c < '0' || c > '9') && c != '.') return false;
  }
  return true;
}

}  // namespace

int WSAStartup() { return 0; }
int WSACleanup() { return 0; }

int WSAGetLastError() { return lastError; }

int createUdpSocket() {
  const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return failFromErrno();
  return fd;
}

int bindSocket(int fd, const sockaddr_in& local) {
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) return failFromErrno();
  return 0;
}

int sendTo(int fd, const void* bytes, int length, const sockaddr_in& to) {
  if (length < 0) return failWith(10022);
  ssize_t n;
  do {
    n = ::sendto(fd, bytes, static_cast<size_t>(length), MSG_NOSIGNAL,
                 reinterpret_cast<const sockaddr*>(&to), sizeof to);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return failFromErrno();
  return static_cast<int>(n);
}

int recvFrom(int fd, void* buffer, int length, sockaddr_in& from) {
  if (length < 0) return failWith(10022);
  socklen_t fromLength = sizeof from;
  ssize_t n;
  do {
    // MSG_TRUNC makes the kernel report the datagram's full length, so a datagram
    // longer than the buffer is noticed; it is consumed all the same.
    n = ::recvfrom(fd, buffer, static_cast<size_t>(length), MSG_TRUNC,
                   reinterpret_cast<sockaddr*>(&from), &fromLength);
  } while (n < 0 && errno == EINTR);
  if (n < 0) return failFromErrno();
  if (n > length) return failWith(10040);
  return static_cast<int>(n);
}

int closeSocket(int fd) {
  // No retry on EINTR: Linux releases the descriptor even then.
  if (::close(fd) != 0) return failFromErrno();
  return 0;
}

int getHostName(char* buffer, int length) {
  if (buffer == nullptr || length <= 0) return failWith(10014);
  if (::gethostname(buffer, static_cast<size_t>(length)) != 0) {
    buffer[0] = '\0';
    return failFromErrno();
  }
  buffer[length - 1] = '\0';
  return 0;
}

std::uint32_t inetAddr(const std::string& text) {
  if (hasNul(text)) return kInaddrNone;
  return ::inet_addr(text.c_str());
}

std::uint32_t getHostByName(const std::string& name) {
  if (name.empty() || hasNul(name) || onlyDigitsAndDots(name)) {
    lastError = 11001;
    return kInaddrNone;
  }
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* found = nullptr;
  const int rc = ::getaddrinfo(name.c_str(), nullptr, &hints, &found);
  if (rc != 0 || found == nullptr) {
    lastError = rc != 0 ? socketErrorFromLookup(rc) : 11004;
    return kInaddrNone;
  }
  std::uint32_t address = kInaddrNone;
  for (const addrinfo* a = found; a != nullptr; a = a->ai_next) {
    if (a->ai_family == AF_INET && a->ai_addr != nullptr) {
      address = reinterpret_cast<const sockaddr_in*>(a->ai_addr)->sin_addr.s_addr;
      break;
    }
  }
  ::freeaddrinfo(found);
  if (address == kInaddrNone) lastError = 11004;
  return address;
}

sockaddr_in makeAddress(std::uint32_t addressNetworkOrder, std::uint16_t port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = addressNetworkOrder;
  return a;
}

ReadNotifier::ReadNotifier(int fd, std::function<void()> onReadable)
    : notifier_(std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read)) {
  // The notifier is level-triggered: while a datagram waits it fires again after
  // the handler returns, so one read per call drains the queue. Qt guards the
  // emission, so the handler may destroy this notifier (a Stop from inside it).
  QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(),
                   [handler = std::move(onReadable)] { handler(); });
}

ReadNotifier::~ReadNotifier() {
  if (notifier_) notifier_->setEnabled(false);
}

}  // namespace strandlink::net
