// The PC side of the conversation: the cm_* calls.

#include "wirecomm.h"

#include "connection.h"
#include "crypto.h"
#include "export.h"
#include "frame.h"
#include "sendbuffer.h"
#include "trace.h"

#include <openssl/err.h>
#include <openssl/x509.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>

#include "sockets.h"

using namespace wc;

namespace {

const int64_t kWriteLimitMs = 60000; // a host that does not read for this long breaks the conversation
const int kLingerMs = 1000;          // waiting for the host to close after our last frame
const size_t kMaxName = 64;
const size_t kMaxPassword = 128;

// Process-wide defaults set by the cm_set_* calls without a conversation id.
struct Settings {
    int32_t mode = 1;
    int32_t securityLevel = 1;
    std::string commonName;
    std::string pemCa;
    bool pinSet = false;
    bool pinInvalid = false;
    std::array<unsigned char, 32> pin{};
};

std::mutex g_settingsLock;
Settings g_settings;

enum class State { Initialized, Allocated, Ended };

struct Conversation {
    std::mutex op; // one call at a time
    bool freed = false;
    State state = State::Initialized;
    int32_t endRc = 0;
    Settings settings;
    std::string symdest;
    std::string user;
    std::string tag;
    SecretBytes password;
    int32_t rcvTimeout = 0;
    std::unique_ptr<Connection> conn;
    ReceiveBuffer inbuf;
    SendBuffer outbuf; // blocks sent while the PC holds the turn, not yet written
    SSL_CTX* ctx = nullptr;

