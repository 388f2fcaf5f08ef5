#pragma once
// The calls of the C++ tests that differ between POSIX and Windows: plain TCP sockets of 127.0.0.1
// (fake hosts, relays, hostile bytes; kept in an int as the conversation library does), the
// environment, and the stop events the platform layer turns into its stop flag.

#include "platform/platform.h"

#include <csignal>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#if defined(_WIN32)
#include <winsock2.h>
#include <ws2tcpip.h>
#define TESTOS_POSIX(posix, windows) windows
#else
#include <arpa/inet.h>
#include <cstdlib>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#define TESTOS_POSIX(posix, windows) posix
#endif

namespace testos {

inline void closeSocket(int s)
{
    TESTOS_POSIX(::close(s), ::closesocket(static_cast<SOCKET>(s)));
}
// poll() on sockets.
inline int pollSockets(pollfd* fds, unsigned n, int ms)
{
    return TESTOS_POSIX(::poll, ::WSAPoll)(fds, n, ms);
}
// True when s has something to read (or was closed) within ms.
inline bool readable(int s, int ms)
{
    pollfd p{};
    p.fd = s;
    p.events = POLLIN;
    return pollSockets(&p, 1, ms) > 0;
}
// send and recv of bytes; a peer gone raises no SIGPIPE.
inline long sendBytes(int s, const void* p, size_t n)
{
    return ::send(s, static_cast<const char*>(p), TESTOS_POSIX(n, static_cast<int>(n)), TESTOS_POSIX(MSG_NOSIGNAL, 0));
}
inline long recvBytes(int s, void* p, size_t n)
{
    return ::recv(s, static_cast<char*>(p), TESTOS_POSIX(n, static_cast<int>(n)), 0);
}

// A TCP socket of 127.0.0.1: bound to a free port (port set) and listening when asked, or
// connected to port; -1 on failure.
inline int loopbackSocket(uint16_t& port, bool bindIt, bool listening)
{
#if defined(_WIN32)
    static const bool started = [] {
        WSADATA data;
        return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    if (!started)
        return -1;
#endif
    const int s = static_cast<int>(::socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(bindIt ? 0 : port);
    socklen_t len = sizeof a;
    const bool ok = bindIt ? ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
                                 (!listening || ::listen(s, 8) == 0) &&
                                 ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) == 0
                           : ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    if (s >= 0 && !ok)
        closeSocket(s);
    if (s < 0 || !ok)
        return -1;
    port = ntohs(a.sin_port);
    return s;
}
inline int bindLoopback(uint16_t& port, bool listening = true)
{
    return loopbackSocket(port, true, listening);
}
inline int connectLoopback(uint16_t port)
{
    return loopbackSocket(port, false, false);
}
// A port of 127.0.0.1 that refuses connections at once: bound, not listening, until the process ends.
inline uint16_t unusedPort()
{
    uint16_t port = 0;
    bindLoopback(port, false);
    return port;
}
// Accepts one connection within ms, -1 when none came.
inline int acceptWithin(int listening, int ms)
{
    return readable(listening, ms) ? static_cast<int>(::accept(listening, nullptr, nullptr)) : -1;
}

// Sets an environment variable of this process; null removes it.
inline void setEnv(const char* name, const char* value)
{
    TESTOS_POSIX(value ? ::setenv(name, value, 1) : ::unsetenv(name), _putenv_s(name, value ? value : ""));
}

// An event that asks a run to end, with the signal number it leaves in the stop flag.
struct StopEvent {
    const char* name;
    int event; // POSIX: the signal; Windows: the console event
    int32_t signal;
};
inline std::vector<StopEvent> stopEvents()
{
#if defined(_WIN32)
    return {{"Ctrl-C", CTRL_C_EVENT, SIGINT},
            {"Ctrl-Break", CTRL_BREAK_EVENT, SIGBREAK},
            {"console-closed", CTRL_CLOSE_EVENT, SIGTERM},
            {"shutdown", CTRL_SHUTDOWN_EVENT, SIGTERM}};
#else
    return {{"SIGINT", SIGINT, SIGINT}, {"SIGTERM", SIGTERM, SIGTERM}, {"SIGHUP", SIGHUP, SIGHUP}};
#endif
}
// Delivers it as the system does: POSIX raises the signal in this thread; Windows calls the console
// control handler on a thread of its own, which a close or shutdown event holds until the process ends.
inline void deliver(const StopEvent& e)
{
#if defined(_WIN32)
    std::thread([event = e.event] { Platform::consoleControlHandler(static_cast<unsigned long>(event)); }).detach();
#else
    std::raise(e.event);
#endif
}

} // namespace testos

#undef TESTOS_POSIX
