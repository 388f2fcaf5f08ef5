#include "wctest.h"

#include <gtest/gtest.h>

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <openssl/sha.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <stdexcept>
#include <vector>

namespace wctest {

using namespace testos;

namespace {

EVP_PKEY* makeKey(const std::string& kind)
{
    return kind == "rsa1024" ? EVP_RSA_gen(1024) : EVP_EC_gen("P-256");
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
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(cn.c_str()), -1, -1, 0);
    X509_set_issuer_name(cert, issuer ? X509_get_subject_name(issuer) : name);
    addExtension(cert, issuer ? issuer : cert, NID_basic_constraints,
                 issuer ? "critical,CA:FALSE" : "critical,CA:TRUE");
    if (!issuer)
        addExtension(cert, cert, NID_key_usage, "critical,keyCertSign,cRLSign");
    if (X509_sign(cert, issuerKey, EVP_sha256()) == 0)
        throw std::runtime_error("sign");
    return cert;
}

// Writes a certificate or, when cert is null, a private key as PEM.
void writePem(const std::string& path, X509* cert, EVP_PKEY* key = nullptr)
{
    FILE* f = std::fopen(path.c_str(), "w");
    if (cert)
        PEM_write_X509(f, cert);
    else
        PEM_write_PrivateKey(f, key, nullptr, nullptr, 0, nullptr, nullptr);
    std::fclose(f);
}

} // namespace

Pki makePki(const std::string& dir, const std::string& prefix, const std::string& serverCn, const std::string& clientCn,
            const std::string& keyKind)
{
    Pki pki;
    EVP_PKEY* caKey = makeKey(keyKind);
    EVP_PKEY* serverKey = makeKey(keyKind);
    EVP_PKEY* clientKey = makeKey("ec");
    X509* ca = makeCert(caKey, prefix + " test CA", nullptr, caKey, 1);
    X509* server = makeCert(serverKey, serverCn, ca, caKey, 2);
    X509* client = makeCert(clientKey, clientCn, ca, caKey, 3);
    const std::string base = dir + "/" + prefix;
    writePem(pki.caCert = base + "-ca.pem", ca);
    writePem(pki.serverCert = base + "-server.pem", server);
    writePem(pki.serverKey = base + "-server.key", nullptr, serverKey);
    writePem(pki.clientCert = base + "-client.pem", client);
    writePem(pki.clientKey = base + "-client.key", nullptr, clientKey);

    unsigned char* der = nullptr;
    const int derLength = i2d_X509_PUBKEY(X509_get_X509_PUBKEY(server), &der);
    unsigned char digest[32];
    SHA256(der, static_cast<size_t>(derLength), digest);
    OPENSSL_free(der);
    char hex[3];
    for (unsigned char b : digest)
        pki.serverPin.append(hex, static_cast<size_t>(std::snprintf(hex, sizeof hex, "%02x", b)));

    for (X509* cert : {ca, server, client})
        X509_free(cert);
    for (EVP_PKEY* key : {caKey, serverKey, clientKey})
        EVP_PKEY_free(key);
    return pki;
}

HostPeer::HostPeer(const wch_config* config, std::function<void(wch_listener*)> body)
{
    int32_t rc = -1;
    m_listener = wch_listen("127.0.0.1", 0, config, &rc);
    if (!m_listener)
        throw std::runtime_error("wch_listen failed with " + std::to_string(rc));
    m_port = wch_listener_port(m_listener);
    m_thread = std::thread([this, body] { body(m_listener); });
}

HostPeer::~HostPeer()
{
    join();
    wch_listener_close(m_listener);
}

wch_conv* acceptAndReply(wch_listener* l, int32_t replyRc, wch_alloc_info* info, int32_t* acceptRc)
{
    int32_t rc = -1;
    wch_conv* c = wch_accept(l, 10000, &rc);
    if (acceptRc)
        *acceptRc = rc;
    if (c && info)
        *info = *wch_conv_info(c);
    if (c)
        wch_allocate_reply(c, replyRc);
    return c;
}