    ~Conversation() { release(); }
    void release()
    {
        conn.reset();
        if (ctx) {
            SSL_CTX_free(ctx);
            ctx = nullptr;
        }
        inbuf.clear();
        outbuf.clear();
    }
    void end(int32_t rc, int lingerMs)
    {
        if (conn)
            conn->closeGracefully(lingerMs);
        release();
        state = State::Ended;
        endRc = rc;
    }
};

std::mutex g_tableLock;
std::unordered_map<uint64_t, std::shared_ptr<Conversation>> g_table;
uint64_t g_nextId = 1;

uint64_t idOf(const unsigned char* cid)
{
    uint64_t id = 0;
    for (int i = WC_CID_SIZE - 1; i >= 0; --i)
        id = (id << 8) | cid[i];
    return id;
}

// The conversation of cid; sets rc to CM_PROGRAM_PARAMETER_CHECK when there
// is none. zeroOk: an all-zero id gives null with CM_OK.
std::shared_ptr<Conversation> lookup(const unsigned char* cid, int32_t& rc, bool zeroOk = false)
{
    if (!cid) {
        rc = CM_PROGRAM_PARAMETER_CHECK;
        return nullptr;
    }
    uint64_t id = idOf(cid);
    if (id == 0) {
        rc = zeroOk ? CM_OK : CM_PROGRAM_PARAMETER_CHECK;
        return nullptr;
    }
    std::lock_guard<std::mutex> lock(g_tableLock);
    auto it = g_table.find(id);
    if (it == g_table.end()) {
        rc = CM_PROGRAM_PARAMETER_CHECK;
        return nullptr;
    }
    rc = CM_OK;
    return it->second;
}

void forget(const unsigned char* cid)
{
    std::lock_guard<std::mutex> lock(g_tableLock);
    g_table.erase(idOf(cid));
}

const char* envOr(const char* name, const char* fallback)
{
    const char* v = std::getenv(name);
    return (v && *v) ? v : fallback;
}

int passPhraseCallback(char* buf, int size, int, void*)
{
    const char* pass = std::getenv("WIRECOMM_CLIENT_KEY_PASS");
    if (!pass)
        return 0;
    size_t n = std::strlen(pass);
    if (n > static_cast<size_t>(size))
        return 0;
    std::memcpy(buf, pass, n);
    return static_cast<int>(n);
}

// Binds the socket to the PC's own port on any address of its family.
bool bindLocalPort(int s, int family, uint16_t pcPort)
{
    sock::setIntOption(s, SOL_SOCKET, SO_REUSEADDR, 1);
    struct sockaddr_storage local;
    std::memset(&local, 0, sizeof local);
    socklen_t localLen;
    if (family == AF_INET6) {
        auto* a6 = reinterpret_cast<struct sockaddr_in6*>(&local);
        a6->sin6_family = AF_INET6;
        a6->sin6_addr = in6addr_any;
        a6->sin6_port = htons(pcPort);
        localLen = sizeof *a6;
    } else {
        auto* a4 = reinterpret_cast<struct sockaddr_in*>(&local);
        a4->sin_family = AF_INET;
        a4->sin_addr.s_addr = htonl(INADDR_ANY);
        a4->sin_port = htons(pcPort);
        localLen = sizeof *a4;
    }
    if (bind(s, reinterpret_cast<struct sockaddr*>(&local), localLen) != 0) {
        WC_TRACE(1, "cannot bind local port %u: %s", pcPort, sock::errorText(sock::lastError()).c_str());
        return false;
    }
    return true;
}

// Connects the non-blocking socket to one address: 0 once connected, else an
// errno value. waited tells whether the connect got under way, so that
// ETIMEDOUT means the deadline passed.
int connectWithin(int s, const struct addrinfo* ai, const Deadline& deadline, bool& waited)
{
    waited = false;
    if (connect(s, ai->ai_addr, static_cast<int>(ai->ai_addrlen)) == 0)
        return 0;
    // A non-blocking connect under way: EINPROGRESS on POSIX, EWOULDBLOCK on Windows.
    const int started = sock::lastError();
    if (started != EINPROGRESS && started != EWOULDBLOCK && started != EINTR)
        return started;
    waited = true;
    for (;;) {
        pollfd p = sock::pollEntry(s, POLLOUT);
        int ms = deadline.pollMs();
        int n = ms == 0 ? 0 : sock::pollSockets(&p, 1, ms);
        if (n < 0 && sock::lastError() == EINTR)
            continue;
        if (n <= 0)
            return ETIMEDOUT;
        return sock::pendingError(s);
    }
}

// Connects within the deadline, trying each address of the host in turn;
// returns the socket or -1 with rc.
int connectTo(const char* ip, uint16_t hostPort, uint16_t pcPort, const Deadline& deadline, int32_t& rc)
{
    if (!sock::startup()) {
        WC_TRACE(1, "cannot start the sockets");
        rc = CM_PRODUCT_SPECIFIC_ERROR;
        return -1;
    }
    struct addrinfo hints;
    std::memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    std::string port = std::to_string(hostPort);
    struct addrinfo* list = nullptr;
    int gai = getaddrinfo(ip, port.c_str(), &hints, &list);
    if (gai != 0 || !list) {
        WC_TRACE(1, "cannot resolve host address '%s': %s", ip, gai_strerror(gai));
        rc = CM_PARAMETER_ERROR;
        return -1;
    }
    rc = CM_ALLOCATE_FAILURE_RETRY;
    int fd = -1;
    for (struct addrinfo* ai = list; ai && fd < 0; ai = ai->ai_next) {
        int s = static_cast<int>(socket(ai->ai_family, SOCK_STREAM, 0));
        if (s < 0 || !prepareSocket(s)) {
            const int e = sock::lastError();
            if (s >= 0)
                sock::closeSocket(s);
            WC_TRACE(1, "socket: %s", sock::errorText(e).c_str());
            rc = CM_PRODUCT_SPECIFIC_ERROR;
            continue;
        }
        sock::setIntOption(s, IPPROTO_TCP, TCP_NODELAY, 1);
        if (pcPort != 0 && !bindLocalPort(s, ai->ai_family, pcPort)) {
            sock::closeSocket(s);
            rc = CM_ALLOCATE_FAILURE_RETRY;
            continue;
        }
        bool waited = false;
        const int e = connectWithin(s, ai, deadline, waited);
        if (e == 0) {
            fd = s;
            continue;
        }
        // The deadline is the whole allocation's: no time is left for the next address.
        const bool deadlinePassed = waited && e == ETIMEDOUT;
        if (deadlinePassed)
            WC_TRACE(1, "connect to %s:%u: no answer within the connection time limit", ip, hostPort);
        else
            WC_TRACE(1, "connect to %s:%u: %s", ip, hostPort, sock::errorText(e).c_str());
        rc = e == ECONNREFUSED ? CM_ALLOCATE_FAILURE_NO_RETRY : CM_ALLOCATE_FAILURE_RETRY;
        sock::closeSocket(s);
        if (deadlinePassed)
            break;
    }
    freeaddrinfo(list);
    if (fd >= 0)
        rc = CM_OK;
    return fd;
}

// Builds the TLS context of modes 3 and 4.
SSL_CTX* clientContext(const Settings& s, int32_t& rc)
{
    initOpenSsl();
    SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
    if (!ctx) {
        WC_TRACE(1, "TLS context: %s", opensslErrors().c_str());
        rc = CM_PRODUCT_SPECIFIC_ERROR;
        return nullptr;
    }
    SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
    SSL_CTX_set_security_level(ctx, s.securityLevel);
    SSL_CTX_set_options(ctx, SSL_OP_IGNORE_UNEXPECTED_EOF);
    SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, nullptr);

    std::string ca = s.pemCa;
    if (ca.empty() && s.mode == 4)
        ca = envOr("WIRECOMM_PEM_CA", "");
    if (!ca.empty()) {
        if (SSL_CTX_load_verify_locations(ctx, ca.c_str(), nullptr) != 1) {
            WC_TRACE(1, "cannot load trusted certificates from '%s': %s", ca.c_str(), opensslErrors().c_str());
            SSL_CTX_free(ctx);
            rc = CM_PARAMETER_ERROR;
            return nullptr;
        }
        WC_TRACE(3, "trusted certificates from '%s'", ca.c_str());
    } else {
        SSL_CTX_set_default_verify_paths(ctx);
        WC_TRACE(3, "trusted certificates from the system trust store");
    }

