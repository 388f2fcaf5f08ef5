// The host side of the conversation: the wch_* calls.

#include "wirecomm_host.h"

#include "connection.h"
#include "crypto.h"
#include "export.h"
#include "frame.h"
#include "sendbuffer.h"
#include "trace.h"

#include <openssl/err.h>
#include <openssl/x509.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>

#include "sockets.h"

using namespace wc;

namespace {
const int64_t kWriteLimitMs = 60000;
const int kLingerMs = 1000;
} // namespace

struct wch_listener {
    int fd = -1;
    SSL_CTX* ctx = nullptr;
    bool clientCa = false;
    uint16_t port = 0;
};

struct wch_conv {
    enum class State { Connected, Pending, Open, Ended };
    std::mutex op;
    State state = State::Connected;
    SSL_CTX* ctx = nullptr; // the listener's TLS context (own reference)
    bool clientCa = false;
    int32_t endRc = 0;
    std::unique_ptr<Connection> conn;
    ReceiveBuffer inbuf;
    SendBuffer outbuf; // blocks of the host's turn, not yet written
    wch_alloc_info info;

    wch_conv() { std::memset(&info, 0, sizeof info); }
    ~wch_conv()
    {
        OPENSSL_cleanse(info.password, sizeof info.password);
        conn.reset();
        if (ctx)
            SSL_CTX_free(ctx);
    }
    void end(int32_t rc, int lingerMs)
    {
        if (conn) {
            conn->closeGracefully(lingerMs);
            conn.reset();
        }
        inbuf.clear();
        outbuf.clear();
        state = State::Ended;
        endRc = rc;
    }
};

namespace {

SSL_CTX* serverContext(const wch_config& cfg, int32_t& rc)
{
    initOpenSsl();
    SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
    if (!ctx) {
        rc = CM_PRODUCT_SPECIFIC_ERROR;
        return nullptr;
    }
    SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
    if (cfg.security_level >= 0)
        SSL_CTX_set_security_level(ctx, cfg.security_level);
    SSL_CTX_set_options(ctx, SSL_OP_IGNORE_UNEXPECTED_EOF);
    static const unsigned char sessionContext[] = "wirecomm-2";
    SSL_CTX_set_session_id_context(ctx, sessionContext, sizeof sessionContext - 1);
    if (!cfg.cert_file || !cfg.key_file || SSL_CTX_use_certificate_chain_file(ctx, cfg.cert_file) != 1 ||
        SSL_CTX_use_PrivateKey_file(ctx, cfg.key_file, SSL_FILETYPE_PEM) != 1 || SSL_CTX_check_private_key(ctx) != 1) {
        WC_TRACE(1, "host: cannot use certificate '%s' and key '%s': %s", cfg.cert_file ? cfg.cert_file : "",
                 cfg.key_file ? cfg.key_file : "", opensslErrors().c_str());
        SSL_CTX_free(ctx);
        rc = CM_PARAMETER_ERROR;
        return nullptr;
    }
    if (cfg.client_ca_file && *cfg.client_ca_file) {
        STACK_OF(X509_NAME)* names = SSL_load_client_CA_file(cfg.client_ca_file);
        if (!names || SSL_CTX_load_verify_locations(ctx, cfg.client_ca_file, nullptr) != 1) {
            WC_TRACE(1, "host: cannot load client CAs '%s': %s", cfg.client_ca_file, opensslErrors().c_str());
            if (names)
                sk_X509_NAME_pop_free(names, X509_NAME_free);
            SSL_CTX_free(ctx);
            rc = CM_PARAMETER_ERROR;
            return nullptr;
        }
        SSL_CTX_set_client_CA_list(ctx, names);
        SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, nullptr);
    }
    rc = CM_OK;
    return ctx;
}

int32_t replyHello(wch_conv& c, int32_t rc, const unsigned char* hostKey, const Deadline& d)
{
    unsigned char payload[5 + 32];
    payload[0] = kProtocolVersion;
    putU32(payload + 1, static_cast<uint32_t>(rc));
    size_t n = 5;
    if (hostKey) {
        std::memcpy(payload + 5, hostKey, 32);
        n += 32;
    }
    return writeFrame(*c.conn, kHelloReply, 0, payload, n, d) == Io::Ok ? CM_OK : CM_RESOURCE_FAILURE_RETRY;
}

