#include "net/socket_errors.h"

#include <netdb.h>

#include <algorithm>
#include <array>
#include <cerrno>

namespace strandlink::net {

namespace {

struct ErrorRow {
  int code;
  const char* text;
};

// Sorted by number, so a lookup is a binary search. The texts are shown to the
// user exactly as written here.
constexpr std::array kErrorTexts{
    ErrorRow{10004, "Interrupted system call."},
    ErrorRow{10009, "Bad file number."},
    ErrorRow{10013, "Permission Denied."},
    ErrorRow{10014, "Bad Address."},
    ErrorRow{10022, "Invalid Argument."},
    ErrorRow{10024, "Too many open files."},
    ErrorRow{10035, "Operation would block."},
    ErrorRow{10036, "Operation now in progress."},
    ErrorRow{10037, "Operation already in progress."},
    ErrorRow{10038, "Socket operation on nonsocket."},
    ErrorRow{10039, "Destination address required."},
    ErrorRow{10040, "Message too long."},
    ErrorRow{10041, "Protocol wrong type for socket."},
    ErrorRow{10042, "Protocol not available."},
    ErrorRow{10043, "Protocol not supported."},
    ErrorRow{10044, "Socket type not supported."},
    ErrorRow{10045, "Operation not supported on socket."},
    ErrorRow{10046, "Protocol family not supported."},
    ErrorRow{10047, "Address family not supported by protocol family."},
    ErrorRow{10048, "Address already in use."},
    ErrorRow{10049, "Can't assign requested address."},
    ErrorRow{10050, "Network is down."},
    ErrorRow{10051, "Network is unreachable."},
    ErrorRow{10052, "Network dropped connection."},
    ErrorRow{10053, "Software caused connection abort."},
    ErrorRow{10054, "Connection reset by peer."},
    ErrorRow{10055, "No buffer space available."},
    ErrorRow{10056, "Socket is already connected."},
    ErrorRow{10057, "Socket is not connected."},
    ErrorRow{10058, "Can't send after socket shutdown."},
    ErrorRow{10059, "Too many references: can't splice."},
    ErrorRow{10060, "Connection timed out."},
    ErrorRow{10061, "Connection refused."},
    ErrorRow{10062, "Too many levels of symbolic links."},
    ErrorRow{10063, "File name too long."},
    ErrorRow{10064, "Host is down."},
    ErrorRow{10065, "No route to host."},
    ErrorRow{10066, "Directory not empty."},
    ErrorRow{10067, "Too many processes."},
    ErrorRow{10068, "Too many users."},
    ErrorRow{10069, "Disk quota exceeded."},
    ErrorRow{10070, "Stale NFS file handle."},
    ErrorRow{10071, "Too many levels of remote in path."},
    ErrorRow{10091, "Network subsystem is unusable."},
    ErrorRow{10092, "Winsock DLL cannot support this application."},
    ErrorRow{10093, "Winsock not initialized."},
    ErrorRow{10101, "Disconnect."},
    ErrorRow{11001, "Host not found."},
    ErrorRow{11002, "Nonauthoritative host not found."},
    ErrorRow{11003, "Nonrecoverable error."},
    ErrorRow{11004, "Valid name, no data record of requested type."},
};
static_assert(kErrorTexts.size() == 51);

struct ErrnoRow {
  int err;
  int code;
};

// The one place where errno becomes a socket error number. EAGAIN and
// EWOULDBLOCK (and EOPNOTSUPP and ENOTSUP) share a value on Linux but not
// everywhere, so both stay listed; the first match wins.
constexpr ErrnoRow kErrnoRows[] = {
    {EINTR, 10004},      {EACCES, 10013},        {EPERM, 10013},  // what sendto gets when a packet filter refuses the
                                                                  // datagram
    {EFAULT, 10014},     {EINVAL, 10022},        {EMFILE, 10024},          {ENFILE, 10024},
    {EAGAIN, 10035},     {EWOULDBLOCK, 10035},   {EINPROGRESS, 10036},     {EALREADY, 10037},
    {EBADF, 10038},      {ENOTSOCK, 10038},      {EDESTADDRREQ, 10039},    {EMSGSIZE, 10040},
    {EPROTOTYPE, 10041}, {ENOPROTOOPT, 10042},   {EPROTONOSUPPORT, 10043}, {ESOCKTNOSUPPORT, 10044},
    {EOPNOTSUPP, 10045}, {ENOTSUP, 10045},       {EPFNOSUPPORT, 10046},    {EAFNOSUPPORT, 10047},
    {EADDRINUSE, 10048}, {EADDRNOTAVAIL, 10049}, {ENETDOWN, 10050},        {ENETUNREACH, 10051},
    {ENETRESET, 10052},  {ECONNABORTED, 10053},  {ECONNRESET, 10054},      {ENOBUFS, 10055},
    {ENOMEM, 10055},     {EISCONN, 10056},       {ENOTCONN, 10057},        {ESHUTDOWN, 10058},
    {EPIPE, 10058},      {ETOOMANYREFS, 10059},  {ETIMEDOUT, 10060},       {ECONNREFUSED, 10061},
    {ELOOP, 10062},      {ENAMETOOLONG, 10063},  {EHOSTDOWN, 10064},       {EHOSTUNREACH, 10065},
    {ENOTEMPTY, 10066},  {EUSERS, 10068},        {EDQUOT, 10069},          {ESTALE, 10070},
    {EREMOTE, 10071},
};

}  // namespace

QString socketErrorText(SocketError error) {
  const int number = socketErrorNumber(error);
  const auto* row = std::lower_bound(kErrorTexts.begin(), kErrorTexts.end(), number,
                                     [](const ErrorRow& r, int c) { return r.code < c; });
  if (row == kErrorTexts.end() || row->code != number) return {};
  return QString::fromLatin1(row->text);
}

// The one place where a number of the tables becomes an error.
SocketError socketErrorFromErrno(int err) {
  for (const auto& row : kErrnoRows) {
    if (row.err == err) return static_cast<SocketError>(row.code);
  }
  return SocketError::InvalidArgument;
}

SocketError socketErrorFromLookup(int eaiCode) {
  switch (eaiCode) {
    case 0: return SocketError::Ok;
    case EAI_NONAME: return SocketError::HostNotFound;
    case EAI_AGAIN: return SocketError::TryAgain;
#ifdef EAI_NODATA
    case EAI_NODATA: return SocketError::NoData;
#endif
#ifdef EAI_ADDRFAMILY
    case EAI_ADDRFAMILY: return SocketError::NoData;
#endif
    case EAI_SYSTEM: return errno != 0 ? socketErrorFromErrno(errno) : SocketError::NoRecovery;
    default:
      // EAI_FAIL, EAI_MEMORY and the argument errors: nothing a retry would fix.
      return SocketError::NoRecovery;
  }
}

bool isUnreachableEcho(SocketError error) {
  return error == SocketError::ConnectionRefused || error == SocketError::ConnectionReset;
}

}  // namespace strandlink::net