    if (s.mode == 4) {
        const char* cert = envOr("WIRECOMM_CLIENT_CERT", "wirecomm-client.crt");
        const char* key = envOr("WIRECOMM_CLIENT_KEY", "wirecomm-client.key");
        SSL_CTX_set_default_passwd_cb(ctx, passPhraseCallback);
        if (SSL_CTX_use_certificate_chain_file(ctx, cert) != 1 ||
            SSL_CTX_use_PrivateKey_file(ctx, key, SSL_FILETYPE_PEM) != 1 || SSL_CTX_check_private_key(ctx) != 1) {
            // The error text names files and reasons, never key contents.
            WC_TRACE(1, "cannot use client certificate '%s' with key '%s': %s", cert, key, opensslErrors().c_str());
            SSL_CTX_free(ctx);
            rc = CM_PARAMETER_ERROR;
            return nullptr;
        }
        WC_TRACE(3, "client certificate '%s'", cert);
    }
    rc = CM_OK;
    return ctx;
}

// Checks the server certificate beyond the chain: common name and pin.
int32_t checkServer(Conversation& c)
{
    X509* cert = SSL_get1_peer_certificate(c.conn->ssl());
    if (!cert) {
        WC_TRACE(1, "the host presented no certificate");
        return CM_SECURITY_MUTUAL_FAILED;
    }
    int32_t rc = CM_OK;
    std::string cn = commonNameOf(cert);
    std::string expected = c.settings.commonName;
    if (expected.empty() && c.settings.mode == 4)
        expected = envOr("WIRECOMM_COMMON_NAME", "");
    if (!expected.empty() && expected != "*" && !sameName(cn, expected)) {
        WC_TRACE(1, "server certificate common name '%s' is not the expected '%s'", cn.c_str(), expected.c_str());
        rc = CM_SECURITY_MUTUAL_FAILED;
    }
    if (rc == CM_OK && c.settings.pinSet) {
        unsigned char fp[32];
        if (!publicKeyFingerprint(cert, fp) || CRYPTO_memcmp(fp, c.settings.pin.data(), 32) != 0) {
            WC_TRACE(1, "server public key does not match the configured fingerprint");
            rc = CM_SECURITY_MUTUAL_FAILED;
        }
    }
    if (rc == CM_OK)
        WC_TRACE(3, "server certificate accepted, common name '%s'", cn.c_str());
    X509_free(cert);
    return rc;
}

// Reads the host's answer frame of the allocation steps.
// The code of a host that refuses a conversation or an allocation. The codes
// a host gives for that pass unchanged; any other code would describe the
// PC's own call or a conversation that does not exist yet (a parameter or
// state check, a normal end), so from the host it is a failed allocation.
int32_t hostRefusal(int32_t rc)
{
    switch (rc) {
    case CM_OK:
    case CM_ALLOCATE_FAILURE_NO_RETRY:
    case CM_ALLOCATE_FAILURE_RETRY:
    case CM_CONVERSATION_TYPE_MISMATCH:
    case CM_SECURITY_NOT_VALID:
    case CM_TPN_NOT_RECOGNIZED:
    case CM_TP_NOT_AVAILABLE_NO_RETRY:
    case CM_TP_NOT_AVAILABLE_RETRY:
    case CM_PRODUCT_SPECIFIC_ERROR:
    case CM_SECURITY_NOT_SUPPORTED:
        return rc;
    default:
        return CM_ALLOCATE_FAILURE_NO_RETRY;
    }
}

int32_t readReply(Conversation& c, uint8_t type, const Deadline& deadline, Frame& f)
{
    std::string why;
    FrameResult r = readFrame(*c.conn, c.inbuf, deadline, f, why);
    if (r == FrameResult::Timeout) {
        WC_TRACE(1, "no answer of the host within the connection time limit");
        return CM_ALLOCATE_FAILURE_RETRY;
    }
    if (r != FrameResult::Ok) {
        WC_TRACE(1, "allocation failed: %s", why.empty() ? "connection lost" : why.c_str());
        return CM_ALLOCATE_FAILURE_NO_RETRY;
    }
    if (f.type != type) {
        WC_TRACE(1, "allocation failed: unexpected frame type 0x%02x", f.type);
        return CM_ALLOCATE_FAILURE_NO_RETRY;
    }
    return CM_OK;
}

// Writes one frame: timeoutRc when the deadline passes, failRc when the
// connection fails.
int32_t sendFrame(Conversation& c, uint8_t type, uint8_t flags, const unsigned char* p, size_t n,
                  const Deadline& deadline, int32_t timeoutRc, int32_t failRc)
{
    Io io = writeFrame(*c.conn, type, flags, p, n, deadline);
    switch (io) {
    case Io::Ok:
        return CM_OK;
    case Io::Timeout:
        WC_TRACE(1, "sending timed out");
        return timeoutRc;
    default:
        WC_TRACE(1, "sending failed: %s", c.conn->m_strError.c_str());
        return failRc;
    }
}

