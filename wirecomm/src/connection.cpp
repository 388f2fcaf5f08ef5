#include "connection.h"
#include "sockets.h"

#include <openssl/err.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <csignal>
#include <ctime>

#if !defined(_WIN32)
#include <pthread.h>
#endif

namespace wc {

int64_t monotonicMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

Deadline Deadline::after(int64_t ms)
{
    Deadline d;
    if (ms >= 0) {
        d.m_none = false;
        d.m_at = monotonicMs() + ms;
    }
    return d;
}

bool Deadline::expired() const
{
    return !m_none && monotonicMs() >= m_at;
}

int Deadline::pollMs() const
{
    if (m_none)
        return -1;
    int64_t left = m_at - monotonicMs();
    if (left <= 0)
        return 0;
    return left > INT_MAX ? INT_MAX : static_cast<int>(left);
}

std::string opensslErrors()
{
    std::string text;
    unsigned long e;
    while ((e = ERR_get_error()) != 0) {
        char buf[256];
        ERR_error_string_n(e, buf, sizeof buf);
        if (!text.empty())
            text += "; ";
        text += buf;
    }
    return text;
}

bool prepareSocket(int fd)
{
    return sock::setNonBlocking(fd);
}

namespace {

#if defined(_WIN32)
// Windows raises no signal for a write to a closed connection.
class SigpipeBlock {
public:
    SigpipeBlock() {}
    ~SigpipeBlock() {}
};
#else
// OpenSSL writes to the socket with write(), which raises SIGPIPE when the
// peer has gone. The signal is blocked in this thread for the duration of
// the call and a SIGPIPE it caused is taken off again, so the process's own
// signal handling stays untouched.
class SigpipeBlock {
public:
    SigpipeBlock()
    {
        sigset_t pending;
        sigemptyset(&pending);
        sigpending(&pending);
        m_wasPending = sigismember(&pending, SIGPIPE) == 1;
        sigset_t block;
        sigemptyset(&block);
        sigaddset(&block, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &block, &m_old);
    }
    ~SigpipeBlock()
    {
        if (!m_wasPending) {
            sigset_t pending;
            sigemptyset(&pending);
            sigpending(&pending);
            if (sigismember(&pending, SIGPIPE) == 1) {
                sigset_t only;
                sigemptyset(&only);
                sigaddset(&only, SIGPIPE);
                struct timespec zero = {0, 0};
                while (sigtimedwait(&only, nullptr, &zero) < 0 && errno == EINTR) {
                }
            }
        }
        pthread_sigmask(SIG_SETMASK, &m_old, nullptr);
    }

private:
    sigset_t m_old;
    bool m_wasPending = false;
};
#endif

} // namespace

Connection::Connection(int fd) : m_fd(fd)
{
}

Connection::~Connection()
{
    closeNow();
}

bool Connection::attachTls(SSL_CTX* ctx)
{
    m_ssl = SSL_new(ctx);
    if (!m_ssl) {
        m_strError = opensslErrors();
        return false;
    }
    if (SSL_set_fd(m_ssl, m_fd) != 1) {
        m_strError = opensslErrors();
        return false;
    }
    return true;
}

Io Connection::wait(bool forWrite, const Deadline& deadline)
{
    for (;;) {
        struct pollfd p;
        p.fd = m_fd;
        p.events = forWrite ? POLLOUT : POLLIN;
        p.revents = 0;
        int ms = deadline.pollMs();
        if (ms == 0)
            return Io::Timeout;
        int n = sock::pollSockets(&p, 1, ms);
        if (n < 0) {
            const int e = sock::lastError();
            if (e == EINTR)
                continue;
            m_strError = sock::errorText(e);
            return Io::Error;
        }
        if (n == 0)
            return Io::Timeout;
        // POLLHUP/POLLERR: let the following read or write report it.
        return Io::Ok;
    }
}

// Maps the result of an SSL call: retry says whether to call again.
Io Connection::tlsResult(int ret, bool& retry, const Deadline& deadline)
{
    retry = false;
    int err = SSL_get_error(m_ssl, ret);
    switch (err) {
    case SSL_ERROR_WANT_READ:
    case SSL_ERROR_WANT_WRITE: {
        Io w = wait(err == SSL_ERROR_WANT_WRITE, deadline);
        if (w == Io::Ok)
            retry = true;
        return w;
    }
    case SSL_ERROR_ZERO_RETURN:
        return Io::Eof;
    case SSL_ERROR_SYSCALL: {
        int e = sock::lastError();
        std::string q = opensslErrors();
        if (ret == 0 || e == 0) {
            m_strError = q.empty() ? "connection closed by peer" : q;
            return Io::Eof;
        }
        if (e == EINTR) {
            retry = true;
            return Io::Ok;
        }
        m_strError = sock::errorText(e);
        return Io::Error;
    }
    default:
        m_strError = opensslErrors();
        if (m_strError.empty())
            m_strError = "TLS failure";
        return Io::Protocol;
    }
}

Io Connection::handshake(bool server, const Deadline& deadline)
{
    if (!m_ssl)
        return Io::Protocol;
    SigpipeBlock guard;
    for (;;) {
        ERR_clear_error();
        int r = server ? SSL_accept(m_ssl) : SSL_connect(m_ssl);
        if (r == 1)
            return Io::Ok;
        bool retry;
        Io io = tlsResult(r, retry, deadline);
        if (!retry)
            return io == Io::Ok ? Io::Protocol : io;
    }
}

Io Connection::readSome(unsigned char* p, size_t n, size_t& got, const Deadline& deadline)
{
    got = 0;
    if (m_fd < 0)
        return Io::Error;
    if (n > INT_MAX)
        n = INT_MAX;
    for (;;) {
        if (m_ssl) {
            ERR_clear_error();
            int r;
            {
                SigpipeBlock guard; // a read may write a TLS alert or key update
                r = SSL_read(m_ssl, p, static_cast<int>(n));
            }
            if (r > 0) {
                got = static_cast<size_t>(r);
                return Io::Ok;
            }
            bool retry;
            Io io = tlsResult(r, retry, deadline);
            if (!retry)
                return io == Io::Ok ? Io::Protocol : io;
            continue;
        }
        const auto r = recv(m_fd, reinterpret_cast<char*>(p), static_cast<int>(n), 0);
        if (r > 0) {
            got = static_cast<size_t>(r);
            return Io::Ok;
        }
        if (r == 0)
            return Io::Eof;
        const int e = sock::lastError();
        if (e == EINTR)
            continue;
        if (e == EAGAIN || e == EWOULDBLOCK) {
            Io w = wait(false, deadline);
            if (w != Io::Ok)
                return w;
            continue;
        }
        m_strError = sock::errorText(e);
        return Io::Error;
    }
}

Io Connection::writeAll(const unsigned char* p, size_t n, const Deadline& deadline)
{
    if (m_fd < 0)
        return Io::Error;
    size_t done = 0;
    while (done < n) {
        size_t chunk = n - done;
        if (chunk > INT_MAX)
            chunk = INT_MAX;
        if (m_ssl) {
            ERR_clear_error();
            int r;
            {
                SigpipeBlock guard;
                r = SSL_write(m_ssl, p + done, static_cast<int>(chunk));
            }
            if (r > 0) {
                done += static_cast<size_t>(r);
                continue;
            }
            bool retry;
            Io io = tlsResult(r, retry, deadline);
            if (!retry)
                return io == Io::Ok ? Io::Protocol : (io == Io::Eof ? Io::Error : io);
            continue;
        }
        const auto r = send(m_fd, reinterpret_cast<const char*>(p + done), static_cast<int>(chunk), sock::sendFlags);
        if (r >= 0) {
            done += static_cast<size_t>(r);
            continue;
        }
        const int e = sock::lastError();
        if (e == EINTR)
            continue;
        if (e == EAGAIN || e == EWOULDBLOCK) {
            Io w = wait(true, deadline);
            if (w != Io::Ok)
                return w;
            continue;
        }
        m_strError = sock::errorText(e);
        return Io::Error;
    }
    return Io::Ok;
}

void Connection::closeGracefully(int lingerMs)
{
    if (m_fd < 0)
        return;
    if (m_ssl) {
        SigpipeBlock guard;
        ERR_clear_error();
        SSL_shutdown(m_ssl); // sends close_notify; the answer is not awaited
        ERR_clear_error();
    }
    shutdown(m_fd, sock::shutSend);
    Deadline deadline = Deadline::after(lingerMs);
    char drop[4096];
    for (;;) {
        const auto r = recv(m_fd, drop, sizeof drop, 0);
        if (r > 0)
            continue;
        if (r == 0)
            break;
        const int e = sock::lastError();
        if (e == EINTR)
            continue;
        if (e != EAGAIN && e != EWOULDBLOCK)
            break;
        if (wait(false, deadline) != Io::Ok)
            break;
    }
    closeNow();
}

void Connection::closeNow()
{
    if (m_ssl) {
        SSL_free(m_ssl);
        m_ssl = nullptr;
    }
    if (m_fd >= 0) {
        sock::closeSocket(m_fd);
        m_fd = -1;
    }
}

} // namespace wc
