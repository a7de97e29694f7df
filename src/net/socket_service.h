// The socket service: IPv4 UDP on POSIX sockets, shaped like the calls the bridge
// makes. A failing call returns -1 (or INADDR_NONE) and leaves its error, already
// turned into the socket service's error number (see wsksock.h), for
// WSAGetLastError() on the same thread.
#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class QSocketNotifier;

namespace strandlink::net {

inline constexpr std::uint32_t kInaddrNone = 0xFFFFFFFFu;

// Nothing to start on Linux; kept so start-up and exit keep their steps. Return 0.
int WSAStartup();
int WSACleanup();

// The error number of this thread's last failed call (0 when none failed).
int WSAGetLastError();

// A non-blocking, close-on-exec UDP socket; its descriptor, or -1.
int createUdpSocket();
int bindSocket(int fd, const sockaddr_in& local);
// Sends one datagram; the byte count, or -1.
int sendTo(int fd, const void* bytes, int length, const sockaddr_in& to);
// Reads one datagram of at most `length` bytes into `buffer`; the byte count, or -1.
// A longer datagram is consumed and fails with 10040 (message too long).
int recvFrom(int fd, void* buffer, int length, sockaddr_in& from);
int closeSocket(int fd);

// This computer's host name into buffer (NUL-terminated); 0, or -1.
int getHostName(char* buffer, int length);
// inet_addr with its short and octal forms; kInaddrNone when the text does not parse.
std::uint32_t inetAddr(const std::string& text);
// The first IPv4 address of a host name in network byte order, or kInaddrNone.
std::uint32_t getHostByName(const std::string& name);

// An IPv4 socket address (network byte order inside).
sockaddr_in makeAddress(std::uint32_t addressNetworkOrder, std::uint16_t port);

// Calls onReadable on the thread that made it (the window's) whenever fd has a
// datagram or an error waiting; the handler reads one datagram per call and is
// called again while more wait.
class ReadNotifier {
 public:
  ReadNotifier(int fd, std::function<void()> onReadable);
  ~ReadNotifier();
  ReadNotifier(const ReadNotifier&) = delete;
  ReadNotifier& operator=(const ReadNotifier&) = delete;

 private:
  std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace strandlink::net