void appendString(std::vector<unsigned char>& out, const unsigned char* p, size_t n)
{
    unsigned char len[2];
    putU16(len, static_cast<uint16_t>(n));
    out.insert(out.end(), len, len + 2);
    out.insert(out.end(), p, p + n);
}

// The settings and arguments of an allocation, checked before anything
// reaches the network.
int32_t checkAllocation(const Settings& s, const char* ip, int32_t passwordCheck)
{
    if (s.mode == 2) {
        WC_TRACE(1, "crypt mode 2 is reserved and not supported");
        return CM_SECURITY_NOT_SUPPORTED;
    }
    if (s.mode != 1 && s.mode != 3 && s.mode != 4) {
        WC_TRACE(1, "crypt mode %d is not supported", s.mode);
        return CM_SECURITY_NOT_SUPPORTED;
    }
    if (s.pinInvalid) {
        WC_TRACE(1, "the crypt key is not a SHA-256 fingerprint of 64 hex digits");
        return CM_PARAMETER_ERROR;
    }
    if (!ip || !*ip) {
        WC_TRACE(1, "no host address");
        return CM_PARAMETER_ERROR;
    }
    if (passwordCheck != 0 && passwordCheck != 1) {
        WC_TRACE(1, "password check %d is neither 0 nor 1", passwordCheck);
        return CM_PROGRAM_PARAMETER_CHECK;
    }
    return CM_OK;
}

// The TLS handshake of modes 3 and 4 and the checks of the host's
// certificate, before the host learns anything of the user.
int32_t startTls(Conversation& c, const Deadline& deadline)
{
    if (!c.conn->attachTls(c.ctx))
        return CM_PRODUCT_SPECIFIC_ERROR;
    Io io = c.conn->handshake(false, deadline);
    if (io != Io::Ok) {
        long verify = SSL_get_verify_result(c.conn->ssl());
        if (io == Io::Timeout) {
            WC_TRACE(1, "TLS handshake: no answer within the connection time limit");
            return CM_ALLOCATE_FAILURE_RETRY;
        }
        if (verify != X509_V_OK) {
            WC_TRACE(1, "TLS handshake: server certificate not accepted: %s", X509_verify_cert_error_string(verify));
            return CM_SECURITY_MUTUAL_FAILED;
        }
        WC_TRACE(1, "TLS handshake failed: %s", c.conn->m_strError.c_str());
        return CM_ALLOCATE_FAILURE_NO_RETRY;
    }
    WC_TRACE(3, "TLS established: %s, %s", SSL_get_version(c.conn->ssl()), SSL_get_cipher_name(c.conn->ssl()));
    return checkServer(c);
}

// hello: protocol version and crypt mode; mode 1 adds our public key and
// seals the password with the secret agreed on the host's key, the TLS
// modes send it as it is, inside the TLS channel. secretField receives
// what the allocation carries in the password's place.
int32_t exchangeHello(Conversation& c, const Deadline& deadline, std::vector<unsigned char>& secretField)
{
    const Settings& s = c.settings;
    std::unique_ptr<EphemeralKey> key;
    unsigned char pcKey[32];
    std::vector<unsigned char> hello = {kProtocolVersion, static_cast<unsigned char>(s.mode)};
    if (s.mode == 1) {
        key.reset(new EphemeralKey());
        if (!key->ok() || !key->publicKey(pcKey)) {
            WC_TRACE(1, "key agreement: %s", opensslErrors().c_str());
            return CM_PRODUCT_SPECIFIC_ERROR;
        }
        hello.insert(hello.end(), pcKey, pcKey + 32);
    }
    int32_t rc = sendFrame(c, kHello, 0, hello.data(), hello.size(), deadline, CM_ALLOCATE_FAILURE_RETRY,
                           CM_ALLOCATE_FAILURE_NO_RETRY);
    if (rc != CM_OK)
        return rc;
    Frame f;
    rc = readReply(c, kHelloReply, deadline, f);
    if (rc != CM_OK)
        return rc;
    if (f.payload.size() < 5 || f.payload[0] != kProtocolVersion) {
        WC_TRACE(1, "allocation failed: the host speaks another protocol version");
        return CM_ALLOCATE_FAILURE_NO_RETRY;
    }
    rc = hostRefusal(static_cast<int32_t>(getU32(f.payload.data() + 1)));
    if (rc != CM_OK) {
        WC_TRACE(1, "the host refused the conversation: %d %s", rc, cm_rc2str(rc));
        return rc;
    }

    if (s.mode == 1) {
        if (f.payload.size() != 5 + 32) {
            WC_TRACE(1, "allocation failed: the host sent no key");
            return CM_ALLOCATE_FAILURE_NO_RETRY;
        }
        SecretBytes envelopeKey;
        // A host key that gives no usable secret (an all-zero X25519 result
        // from a small-order key, a key OpenSSL refuses) is the PC's own
        // refusal of the host: the password is never sent, and the code is
        // not the host's "security not valid".
        if (!key->agree(f.payload.data() + 5, pcKey, f.payload.data() + 5, envelopeKey)) {
            WC_TRACE(1, "key agreement failed: the host's key gives no shared secret");
            return CM_SECURITY_MUTUAL_FAILED;
        }
        if (!sealPassword(envelopeKey, c.user, c.password, secretField)) {
            WC_TRACE(1, "password encryption failed: %s", opensslErrors().c_str());
            return CM_PRODUCT_SPECIFIC_ERROR;
        }
    } else {
        if (f.payload.size() != 5) {
            WC_TRACE(1, "allocation failed: malformed hello reply");
            return CM_ALLOCATE_FAILURE_NO_RETRY;
        }
        secretField.assign(c.password.data(), c.password.data() + c.password.size());
    }
    return CM_OK;
}