int32_t replyAlloc(wch_conv& c, int32_t rc, const Deadline& d)
{
    unsigned char payload[4];
    putU32(payload, static_cast<uint32_t>(rc));
    return writeFrame(*c.conn, kAllocReply, 0, payload, 4, d) == Io::Ok ? CM_OK : CM_RESOURCE_FAILURE_RETRY;
}

int32_t frameFailure(FrameResult r, const std::string& why)
{
    switch (r) {
    case FrameResult::Timeout:
        return CM_OPERATION_INCOMPLETE;
    case FrameResult::Closed:
    case FrameResult::Failed:
        WC_TRACE(1, "host: connection lost: %s", why.c_str());
        return CM_RESOURCE_FAILURE_RETRY;
    default:
        WC_TRACE(1, "host: refused input: %s", why.c_str());
        return CM_RESOURCE_FAILURE_NO_RETRY;
    }
}

// Takes one length-prefixed text field; false when it does not fit.
bool takeField(const std::vector<unsigned char>& p, size_t& pos, const unsigned char*& data, size_t& len, size_t maxLen)
{
    if (pos + 2 > p.size())
        return false;
    len = getU16(p.data() + pos);
    pos += 2;
    if (len > maxLen || pos + len > p.size())
        return false;
    data = p.data() + pos;
    pos += len;
    return true;
}

bool copyText(char* out, const unsigned char* data, size_t len)
{
    if (std::memchr(data, 0, len))
        return false;
    std::memcpy(out, data, len);
    out[len] = '\0';
    return true;
}

// The TLS handshake of a host that serves modes 3 and 4.
int32_t acceptTls(wch_conv& c, const Deadline& deadline)
{
    if (!c.conn->attachTls(c.ctx))
        return CM_PRODUCT_SPECIFIC_ERROR;
    Io io = c.conn->handshake(true, deadline);
    if (io == Io::Timeout)
        return CM_OPERATION_INCOMPLETE;
    if (io == Io::Eof) {
        WC_TRACE(1, "host: the PC closed the connection during the TLS handshake");
        return CM_RESOURCE_FAILURE_RETRY;
    }
    if (io != Io::Ok) {
        WC_TRACE(1, "host: TLS handshake failed: %s", c.conn->m_strError.c_str());
        return CM_RESOURCE_FAILURE_NO_RETRY;
    }
    return CM_OK;
}

// The key agreement of crypt mode 1: both public keys and our private one,
// kept from the hello to the allocation request that uses them.
struct HelloKeys {
    std::unique_ptr<EphemeralKey> key;
    unsigned char pcKey[32];
    unsigned char hostKey[32];
};

