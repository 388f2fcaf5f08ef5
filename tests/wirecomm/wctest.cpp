#include "wctest.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/sha.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <sstream>
#include <stdexcept>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

namespace wctest {

TempDir::TempDir()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "wirecomm-test-XXXXXX").string();
    if (mkdtemp(&pattern[0]) != nullptr)
        m_path = pattern;
}

TempDir::~TempDir()
{
    std::error_code ec;
    if (!m_path.empty())
        std::filesystem::remove_all(m_path, ec);
}

std::string TempDir::write(const std::string& name, const std::string& content) const
{
    std::string p = file(name);
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    return p;
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

int64_t nowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

namespace {

EVP_PKEY* makeKey(const std::string& kind)
{
    if (kind == "rsa1024")
        return EVP_RSA_gen(1024);
    return EVP_EC_gen("P-256");
}

void addExtension(X509* cert, X509* issuer, int nid, const char* value)
{
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    if (!ext)
        throw std::runtime_error("extension");
    X509_add_ext(cert, ext, -1);
    X509_EXTENSION_free(ext);
}

X509* makeCert(EVP_PKEY* key, const std::string& cn, X509* issuer, EVP_PKEY* issuerKey, long serial)
{
    X509* cert = X509_new();
    X509_set_version(cert, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert), serial);
    X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert), 86400L);
    X509_set_pubkey(cert, key);
    X509_NAME* name = X509_get_subject_name(cert);
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("wirecomm tests"), -1, -1, 0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(cn.c_str()), -1, -1, 0);
    X509_set_issuer_name(cert, issuer ? X509_get_subject_name(issuer) : name);
    addExtension(cert, issuer ? issuer : cert, NID_basic_constraints,
                 issuer ? "critical,CA:FALSE" : "critical,CA:TRUE");
    if (!issuer)
        addExtension(cert, cert, NID_key_usage, "critical,keyCertSign,cRLSign");
    if (X509_sign(cert, issuerKey, EVP_sha256()) == 0)
        throw std::runtime_error("sign");
    return cert;
}

void writeCert(const std::string& path, X509* cert)
{
    FILE* f = std::fopen(path.c_str(), "w");
    PEM_write_X509(f, cert);
    std::fclose(f);
}

void writeKey(const std::string& path, EVP_PKEY* key)
{
    FILE* f = std::fopen(path.c_str(), "w");
    PEM_write_PrivateKey(f, key, nullptr, nullptr, 0, nullptr, nullptr);
    std::fclose(f);
}

} // namespace

Pki makePki(const std::string& dir, const std::string& prefix, const std::string& serverCn,
            const std::string& clientCn, const std::string& keyKind)
{
    Pki pki;
    EVP_PKEY* caKey = makeKey(keyKind);
    EVP_PKEY* serverKey = makeKey(keyKind);
    EVP_PKEY* clientKey = makeKey("ec");
    X509* ca = makeCert(caKey, prefix + " test CA", nullptr, caKey, 1);
    X509* server = makeCert(serverKey, serverCn, ca, caKey, 2);
    X509* client = makeCert(clientKey, clientCn, ca, caKey, 3);
    pki.caCert = dir + "/" + prefix + "-ca.pem";
    pki.serverCert = dir + "/" + prefix + "-server.pem";
    pki.serverKey = dir + "/" + prefix + "-server.key";
    pki.clientCert = dir + "/" + prefix + "-client.pem";
    pki.clientKey = dir + "/" + prefix + "-client.key";
    writeCert(pki.caCert, ca);
    writeCert(pki.serverCert, server);
    writeKey(pki.serverKey, serverKey);
    writeCert(pki.clientCert, client);
    writeKey(pki.clientKey, clientKey);

    unsigned char* der = nullptr;
    int len = i2d_X509_PUBKEY(X509_get_X509_PUBKEY(server), &der);
    unsigned char digest[32];
    SHA256(der, static_cast<size_t>(len), digest);
    OPENSSL_free(der);
    char hex[65];
    for (int i = 0; i < 32; ++i)
        std::snprintf(hex + 2 * i, 3, "%02x", digest[i]);
    pki.serverPin = hex;

    X509_free(ca);
    X509_free(server);
    X509_free(client);
    EVP_PKEY_free(caKey);
    EVP_PKEY_free(serverKey);
    EVP_PKEY_free(clientKey);
    return pki;
}

namespace {
int listenLoopback(uint16_t& port)
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    struct sockaddr_in a;
    std::memset(&a, 0, sizeof a);
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = 0;
    if (bind(fd, reinterpret_cast<struct sockaddr*>(&a), sizeof a) != 0 || listen(fd, 8) != 0) {
        close(fd);
        return -1;
    }
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<struct sockaddr*>(&a), &len);
    port = ntohs(a.sin_port);
    return fd;
}

// accept() with a time limit.
int acceptWithin(int listenFd, int ms)
{
    struct pollfd p = {listenFd, POLLIN, 0};
    if (poll(&p, 1, ms) <= 0)
        return -1;
    return accept(listenFd, nullptr, nullptr);
}
} // namespace

uint16_t unusedPort()
{
    uint16_t port = 0;
    int fd = listenLoopback(port);
    close(fd);
    return port;
}

HostPeer::HostPeer(const wch_config* config, std::function<void(wch_listener*)> body)
    : m_doneFuture(m_done.get_future())
{
    int32_t rc = -1;
    m_listener = wch_listen("127.0.0.1", 0, config, &rc);
    if (!m_listener)
        throw std::runtime_error("wch_listen failed with " + std::to_string(rc));
    m_port = wch_listener_port(m_listener);
    m_thread = std::thread([this, body] {
        body(m_listener);
        m_done.set_value();
    });
}

