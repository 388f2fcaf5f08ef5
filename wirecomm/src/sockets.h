#pragma once
// The few socket calls that differ between POSIX and Winsock, so the rest of
// the library reads the same on both. Sockets are kept in an int (a Winsock
// SOCKET handle fits; INVALID_SOCKET becomes -1). Errors come back as errno
// values (E...) on both systems: Winsock's own codes are mapped where the
// library tells them apart.

#include <cerrno>
#include <string>

#if defined(_WIN32)
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace wc {
namespace sock {

#if defined(_WIN32)
// Winsock must be started once per process before its first call.
bool startup();
// Winsock's last error, as an errno value where the library needs one.
int lastError();
inline int closeSocket(int s)
{
    return ::closesocket(static_cast<SOCKET>(s));
}
inline int pollSockets(pollfd* fds, unsigned long n, int ms)
{
    return ::WSAPoll(fds, n, ms);
}
constexpr int sendFlags = 0; // Windows has no SIGPIPE
constexpr int shutSend = SD_SEND;
#else
inline bool startup()
{
    return true;
}
inline int lastError()
{
    return errno;
}
inline int closeSocket(int s)
{
    return ::close(s);
}
inline int pollSockets(pollfd* fds, nfds_t n, int ms)
{
    return ::poll(fds, n, ms);
}
constexpr int sendFlags = MSG_NOSIGNAL;
constexpr int shutSend = SHUT_WR;
#endif

// A poll entry for one socket.
inline pollfd pollEntry(int s, short events)
{
    pollfd p{};
    p.fd = s;
    p.events = events;
    return p;
}

// Text of an error of lastError() or of SO_ERROR.
std::string errorText(int e);
// The value of SO_ERROR as an errno value.
int pendingError(int s);
// Sets the socket non-blocking (and, on POSIX, close-on-exec).
bool setNonBlocking(int s);
// A socket option of an int value.
inline int setIntOption(int s, int level, int name, int value)
{
    return ::setsockopt(s, level, name, reinterpret_cast<const char*>(&value), sizeof value);
}

} // namespace sock
} // namespace wc