// The PC's hello: protocol version, a crypt mode this host serves, the
// client certificate of mode 4, the PC's key of mode 1; answered with our
// hello (and our key). mode receives the PC's crypt mode.
int32_t takeHello(wch_conv& c, const Deadline& deadline, int& mode, HelloKeys& keys)
{
    Frame f;
    std::string why;
    FrameResult r = readFrame(*c.conn, c.inbuf, deadline, f, why);
    if (r != FrameResult::Ok)
        return frameFailure(r, why);
    if (f.type != kHello || f.payload.size() < 2) {
        WC_TRACE(1, "host: expected hello, got frame type 0x%02x", f.type);
        return CM_RESOURCE_FAILURE_NO_RETRY;
    }
    if (f.payload[0] != kProtocolVersion) {
        WC_TRACE(1, "host: PC speaks protocol version %u", f.payload[0]);
        replyHello(c, CM_ALLOCATE_FAILURE_NO_RETRY, nullptr, deadline);
        return CM_RESOURCE_FAILURE_NO_RETRY;
    }
    mode = f.payload[1];
    c.info.crypt_mode = mode;
    bool served = c.ctx ? (mode == 3 || mode == 4) : mode == 1;
    if (!served) {
        WC_TRACE(1, "host: crypt mode %d not served here", mode);
        replyHello(c, CM_SECURITY_NOT_SUPPORTED, nullptr, deadline);
        return CM_SECURITY_NOT_SUPPORTED;
    }
    if (mode == 4) {
        X509* cert = SSL_get1_peer_certificate(c.conn->ssl());
        bool ok = c.clientCa && cert && SSL_get_verify_result(c.conn->ssl()) == X509_V_OK;
        if (ok) {
            std::string cn = commonNameOf(cert);
            std::snprintf(c.info.client_cn, sizeof c.info.client_cn, "%s", cn.c_str());
        }
        X509_free(cert);
        if (!ok) {
            WC_TRACE(1, "host: crypt mode 4 without a verified client certificate");
            replyHello(c, CM_SECURITY_NOT_VALID, nullptr, deadline);
            return CM_SECURITY_NOT_VALID;
        }
    }
    if (mode == 1) {
        if (f.payload.size() != 2 + 32) {
            WC_TRACE(1, "host: hello of mode 1 without a key");
            return CM_RESOURCE_FAILURE_NO_RETRY;
        }
        std::memcpy(keys.pcKey, f.payload.data() + 2, 32);
        keys.key.reset(new EphemeralKey());
        if (!keys.key->ok() || !keys.key->publicKey(keys.hostKey))
            return CM_PRODUCT_SPECIFIC_ERROR;
    } else if (f.payload.size() != 2) {
        WC_TRACE(1, "host: malformed hello");
        return CM_RESOURCE_FAILURE_NO_RETRY;
    }
    if (replyHello(c, CM_OK, keys.key ? keys.hostKey : nullptr, deadline) != CM_OK)
        return CM_RESOURCE_FAILURE_RETRY;
    return CM_OK;
}

// The allocation request: member, user, tag and the password (opened with
// the agreed secret in mode 1). A password that cannot be read is refused
// to the PC at once; the secret is wiped from every buffer that held it.
int32_t takeAllocation(wch_conv& c, const Deadline& deadline, int mode, HelloKeys& keys)
{
    Frame f;
    std::string why;
    FrameResult r = readFrame(*c.conn, c.inbuf, deadline, f, why);
    if (r != FrameResult::Ok)
        return frameFailure(r, why);
    if (f.type != kAlloc || f.payload.empty() || f.payload[0] > 1) {
        WC_TRACE(1, "host: malformed allocation request");
        return CM_RESOURCE_FAILURE_NO_RETRY;
    }
    c.info.password_check = f.payload[0];
    size_t pos = 1;
    const unsigned char* d[4];
    size_t n[4];
    const size_t secretMax = mode == 1 ? WCH_MAX_PASSWORD + kNonceSize + kTagSize : WCH_MAX_PASSWORD;
    bool ok =
        takeField(f.payload, pos, d[0], n[0], WCH_MAX_NAME) && takeField(f.payload, pos, d[1], n[1], WCH_MAX_NAME) &&
        takeField(f.payload, pos, d[2], n[2], WCH_MAX_NAME) && takeField(f.payload, pos, d[3], n[3], secretMax) &&
        pos == f.payload.size() && n[0] >= 1 && n[1] >= 1 && // member and user id: 1..64 bytes
        copyText(c.info.symdest, d[0], n[0]) && copyText(c.info.user, d[1], n[1]) && copyText(c.info.tag, d[2], n[2]);
    if (!ok) {
        OPENSSL_cleanse(f.payload.data(), f.payload.size());
        WC_TRACE(1, "host: malformed allocation request");
        return CM_RESOURCE_FAILURE_NO_RETRY;
    }
    int32_t rc = CM_OK;
    if (mode == 1) {
        SecretBytes envelopeKey, password;
        if (!keys.key->agree(keys.pcKey, keys.pcKey, keys.hostKey, envelopeKey) ||
            !openPassword(envelopeKey, c.info.user, d[3], n[3], password) ||
            !copyText(c.info.password, password.data(), password.size())) {
            WC_TRACE(1, "host: the password could not be decrypted");
            rc = CM_SECURITY_NOT_VALID;
        }
    } else if (!copyText(c.info.password, d[3], n[3])) {
        WC_TRACE(1, "host: the password holds a NUL byte");
        rc = CM_SECURITY_NOT_VALID;
    }
    OPENSSL_cleanse(f.payload.data(), f.payload.size());
    if (rc != CM_OK) {
        OPENSSL_cleanse(c.info.password, sizeof c.info.password);
        replyAlloc(c, rc, deadline);
        return rc;
    }
    WC_TRACE(3,
             "host: allocation request for member '%s', user '%s', tag '%s', mode %d, "
             "password check %d",
             c.info.symdest, c.info.user, c.info.tag, mode, c.info.password_check);
    return CM_OK;
}