// The allocation itself: member, user, tag and the password field; the
// host's answer is the allocation's result. The secret is wiped from every
// buffer that held it.
int32_t sendAllocation(Conversation& c, const Deadline& deadline, int32_t passwordCheck,
                       std::vector<unsigned char>& secretField)
{
    std::vector<unsigned char> alloc;
    alloc.reserve(kMaxAllocPayload);
    alloc.push_back(static_cast<unsigned char>(passwordCheck));
    appendString(alloc, reinterpret_cast<const unsigned char*>(c.symdest.data()), c.symdest.size());
    appendString(alloc, reinterpret_cast<const unsigned char*>(c.user.data()), c.user.size());
    appendString(alloc, reinterpret_cast<const unsigned char*>(c.tag.data()), c.tag.size());
    appendString(alloc, secretField.data(), secretField.size());
    OPENSSL_cleanse(secretField.data(), secretField.size());
    int32_t rc = sendFrame(c, kAlloc, 0, alloc.data(), alloc.size(), deadline, CM_ALLOCATE_FAILURE_RETRY,
                           CM_ALLOCATE_FAILURE_NO_RETRY);
    OPENSSL_cleanse(alloc.data(), alloc.size());
    if (rc != CM_OK)
        return rc;
    Frame f;
    rc = readReply(c, kAllocReply, deadline, f);
    if (rc != CM_OK)
        return rc;
    if (f.payload.size() != 4) {
        WC_TRACE(1, "allocation failed: malformed allocation reply");
        return CM_ALLOCATE_FAILURE_NO_RETRY;
    }
    rc = hostRefusal(static_cast<int32_t>(getU32(f.payload.data())));
    if (rc != CM_OK)
        WC_TRACE(1, "the host rejected the allocation: %d %s", rc, cm_rc2str(rc));
    return rc;
}

int32_t allocate(Conversation& c, const char* ip, uint16_t hostPort, uint16_t pcPort, int32_t t1Seconds,
                 int32_t passwordCheck)
{
    const Settings& s = c.settings;
    int32_t rc = checkAllocation(s, ip, passwordCheck);
    if (rc != CM_OK)
        return rc;
    Deadline deadline = Deadline::after(t1Seconds > 0 ? int64_t(t1Seconds) * 1000 : -1);
    WC_TRACE(3,
             "allocating member '%s' for user '%s' at %s:%u (local port %u), crypt mode %d, "
             "security level %d, time limit %d s, password check %d",
             c.symdest.c_str(), c.user.c_str(), ip, hostPort, pcPort, s.mode, s.securityLevel, t1Seconds,
             passwordCheck);

    if (s.mode != 1) {
        c.ctx = clientContext(s, rc);
        if (!c.ctx)
            return rc;
    }
    int fd = connectTo(ip, hostPort, pcPort, deadline, rc);
    if (fd < 0)
        return rc;
    c.conn.reset(new Connection(fd));
    WC_TRACE(3, "connected to %s:%u", ip, hostPort);

    if (c.ctx) {
        rc = startTls(c, deadline);
        if (rc != CM_OK)
            return rc;
    }
    std::vector<unsigned char> secretField;
    rc = exchangeHello(c, deadline, secretField);
    if (rc == CM_OK)
        rc = sendAllocation(c, deadline, passwordCheck, secretField);
    // A refusal after the hello leaves no secret behind either.
    OPENSSL_cleanse(secretField.data(), secretField.size());
    return rc;
}

// Writes the blocks waiting in the send buffer. A failure ends the
// conversation with the code a failed send gives.
int32_t flushBlocks(Conversation& c)
{
    if (c.outbuf.empty())
        return CM_OK;
    size_t bytes = c.outbuf.size();
    Io io = c.outbuf.flush(*c.conn, Deadline::after(kWriteLimitMs));
    if (io == Io::Ok) {
        WC_TRACE(5, "wrote %zu bytes of blocks", bytes);
        return CM_OK;
    }
    int32_t rc;
    if (io == Io::Timeout) {
        WC_TRACE(1, "send: the host did not take the blocks within %lld s",
                 static_cast<long long>(kWriteLimitMs / 1000));
        rc = CM_RESOURCE_FAILURE_NO_RETRY;
    } else if (io == Io::Protocol) {
        WC_TRACE(1, "send: TLS failure: %s", c.conn->m_strError.c_str());
        rc = CM_RESOURCE_FAILURE_NO_RETRY;
    } else {
        WC_TRACE(1, "send: connection lost: %s", c.conn->m_strError.c_str());
        rc = CM_RESOURCE_FAILURE_RETRY;
    }
    c.end(rc, 0);
    return rc;
}

