#include "sockets.h"

#include <cstring>

#if defined(_WIN32)
#include <mutex>
#else
#include <fcntl.h>
#endif

namespace wc {
namespace sock {

#if defined(_WIN32)

namespace {

int fromWinsock(int e)
{
    switch (e) {
    case WSAEWOULDBLOCK:
        return EWOULDBLOCK;
    case WSAEINPROGRESS:
        return EINPROGRESS;
    case WSAEINTR:
        return EINTR;
    case WSAECONNREFUSED:
        return ECONNREFUSED;
    case WSAETIMEDOUT:
        return ETIMEDOUT;
    case WSAECONNABORTED:
        return ECONNABORTED;
    case WSAECONNRESET:
        return ECONNRESET;
    default:
        return e;
    }
}

} // namespace

bool startup()
{
    static std::once_flag once;
    static bool started = false;
    std::call_once(once, [] {
        WSADATA data;
        started = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    });
    return started;
}

int lastError()
{
    return fromWinsock(WSAGetLastError());
}

std::string errorText(int e)
{
    switch (e) {
    case EWOULDBLOCK:
        return "Operation would block";
    case EINPROGRESS:
        return "Operation now in progress";
    case EINTR:
        return "Interrupted system call";
    case ECONNREFUSED:
        return "Connection refused";
    case ETIMEDOUT:
        return "Connection timed out";
    case ECONNABORTED:
        return "Software caused connection abort";
    case ECONNRESET:
        return "Connection reset by peer";
    default:
        break;
    }
    char buf[256] = {0};
    if (FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, static_cast<DWORD>(e), 0,
                       buf, sizeof buf, nullptr) == 0)
        return "socket error " + std::to_string(e);
    std::string text(buf);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '.'))
        text.pop_back();
    return text;
}

int pendingError(int s)
{
    int e = 0;
    int len = sizeof e;
    if (getsockopt(static_cast<SOCKET>(s), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&e), &len) != 0)
        return lastError();
    return fromWinsock(e);
}

bool setNonBlocking(int s)
{
    u_long on = 1;
    return ioctlsocket(static_cast<SOCKET>(s), FIONBIO, &on) == 0;
}

#else

std::string errorText(int e)
{
    return std::strerror(e);
}

int pendingError(int s)
{
    int e = 0;
    socklen_t len = sizeof e;
    if (getsockopt(s, SOL_SOCKET, SO_ERROR, &e, &len) != 0)
        return errno;
    return e;
}

bool setNonBlocking(int s)
{
    int flags = fcntl(s, F_GETFL, 0);
    if (flags < 0 || fcntl(s, F_SETFL, flags | O_NONBLOCK) < 0)
        return false;
    int fdflags = fcntl(s, F_GETFD, 0);
    if (fdflags >= 0)
        fcntl(s, F_SETFD, fdflags | FD_CLOEXEC);
    return true;
}

#endif

} // namespace sock
} // namespace wc