// Hello and allocation request of an accepted connection.
int32_t handshake(wch_conv& c, const Deadline& deadline)
{
    if (c.ctx) {
        int32_t rc = acceptTls(c, deadline);
        if (rc != CM_OK)
            return rc;
    }
    int mode = 0;
    HelloKeys keys;
    int32_t rc = takeHello(c, deadline, mode, keys);
    return rc != CM_OK ? rc : takeAllocation(c, deadline, mode, keys);
}

// What a wch_* call needs of its conversation's state.
enum class Need {
    Connected, // accepted, before the handshake
    Pending,   // the allocation read, not yet answered
    Open,      // the allocation accepted
    Raw,       // any state before the end (raw bytes may break any step)
};

// The start that the wch_* calls on a conversation share: a null
// conversation or invalid arguments give CM_PROGRAM_PARAMETER_CHECK; under
// the conversation's lock a state the call does not run in gives
// CM_PROGRAM_STATE_CHECK, and once ended the code that ended it (a state
// check when this side ended it). Then body() gives the call's code.
template <typename Body> int32_t onConversation(wch_conv* conv, bool argsOk, Need need, Body body)
{
    using State = wch_conv::State;
    if (!conv || !argsOk)
        return CM_PROGRAM_PARAMETER_CHECK;
    std::lock_guard<std::mutex> lock(conv->op);
    if (need == Need::Connected && conv->state != State::Connected)
        return CM_PROGRAM_STATE_CHECK;
    if (need == Need::Pending && conv->state != State::Pending)
        return CM_PROGRAM_STATE_CHECK;
    if (need == Need::Open && (conv->state == State::Pending || conv->state == State::Connected))
        return CM_PROGRAM_STATE_CHECK;
    if ((need == Need::Open || need == Need::Raw) && conv->state == State::Ended)
        return conv->endRc == CM_OK ? CM_PROGRAM_STATE_CHECK : conv->endRc;
    return body();
}

} // namespace

WC_EXPORT wch_listener* wch_listen(const char* address, uint16_t port, const wch_config* config, int32_t* rc)
{
    int32_t dummy;
    if (!rc)
        rc = &dummy;
    wch_config cfg;
    std::memset(&cfg, 0, sizeof cfg);
    cfg.security_level = -1;
    if (config)
        cfg = *config;
    std::unique_ptr<wch_listener> l(new wch_listener());
    if (cfg.tls) {
        l->ctx = serverContext(cfg, *rc);
        if (!l->ctx)
            return nullptr;
        l->clientCa = cfg.client_ca_file && *cfg.client_ca_file;
    }
    sock::startup();
    struct addrinfo hints;
    std::memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV | AI_PASSIVE;
    std::string service = std::to_string(port);
    struct addrinfo* res = nullptr;
    const char* host = (address && *address) ? address : "127.0.0.1";
    if (getaddrinfo(host, service.c_str(), &hints, &res) != 0 || !res) {
        WC_TRACE(1, "host: bad listen address '%s'", host);
        if (l->ctx)
            SSL_CTX_free(l->ctx);
        *rc = CM_PARAMETER_ERROR;
        return nullptr;
    }
    int fd = static_cast<int>(socket(res->ai_family, SOCK_STREAM, 0));
#if defined(_WIN32)
    // Windows lets SO_REUSEADDR take over a port in use; its exclusive
    // option gives the POSIX meaning (one listener per port).
    const int reuse = SO_EXCLUSIVEADDRUSE;
#else
    const int reuse = SO_REUSEADDR;
#endif
    bool ok = fd >= 0 && prepareSocket(fd) && sock::setIntOption(fd, SOL_SOCKET, reuse, 1) == 0 &&
              bind(fd, res->ai_addr, static_cast<int>(res->ai_addrlen)) == 0 && listen(fd, SOMAXCONN) == 0;
    const int e = sock::lastError();
    freeaddrinfo(res);
    if (!ok) {
        WC_TRACE(1, "host: cannot listen on %s:%u: %s", host, port, sock::errorText(e).c_str());
        if (fd >= 0)
            sock::closeSocket(fd);
        if (l->ctx)
            SSL_CTX_free(l->ctx);
        *rc = CM_PRODUCT_SPECIFIC_ERROR;
        return nullptr;
    }
    struct sockaddr_storage bound;
    socklen_t len = sizeof bound;
    getsockname(fd, reinterpret_cast<struct sockaddr*>(&bound), &len);
    l->port = ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<struct sockaddr_in6*>(&bound)->sin6_port
                                                : reinterpret_cast<struct sockaddr_in*>(&bound)->sin_port);
    l->fd = fd;
    WC_TRACE(3, "host: listening on %s:%u%s", host, l->port, l->ctx ? " with TLS" : "");
    *rc = CM_OK;
    return l.release();
}