// Frames that have already arrived when the conversation is being ended:
// an end frame of the host means that there is nothing left to end.
int32_t endFrameWaiting(Conversation& c)
{
    for (int i = 0; i < 64; ++i) {
        Frame f;
        std::string why;
        FrameResult r = readFrame(*c.conn, c.inbuf, Deadline::after(0), f, why);
        if (r == FrameResult::Timeout)
            return CM_OK;
        if (r != FrameResult::Ok)
            return r == FrameResult::Closed || r == FrameResult::Failed ? CM_RESOURCE_FAILURE_RETRY
                                                                        : CM_RESOURCE_FAILURE_NO_RETRY;
        if (f.type == kDealloc)
            return CM_DEALLOCATED_NORMAL;
        if (f.type == kStop)
            return CM_DEALLOCATED_ABEND;
    }
    return CM_OK;
}

// What a cm_* call needs of its conversation's state.
enum class Need {
    Initialized, // before the allocation
    Allocated,   // allocated; once ended, the call gives the code that ended it
    Ending,      // any state; an all-zero id is no conversation begun, nothing to end
};

// The start that the cm_* calls on a conversation share, in the order their
// codes are checked: the conversation of cid must exist and must not have
// been freed, and the call's own arguments must be valid (argsOk; a failure
// of either is traced as invalid arguments of the call named), else
// CM_PROGRAM_PARAMETER_CHECK; it must be in the state the call needs, else
// CM_PROGRAM_STATE_CHECK. Then body(conversation, rc) runs under the
// conversation's lock; rc may be null. When body does not run the call
// returns a value-initialised result.
template <typename Body>
auto onConversation(unsigned char* cid, int32_t* rc, Need need, Body body, const char* call = nullptr,
                    bool argsOk = true) -> decltype(body(std::declval<Conversation&>(), *rc))
{
    using Result = decltype(body(std::declval<Conversation&>(), *rc));
    int32_t dummy;
    if (!rc)
        rc = &dummy;
    auto c = lookup(cid, *rc, need == Need::Ending);
    if (!c)
        return Result();
    std::lock_guard<std::mutex> lock(c->op);
    if (c->freed || !argsOk) {
        if (call)
            WC_TRACE(1, "%s: invalid arguments", call);
        *rc = CM_PROGRAM_PARAMETER_CHECK;
        return Result();
    }
    if (need == Need::Initialized && c->state != State::Initialized) {
        *rc = CM_PROGRAM_STATE_CHECK;
        return Result();
    }
    if (need == Need::Allocated && c->state == State::Initialized) {
        *rc = CM_PROGRAM_STATE_CHECK;
        return Result();
    }
    if (need == Need::Allocated && c->state == State::Ended) {
        *rc = c->endRc;
        return Result();
    }
    return body(*c, *rc);
}

// cm_deal and cm_stop.
void finish(unsigned char* cid, int32_t* rc, uint8_t type)
{
    onConversation(cid, rc, Need::Ending, [&](Conversation& c, int32_t& rc) {
        rc = CM_OK;
        if (c.state == State::Allocated) {
            int32_t pending = endFrameWaiting(c);
            if (pending == CM_DEALLOCATED_NORMAL || pending == CM_DEALLOCATED_ABEND) {
                WC_TRACE(3, "the host had already ended the conversation (%d)", pending);
            } else if (pending != CM_OK) {
                WC_TRACE(1, "the connection to the host is lost");
                rc = pending;
            } else {
                // the blocks still waiting in the send buffer go first, with the end frame
                c.outbuf.appendFrame(type, 0, nullptr, 0);
                Io io = c.outbuf.flush(*c.conn, Deadline::after(kWriteLimitMs));
                rc = io == Io::Ok        ? CM_OK
                     : io == Io::Timeout ? CM_RESOURCE_FAILURE_NO_RETRY
                                         : CM_RESOURCE_FAILURE_RETRY;
                if (rc != CM_OK)
                    WC_TRACE(1, "sending the end failed: %s",
                             io == Io::Timeout ? "timed out" : c.conn->m_strError.c_str());
                if (rc == CM_OK)
                    WC_TRACE(3, "conversation %s", type == kDealloc ? "deallocated" : "stopped");
            }
            c.end(rc, kLingerMs);
        }
        c.password.wipe();
        c.release();
        c.freed = true;
        forget(cid);
    });
}

} // namespace

WC_EXPORT void cm_init_logger(int32_t level, const char* config_file)
{
    traceConfigure(level, config_file);
    WC_TRACE(3, "trace started at level %d", level);
}