PcConv allocate(uint16_t port, const char* user, const char* password, const char* member, const char* tag, int32_t t1,
                int32_t passwordCheck, uint16_t pcPort)
{
    PcConv pc;
    cm_init(pc.cid, member, &pc.rc);
    if (pc.rc == CM_OK)
        cm_scsu(pc.cid, user, &pc.rc);
    if (pc.rc == CM_OK)
        cm_scsp(pc.cid, password, &pc.rc);
    if (pc.rc == CM_OK && tag)
        cm_set_tag(pc.cid, tag, &pc.rc);
    if (pc.rc == CM_OK)
        cm_allc(pc.cid, "127.0.0.1", port, pcPort, t1, passwordCheck, &pc.rc);
    return pc;
}

int32_t sendText(unsigned char* cid, const std::string& text, int32_t handOver)
{
    int32_t len = static_cast<int32_t>(text.size());
    int32_t status = -1, rc = -1;
    cm_send_bin(cid, reinterpret_cast<const unsigned char*>(text.data()), &len, 0, &status, &rc, handOver);
    if (rc == CM_OK) {
        EXPECT_EQ(status, 0);
    }
    return rc;
}

std::string receiveText(unsigned char* cid, int32_t& rc, int32_t* handOver)
{
    std::vector<unsigned char> buf(WC_MAX_BLOCK);
    int32_t data = -1;
    const int32_t n = cm_rcv_bin(cid, buf.data(), 0, &rc, &data, handOver);
    return std::string(reinterpret_cast<char*>(buf.data()), static_cast<size_t>(n > 0 ? n : 0));
}

int32_t deal(unsigned char* cid)
{
    int32_t rc = -1;
    cm_deal(cid, &rc);
    return rc;
}

void resetDefaults()
{
    cm_set_crypt_mode(1);
    cm_set_security_level(1);
    cm_set_common_name(nullptr);
    cm_set_pem_ca(nullptr);
    cm_set_crypt_key(nullptr);
}

Relay::Relay(uint16_t target)
{
    m_listen = bindLoopback(m_port);
    m_thread = std::thread([this, target] {
        const int pc = acceptWithin(m_listen, 10000);
        if (pc < 0)
            return;
        const int host = connectLoopback(target);
        if (host < 0) {
            closeSocket(pc);
            return;
        }
        pollfd fds[2] = {};
        fds[0].fd = pc;
        fds[1].fd = host;
        fds[0].events = fds[1].events = POLLIN;
        unsigned char buf[65536];
        bool open = true;
        while (open && !m_stop.load()) {
            if (pollSockets(fds, 2, 100) < 0)
                break;
            for (int i = 0; i < 2 && open; ++i) {
                if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                    continue;
                const long r = recvBytes(static_cast<int>(fds[i].fd), buf, sizeof buf);
                if (r <= 0) {
                    open = false;
                    break;
                }
                {
                    std::lock_guard<std::mutex> lock(m_lock);
                    (i == 0 ? m_up : m_down).append(reinterpret_cast<char*>(buf), static_cast<size_t>(r));
                }
                sendBytes(static_cast<int>(fds[1 - i].fd), buf, static_cast<size_t>(r));
            }
        }
        closeSocket(pc);
        closeSocket(host);
    });
}

Relay::~Relay()
{
    m_stop.store(1);
    m_thread.join();
    closeSocket(m_listen);
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

RawServer::RawServer(std::function<void(int fd)> body)
{
    m_listen = bindLoopback(m_port);
    m_thread = std::thread([this, body] {
        const int fd = acceptWithin(m_listen, 10000);
        if (fd >= 0) {
            body(fd);
            closeSocket(fd);
        }
    });
}

RawServer::~RawServer()
{
    m_thread.join();
    closeSocket(m_listen);
}

bool readExact(int fd, unsigned char* p, size_t n, int timeoutMs)
{
    const int64_t end = nowMs() + timeoutMs;
    size_t got = 0;
    while (got < n) {
        const int64_t left = end - nowMs();
        if (left <= 0 || !readable(fd, static_cast<int>(left)))
            return false;
        const long r = recvBytes(fd, p + got, n - got);
        if (r <= 0)
            return false;
        got += static_cast<size_t>(r);
    }
    return true;
}

std::string frameHeader(uint8_t type, uint8_t flags, uint32_t length)
{
    return {'W',
            'C',
            static_cast<char>(type),
            static_cast<char>(flags),
            static_cast<char>(length >> 24),
            static_cast<char>(length >> 16),
            static_cast<char>(length >> 8),
            static_cast<char>(length)};
}

} // namespace wctest