WC_EXPORT uint16_t wch_listener_port(const wch_listener* listener)
{
    return listener ? listener->port : 0;
}

WC_EXPORT void wch_listener_close(wch_listener* listener)
{
    if (!listener)
        return;
    if (listener->fd >= 0)
        sock::closeSocket(listener->fd);
    if (listener->ctx)
        SSL_CTX_free(listener->ctx);
    delete listener;
}

WC_EXPORT wch_conv* wch_accept_connection(wch_listener* listener, int32_t timeout_ms, int32_t* rc)
{
    int32_t dummy;
    if (!rc)
        rc = &dummy;
    if (!listener || listener->fd < 0) {
        *rc = CM_PROGRAM_PARAMETER_CHECK;
        return nullptr;
    }
    Deadline deadline = Deadline::after(timeout_ms);
    int fd = -1;
    struct sockaddr_storage peer;
    for (;;) {
        socklen_t len = sizeof peer;
        fd = static_cast<int>(accept(listener->fd, reinterpret_cast<struct sockaddr*>(&peer), &len));
        if (fd >= 0)
            break;
        const int e = sock::lastError();
        if (e == EINTR || e == ECONNABORTED)
            continue;
        if (e != EAGAIN && e != EWOULDBLOCK) {
            WC_TRACE(1, "host: accept: %s", sock::errorText(e).c_str());
            *rc = CM_PRODUCT_SPECIFIC_ERROR;
            return nullptr;
        }
        pollfd p = sock::pollEntry(listener->fd, POLLIN);
        int ms = deadline.pollMs();
        int n = ms == 0 ? 0 : sock::pollSockets(&p, 1, ms);
        if (n < 0 && sock::lastError() == EINTR)
            continue;
        if (n <= 0) {
            *rc = CM_OPERATION_INCOMPLETE;
            return nullptr;
        }
    }
    if (!prepareSocket(fd)) {
        sock::closeSocket(fd);
        *rc = CM_PRODUCT_SPECIFIC_ERROR;
        return nullptr;
    }
    sock::setIntOption(fd, IPPROTO_TCP, TCP_NODELAY, 1);
    std::unique_ptr<wch_conv> c(new wch_conv());
    c->conn.reset(new Connection(fd));
    if (listener->ctx) {
        SSL_CTX_up_ref(listener->ctx);
        c->ctx = listener->ctx;
    }
    c->clientCa = listener->clientCa;
    char host[64], serv[NI_MAXSERV];
    if (getnameinfo(reinterpret_cast<struct sockaddr*>(&peer), sizeof peer, host, sizeof host, serv, sizeof serv,
                    NI_NUMERICHOST | NI_NUMERICSERV) == 0) {
        std::snprintf(c->info.peer_address, sizeof c->info.peer_address, "%s", host);
        c->info.peer_port = static_cast<uint16_t>(std::atoi(serv));
    }
    WC_TRACE(3, "host: connection from %s:%u", c->info.peer_address, c->info.peer_port);
    *rc = CM_OK;
    return c.release();
}

WC_EXPORT int32_t wch_handshake(wch_conv* conv, int32_t timeout_ms)
{
    return onConversation(conv, true, Need::Connected, [&] {
        int32_t rc = handshake(*conv, Deadline::after(timeout_ms));
        if (rc != CM_OK) {
            conv->end(CM_OK, 0);
            return rc;
        }
        conv->state = wch_conv::State::Pending;
        return CM_OK;
    });
}