WC_EXPORT void cm_set_crypt_mode(int32_t mode)
{
    std::lock_guard<std::mutex> lock(g_settingsLock);
    g_settings.mode = mode;
}

WC_EXPORT void cm_set_security_level(int32_t level)
{
    std::lock_guard<std::mutex> lock(g_settingsLock);
    g_settings.securityLevel = level;
}

WC_EXPORT void cm_set_common_name(const char* common_name)
{
    std::lock_guard<std::mutex> lock(g_settingsLock);
    g_settings.commonName = common_name ? common_name : "";
}

WC_EXPORT void cm_set_pem_ca(const char* pem_file)
{
    std::lock_guard<std::mutex> lock(g_settingsLock);
    g_settings.pemCa = pem_file ? pem_file : "";
}

WC_EXPORT void cm_set_crypt_key(const char* key)
{
    std::lock_guard<std::mutex> lock(g_settingsLock);
    g_settings.pinSet = false;
    g_settings.pinInvalid = false;
    OPENSSL_cleanse(g_settings.pin.data(), g_settings.pin.size());
    if (!key || !*key)
        return;
    if (parseFingerprint(key, g_settings.pin))
        g_settings.pinSet = true;
    else
        g_settings.pinInvalid = true;
}

WC_EXPORT void cm_init(unsigned char* cid, const char* symdest, int32_t* rc)
{
    int32_t dummy;
    if (!rc)
        rc = &dummy;
    if (!cid) {
        *rc = CM_PROGRAM_PARAMETER_CHECK;
        return;
    }
    std::memset(cid, 0, WC_CID_SIZE);
    if (!symdest || !*symdest || std::strlen(symdest) > kMaxName) {
        WC_TRACE(1, "cm_init: symbolic destination missing or longer than %zu bytes", kMaxName);
        *rc = CM_PARAMETER_ERROR;
        return;
    }
    auto c = std::make_shared<Conversation>();
    {
        std::lock_guard<std::mutex> lock(g_settingsLock);
        c->settings = g_settings;
    }
    c->symdest = symdest;
    uint64_t id;
    {
        std::lock_guard<std::mutex> lock(g_tableLock);
        id = g_nextId++;
        g_table.emplace(id, c);
    }
    for (int i = 0; i < WC_CID_SIZE; ++i)
        cid[i] = static_cast<unsigned char>(id >> (8 * i));
    WC_TRACE(3, "cm_init: conversation %llu for member '%s'", static_cast<unsigned long long>(id), symdest);
    *rc = CM_OK;
}

WC_EXPORT void cm_set_rcv_timeout(unsigned char* cid, int32_t seconds)
{
    int32_t rc;
    auto c = lookup(cid, rc);
    if (!c)
        return;
    std::lock_guard<std::mutex> lock(c->op);
    c->rcvTimeout = seconds;
}

namespace {
// cm_scsu, cm_scsp and cm_set_tag: one text field before the allocation.
template <typename Store>
void setField(unsigned char* cid, const char* value, int32_t* rc, size_t minLen, size_t maxLen, Store store)
{
    onConversation(cid, rc, Need::Initialized, [&](Conversation& c, int32_t& rc) {
        size_t len = value ? std::strlen(value) : 0;
        if (!value || len < minLen || len > maxLen) {
            rc = CM_PROGRAM_PARAMETER_CHECK;
            return;
        }
        store(c, value, len);
        rc = CM_OK;
    });
}
} // namespace

WC_EXPORT void cm_scsu(unsigned char* cid, const char* userid, int32_t* rc)
{
    setField(cid, userid, rc, 1, kMaxName, [](Conversation& c, const char* v, size_t) { c.user = v; });
}

WC_EXPORT void cm_scsp(unsigned char* cid, const char* password, int32_t* rc)
{
    setField(cid, password, rc, 0, kMaxPassword,
             [](Conversation& c, const char* v, size_t n) { c.password.assign(v, n); });
}

WC_EXPORT void cm_set_tag(unsigned char* cid, const char* tag, int32_t* rc)
{
    setField(cid, tag, rc, 0, kMaxName, [](Conversation& c, const char* v, size_t) { c.tag = v; });
}

WC_EXPORT void cm_allc(unsigned char* cid, const char* ip_address, uint16_t host_port, uint16_t pc_port,
                       int32_t t1_seconds, int32_t password_check, int32_t* rc)
{
    onConversation(cid, rc, Need::Initialized, [&](Conversation& c, int32_t& rc) {
        rc = allocate(c, ip_address, host_port, pc_port, t1_seconds, password_check);
        if (rc == CM_OK) {
            c.state = State::Allocated;
            WC_TRACE(3, "conversation allocated");
        } else {
            c.end(CM_PROGRAM_STATE_CHECK, 0); // no conversation to send or receive on
        }
        // The password is needed no longer.
        c.password.wipe();
    });
}

