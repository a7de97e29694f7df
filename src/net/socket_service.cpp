// Stub: being written.
#include "net/socket_service.h"

#include <QSocketNotifier>
namespace strandlink::net {
int WSAStartup() { return 0; }
int WSACleanup() { return 0; }
int WSAGetLastError() { return 0; }
int createUdpSocket() { return -1; }
int bindSocket(int, const sockaddr_in&) { return -1; }
int sendTo(int, const void*, int, const sockaddr_in&) { return -1; }
int recvFrom(int, void*, int, sockaddr_in&) { return -1; }
int closeSocket(int) { return 0; }
int getHostName(char*, int) { return -1; }
std::uint32_t inetAddr(const std::string&) { return kInaddrNone; }
std::uint32_t getHostByName(const std::string&) { return kInaddrNone; }
sockaddr_in makeAddress(std::uint32_t, std::uint16_t) { return {}; }
ReadNotifier::ReadNotifier(int, std::function<void()>) {}
ReadNotifier::~ReadNotifier() = default;
}
