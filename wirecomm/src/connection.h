#pragma once
// One TCP connection, optionally inside TLS, with every wait bounded by a
// deadline. The socket is non-blocking; waiting is done with poll().

#include <openssl/ssl.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace wc {

// Milliseconds on a monotonic clock.
int64_t monotonicMs();

// A point in time to give up at, or none.
class Deadline {
public:
    // ms below 0: no deadline.
    static Deadline after(int64_t ms);
    static Deadline never() { return Deadline(); }
    bool expired() const;
    // Milliseconds left for poll(): -1 for no deadline, 0 when expired.
    int pollMs() const;

private:
    bool m_none = true;
    int64_t m_at = 0;
};

enum class Io {
    Ok,
    Timeout,  // deadline reached, nothing lost
    Eof,      // orderly end of the byte stream
    Error,    // socket failure (reset, broken pipe, ...)
    Protocol, // TLS protocol failure
};

class Connection {
public:
    explicit Connection(int fd);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    int fd() const { return m_fd; }
    SSL* ssl() const { return m_ssl; }
    bool open() const { return m_fd >= 0; }

    // Puts the connection under TLS with a new SSL object of ctx.
    bool attachTls(SSL_CTX* ctx);
    // Runs the TLS handshake (client or server side).
    Io handshake(bool server, const Deadline& deadline);
    // Reads between 1 and n bytes.
    Io readSome(unsigned char* p, size_t n, size_t& got, const Deadline& deadline);
    // Writes all n bytes.
    Io writeAll(const unsigned char* p, size_t n, const Deadline& deadline);
    // Ends the connection: TLS close_notify, end of the sending direction,
    // then reading and dropping input until the peer closes or lingerMs
    // passes (so that the last frame is not lost to a reset), then close.
    void closeGracefully(int lingerMs);
    // Closes at once.
    void closeNow();

    // Text of the last failure, for the trace.
    std::string m_strError;

private:
    Io wait(bool forWrite, const Deadline& deadline);
    Io tlsResult(int ret, bool& retry, const Deadline& deadline);

    int m_fd;
    SSL* m_ssl = nullptr;
};

// Text of OpenSSL's error queue (emptied).
std::string opensslErrors();

// Sets a socket non-blocking and close-on-exec.
bool prepareSocket(int fd);

} // namespace wc