WC_EXPORT void cm_send_bin(unsigned char* cid, const unsigned char* buffer, int32_t* length, int32_t send_type,
                           int32_t* status, int32_t* rc, int32_t hand_over)
{
    if (status)
        *status = 0;
    const bool argsOk = length && *length >= 0 && *length < WC_MAX_BLOCK && (buffer || *length <= 0) &&
                        send_type == 0 && (hand_over == 0 || hand_over == 1);
    onConversation(
        cid, rc, Need::Allocated,
        [&](Conversation& c, int32_t& rc) {
            // The block joins the send buffer; the buffer is written when the turn
            // passes, when it is full or its first block has waited long enough.
            c.outbuf.appendFrame(kData, hand_over ? kFlagHandOver : 0, buffer, static_cast<size_t>(*length));
            WC_TRACE(5, "sent block of %d bytes, hand-over %d", *length, hand_over);
            rc = hand_over || c.outbuf.due() ? flushBlocks(c) : CM_OK;
        },
        "cm_send_bin", argsOk);
}

WC_EXPORT void cm_flush(unsigned char* cid, int32_t* rc)
{
    onConversation(cid, rc, Need::Allocated, [](Conversation& c, int32_t& rc) { rc = flushBlocks(c); });
}

namespace {
// cm_rcv_bin once its arguments and the conversation's state are checked.
int32_t receiveBlock(Conversation& c, int32_t& rc, unsigned char* buffer, int32_t requested_length,
                     int32_t* data_received, int32_t* status_received)
{
    size_t capacity = requested_length == 0 ? WC_MAX_BLOCK : static_cast<size_t>(requested_length);
    // Blocks still waiting to be sent go out before the wait for the host.
    rc = flushBlocks(c);
    if (rc != CM_OK)
        return 0;
    // A block that is already in the buffer needs no clock.
    Deadline deadline =
        c.inbuf.holdsFrame() || c.rcvTimeout <= 0 ? Deadline::never() : Deadline::after(int64_t(c.rcvTimeout) * 1000);
    FrameView f;
    std::string why;
    FrameResult r = nextFrame(*c.conn, c.inbuf, deadline, f, why);
    switch (r) {
    case FrameResult::Ok:
        break;
    case FrameResult::Timeout:
        WC_TRACE(3, "receive: nothing within %d s", c.rcvTimeout);
        rc = CM_OPERATION_INCOMPLETE;
        return 0;
    case FrameResult::Closed:
    case FrameResult::Failed:
        WC_TRACE(1, "receive: connection lost: %s", why.c_str());
        rc = CM_RESOURCE_FAILURE_RETRY;
        c.end(rc, 0);
        return 0;
    default:
        WC_TRACE(1, "receive: refused: %s", why.c_str());
        rc = CM_RESOURCE_FAILURE_NO_RETRY;
        c.end(rc, 0);
        return 0;
    }
    if (f.type == kDealloc) {
        WC_TRACE(3, "receive: the host deallocated the conversation");
        rc = CM_DEALLOCATED_NORMAL;
        c.end(rc, 0);
        return 0;
    }
    if (f.type == kStop) {
        WC_TRACE(1, "receive: the host stopped the conversation");
        rc = CM_DEALLOCATED_ABEND;
        c.end(rc, 0);
        return 0;
    }
    if (f.type != kData) {
        WC_TRACE(1, "receive: refused: unexpected frame type 0x%02x", f.type);
        rc = CM_RESOURCE_FAILURE_NO_RETRY;
        c.end(rc, 0);
        return 0;
    }
    if (f.length > capacity) {
        WC_TRACE(1, "receive: block of %zu bytes does not fit the buffer of %zu bytes; dropped", f.length, capacity);
        rc = CM_PROGRAM_PARAMETER_CHECK;
        return 0;
    }
    if (f.length > 0)
        std::memcpy(buffer, f.payload, f.length);
    if (data_received)
        *data_received = f.length == 0 ? 0 : 2;
    if (status_received)
        *status_received = (f.flags & kFlagHandOver) ? 1 : 0;
    WC_TRACE(5, "received block of %zu bytes%s", f.length, (f.flags & kFlagHandOver) ? ", hand-over" : "");
    rc = CM_OK;
    return static_cast<int32_t>(f.length);
}
} // namespace

WC_EXPORT int32_t cm_rcv_bin(unsigned char* cid, unsigned char* buffer, int32_t requested_length, int32_t* rc,
                             int32_t* data_received, int32_t* status_received)
{
    if (data_received)
        *data_received = 0;
    if (status_received)
        *status_received = 0;
    const bool argsOk = buffer && requested_length >= 0 && requested_length <= WC_MAX_BLOCK;
    return onConversation(
        cid, rc, Need::Allocated,
        [&](Conversation& c, int32_t& rc) {
            return receiveBlock(c, rc, buffer, requested_length, data_received, status_received);
        },
        "cm_rcv_bin", argsOk);
}

WC_EXPORT void cm_stop(unsigned char* cid, int32_t* rc)
{
    finish(cid, rc, kStop);
}

WC_EXPORT void cm_deal(unsigned char* cid, int32_t* rc)
{
    finish(cid, rc, kDealloc);
}