WC_EXPORT wch_conv* wch_accept(wch_listener* listener, int32_t timeout_ms, int32_t* rc)
{
    int32_t dummy;
    if (!rc)
        rc = &dummy;
    int64_t start = monotonicMs();
    wch_conv* c = wch_accept_connection(listener, timeout_ms, rc);
    if (!c)
        return nullptr;
    int32_t left = timeout_ms;
    if (timeout_ms >= 0) {
        int64_t rest = timeout_ms - (monotonicMs() - start);
        left = rest > 0 ? static_cast<int32_t>(rest) : 0;
    }
    *rc = wch_handshake(c, left);
    if (*rc != CM_OK) {
        wch_conv_free(c);
        return nullptr;
    }
    return c;
}

WC_EXPORT const wch_alloc_info* wch_conv_info(const wch_conv* conv)
{
    return conv ? &conv->info : nullptr;
}

WC_EXPORT int32_t wch_allocate_reply(wch_conv* conv, int32_t rc)
{
    return onConversation(conv, true, Need::Pending, [&] {
        int32_t sent = replyAlloc(*conv, rc, Deadline::after(kWriteLimitMs));
        // The password has been looked at by now; it is not kept.
        OPENSSL_cleanse(conv->info.password, sizeof conv->info.password);
        if (sent != CM_OK) {
            conv->end(sent, 0);
            return sent;
        }
        if (rc == CM_OK) {
            conv->state = wch_conv::State::Open;
            WC_TRACE(3, "host: allocation accepted");
        } else {
            WC_TRACE(3, "host: allocation rejected with %d", rc);
            conv->end(CM_OK, kLingerMs);
        }
        return CM_OK;
    });
}

namespace {
int32_t flushBlocks(wch_conv* conv);

// wch_receive once its arguments and the conversation's state are checked.
int32_t receiveBlock(wch_conv* conv, unsigned char* buffer, int32_t capacity, int32_t* length, int32_t* hand_over,
                     int32_t timeout_ms)
{
    // Blocks still waiting to be sent go out before the wait for the PC.
    int32_t flushed = flushBlocks(conv);
    if (flushed != CM_OK)
        return flushed;
    FrameView f;
    std::string why;
    FrameResult r = nextFrame(*conv->conn, conv->inbuf,
                              conv->inbuf.holdsFrame() ? Deadline::never() : Deadline::after(timeout_ms), f, why);
    if (r == FrameResult::Timeout)
        return CM_OPERATION_INCOMPLETE;
    if (r != FrameResult::Ok) {
        int32_t rc = frameFailure(r, why);
        conv->end(rc, 0);
        return rc;
    }
    if (f.type == kDealloc) {
        WC_TRACE(3, "host: the PC deallocated the conversation");
        conv->end(CM_DEALLOCATED_NORMAL, 0);
        return CM_DEALLOCATED_NORMAL;
    }
    if (f.type == kStop) {
        WC_TRACE(3, "host: the PC stopped the conversation");
        conv->end(CM_DEALLOCATED_ABEND, 0);
        return CM_DEALLOCATED_ABEND;
    }
    if (f.type != kData) {
        WC_TRACE(1, "host: unexpected frame type 0x%02x", f.type);
        conv->end(CM_RESOURCE_FAILURE_NO_RETRY, 0);
        return CM_RESOURCE_FAILURE_NO_RETRY;
    }
    if (f.length > static_cast<size_t>(capacity))
        return CM_PROGRAM_PARAMETER_CHECK;
    if (f.length > 0)
        std::memcpy(buffer, f.payload, f.length);
    if (length)
        *length = static_cast<int32_t>(f.length);
    if (hand_over)
        *hand_over = (f.flags & kFlagHandOver) ? 1 : 0;
    WC_TRACE(5, "host: received block of %zu bytes%s", f.length, (f.flags & kFlagHandOver) ? ", hand-over" : "");
    return CM_OK;
}
} // namespace