bool HostPeer::join(int ms)
{
    if (m_joined)
        return true;
    if (m_doneFuture.wait_for(std::chrono::milliseconds(ms)) != std::future_status::ready)
        return false;
    m_thread.join();
    m_joined = true;
    return true;
}

HostPeer::~HostPeer()
{
    if (!join(60000)) {
        // A body that never ends is a test failure; do not hang the suite.
        std::fprintf(stderr, "host peer did not finish\n");
        std::abort();
    }
    wch_listener_close(m_listener);
}

wch_conv* acceptAndReply(wch_listener* l, int32_t replyRc, wch_alloc_info* info, int32_t* acceptRc)
{
    int32_t rc = -1;
    wch_conv* c = wch_accept(l, 10000, &rc);
    if (acceptRc)
        *acceptRc = rc;
    if (!c)
        return nullptr;
    if (info)
        *info = *wch_conv_info(c);
    wch_allocate_reply(c, replyRc);
    return c;
}

PcConv allocate(uint16_t port, const char* user, const char* password, const char* member,
                const char* tag, int32_t t1, int32_t passwordCheck, uint16_t pcPort)
{
    PcConv pc;
    cm_init(pc.cid, member, &pc.rc);
    if (pc.rc != CM_OK)
        return pc;
    cm_scsu(pc.cid, user, &pc.rc);
    if (pc.rc != CM_OK)
        return pc;
    cm_scsp(pc.cid, password, &pc.rc);
    if (pc.rc != CM_OK)
        return pc;
    if (tag) {
        cm_set_tag(pc.cid, tag, &pc.rc);
        if (pc.rc != CM_OK)
            return pc;
    }
    cm_allc(pc.cid, "127.0.0.1", port, pcPort, t1, passwordCheck, &pc.rc);
    return pc;
}

void resetDefaults()
{
    cm_set_crypt_mode(1);
    cm_set_security_level(1);
    cm_set_common_name(nullptr);
    cm_set_pem_ca(nullptr);
    cm_set_crypt_key(nullptr);
}

RawServer::RawServer(std::function<void(int fd)> body)
{
    m_listen = listenLoopback(m_port);
    int lfd = m_listen;
    m_thread = std::thread([lfd, body] {
        int fd = acceptWithin(lfd, 10000);
        if (fd >= 0) {
            body(fd);
            close(fd);
        }
    });
}

RawServer::~RawServer()
{
    m_thread.join();
    close(m_listen);
}

int rawConnect(uint16_t port)
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    struct sockaddr_in a;
    std::memset(&a, 0, sizeof a);
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    if (connect(fd, reinterpret_cast<struct sockaddr*>(&a), sizeof a) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

bool readExact(int fd, unsigned char* p, size_t n, int timeoutMs)
{
    int64_t end = nowMs() + timeoutMs;
    size_t got = 0;
    while (got < n) {
        int64_t left = end - nowMs();
        if (left <= 0)
            return false;
        struct pollfd pfd = {fd, POLLIN, 0};
        if (poll(&pfd, 1, static_cast<int>(left)) <= 0)
            return false;
        ssize_t r = recv(fd, p + got, n - got, 0);
        if (r <= 0)
            return false;
        got += static_cast<size_t>(r);
    }
    return true;
}

Relay::Relay(uint16_t target) : m_target(target)
{
    m_listen = listenLoopback(m_port);
    m_thread = std::thread([this] {
        int pc = acceptWithin(m_listen, 10000);
        if (pc < 0)
            return;
        int host = rawConnect(m_target);
        if (host < 0) {
            close(pc);
            return;
        }
        struct pollfd fds[2] = {{pc, POLLIN, 0}, {host, POLLIN, 0}};
        unsigned char buf[65536];
        bool open = true;
        while (open && !m_stop.load()) {
            if (poll(fds, 2, 100) < 0)
                break;
            for (int i = 0; i < 2 && open; ++i) {
                if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                    continue;
                ssize_t r = recv(fds[i].fd, buf, sizeof buf, 0);
                if (r <= 0) {
                    open = false;
                    break;
                }
                {
                    std::lock_guard<std::mutex> lock(m_lock);
                    (i == 0 ? m_up : m_down).append(reinterpret_cast<char*>(buf), static_cast<size_t>(r));
                }
                send(fds[1 - i].fd, buf, static_cast<size_t>(r), MSG_NOSIGNAL);
            }
        }
        close(pc);
        close(host);
    });
}

Relay::~Relay()
{
    m_stop.store(1);
    m_thread.join();
    close(m_listen);
}

std::string Relay::pcToHost()
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_up;
}

std::string Relay::hostToPc()
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_down;
}

const char* const kTcpLoggerXml =
    "<?xml version='1.0' encoding='ASCII'?>\n"
    "<talverix>\n"
    "  <logger type='library' program='wiretrace'>\n"
    "    <target level='9' formatter='line' sender='file'\n"
    "             include='file;line;time'\n"
    "             exclude='level;msgNr;runNr;class;method;program;node' >\n"
    "      <file pathMask='*.log' />\n"
    "    </target>\n"
    "  </logger>\n"
    "</talverix>";

std::string frameHeader(uint8_t type, uint8_t flags, uint32_t length)
{
    std::string h = "WC";
    h += static_cast<char>(type);
    h += static_cast<char>(flags);
    h += static_cast<char>(length >> 24);
    h += static_cast<char>(length >> 16);
    h += static_cast<char>(length >> 8);
    h += static_cast<char>(length);
    return h;
}

} // namespace wctest