WC_EXPORT int32_t wch_receive(wch_conv* conv, unsigned char* buffer, int32_t capacity, int32_t* length,
                              int32_t* hand_over, int32_t timeout_ms)
{
    if (length)
        *length = 0;
    if (hand_over)
        *hand_over = 0;
    return onConversation(conv, buffer && capacity >= 0, Need::Open,
                          [&] { return receiveBlock(conv, buffer, capacity, length, hand_over, timeout_ms); });
}

namespace {
// Writes what waits in the send buffer; a failure ends the conversation.
int32_t flushBlocks(wch_conv* conv)
{
    if (conv->outbuf.empty())
        return CM_OK;
    Io io = conv->outbuf.flush(*conv->conn, Deadline::after(kWriteLimitMs));
    if (io == Io::Ok)
        return CM_OK;
    int32_t rc = io == Io::Error || io == Io::Eof ? CM_RESOURCE_FAILURE_RETRY : CM_RESOURCE_FAILURE_NO_RETRY;
    WC_TRACE(1, "host: sending failed: %s", conv->conn->m_strError.c_str());
    conv->end(rc, 0);
    return rc;
}

// Frames and raw bytes join the send buffer, behind the blocks already
// waiting; the buffer is written when the turn passes (hand-over, an end
// frame), for raw bytes, or when it is due. The caller has checked the
// conversation's state.
int32_t hostWrite(wch_conv* conv, uint8_t type, uint8_t flags, const unsigned char* data, size_t length, bool raw)
{
    if (raw)
        conv->outbuf.appendRaw(data, length);
    else
        conv->outbuf.appendFrame(type, flags, data, length);
    bool now = raw || type != kData || (flags & kFlagHandOver) != 0 || conv->outbuf.due();
    return now ? flushBlocks(conv) : CM_OK;
}
} // namespace

WC_EXPORT int32_t wch_send(wch_conv* conv, const unsigned char* data, int32_t length, int32_t hand_over)
{
    const bool argsOk =
        length >= 0 && length < WC_MAX_BLOCK && (data || length <= 0) && (hand_over == 0 || hand_over == 1);
    return onConversation(conv, argsOk, Need::Open, [&] {
        int32_t rc = hostWrite(conv, kData, hand_over ? kFlagHandOver : 0, data, static_cast<size_t>(length), false);
        if (rc == CM_OK)
            WC_TRACE(5, "host: sent block of %d bytes, hand-over %d", length, hand_over);
        return rc;
    });
}

WC_EXPORT int32_t wch_send_ack(wch_conv* conv)
{
    return wch_send(conv, nullptr, 0, 1);
}

WC_EXPORT int32_t wch_flush(wch_conv* conv)
{
    return onConversation(conv, true, Need::Open, [&] { return flushBlocks(conv); });
}

namespace {
int32_t hostEnd(wch_conv* conv, uint8_t type, int32_t endRc)
{
    return onConversation(conv, true, Need::Open, [&] {
        int32_t rc = hostWrite(conv, type, 0, nullptr, 0, false);
        if (rc == CM_OK) {
            WC_TRACE(3, "host: conversation %s", endRc == CM_DEALLOCATED_NORMAL ? "deallocated" : "stopped");
            conv->end(CM_OK, kLingerMs); // ended by this side: further calls are state checks
        }
        return rc;
    });
}
} // namespace

WC_EXPORT int32_t wch_deallocate(wch_conv* conv)
{
    return hostEnd(conv, kDealloc, CM_DEALLOCATED_NORMAL);
}

WC_EXPORT int32_t wch_stop(wch_conv* conv)
{
    return hostEnd(conv, kStop, CM_DEALLOCATED_ABEND);
}

WC_EXPORT int32_t wch_send_raw(wch_conv* conv, const void* bytes, size_t count)
{
    return onConversation(conv, bytes || count == 0, Need::Raw,
                          [&] { return hostWrite(conv, 0, 0, static_cast<const unsigned char*>(bytes), count, true); });
}

WC_EXPORT void wch_conv_free(wch_conv* conv)
{
    if (!conv)
        return;
    {
        std::lock_guard<std::mutex> lock(conv->op);
        // Blocks that wch_send accepted still reach the PC before the close.
        if (conv->conn && conv->state == wch_conv::State::Open)
            flushBlocks(conv);
        if (conv->conn)
            conv->conn->closeNow();
    }
    delete conv;
}
