// The TLS crypt modes 3 and 4 with certificates made by the test.

#include "wctest.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace wctest;
using namespace testos;

namespace {

class Tls : public ::testing::Test {
protected:
    void SetUp() override
    {
        resetDefaults();
        pki = makePki(dir.path(), "main", "host.example.test", "pc.client");
        other = makePki(dir.path(), "other", "host.example.test", "intruder.client");
        server = wch_config{1, pki.serverCert.c_str(), pki.serverKey.c_str(), nullptr, -1};
    }
    void TearDown() override
    {
        resetDefaults();
        setEnv("WIRECOMM_CLIENT_CERT", nullptr);
        setEnv("WIRECOMM_CLIENT_KEY", nullptr);
        setEnv("WIRECOMM_PEM_CA", nullptr);
        setEnv("WIRECOMM_COMMON_NAME", nullptr);
    }

    // One allocation and exchange against a host with config: the PC's rc (and the host's accept rc).
    int32_t tryAllocate(const wch_config* config, int32_t* hostRc = nullptr, wch_alloc_info* info = nullptr)
    {
        int32_t accepted = -1;
        HostPeer host(config, [&](wch_listener* l) {
            wch_conv* c = acceptAndReply(l, CM_OK, info, &accepted);
            if (!c)
                return;
            unsigned char buf[64];
            int32_t len = 0;
            EXPECT_EQ(wch_receive(c, buf, sizeof buf, &len, nullptr, 5000), CM_OK);
            EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), static_cast<size_t>(len)), "PHREADY   tls");
            EXPECT_EQ(wch_send(c, reinterpret_cast<const unsigned char*>("HPREADY   ok"), 12, 0), CM_OK);
            EXPECT_EQ(wch_send_ack(c), CM_OK);
            EXPECT_EQ(wch_receive(c, buf, sizeof buf, &len, nullptr, 5000), CM_DEALLOCATED_NORMAL);
            wch_conv_free(c);
        });
        PcConv pc = allocate(host.port(), "TLSUSER", "tls-password", "TLXJOBSV", "TLSUSER", 5);
        if (pc.rc == CM_OK) {
            EXPECT_EQ(sendText(pc.cid, "PHREADY   tls", 1), CM_OK);
            cm_set_rcv_timeout(pc.cid, 5);
            int32_t rc = -1;
            EXPECT_EQ(receiveText(pc.cid, rc), "HPREADY   ok");
            EXPECT_EQ(receiveText(pc.cid, rc), "");
            EXPECT_EQ(rc, CM_OK);
        }
        if (pc.rc == CM_PARAMETER_ERROR) {
            // refused before connecting: release the waiting host
            const int fd = connectLoopback(host.port());
            if (fd >= 0)
                closeSocket(fd);
        }
        EXPECT_EQ(deal(pc.cid), CM_OK);
        host.join();
        if (hostRc)
            *hostRc = accepted;
        return pc.rc;
    }

    ScratchDir dir;
    Pki pki;
    Pki other;
    wch_config server{};
};

} // namespace

// Mode 3: the CA file verifies the host, common name and key pin are checked; the wire is encrypted.
TEST_F(Tls, Mode3VerifiesTheHost)
{
    cm_set_crypt_mode(3);
    cm_set_pem_ca(pki.caCert.c_str());
    cm_set_common_name("host.example.test");
    cm_set_crypt_key(pki.serverPin.c_str());
    wch_alloc_info info;
    EXPECT_EQ(tryAllocate(&server, nullptr, &info), CM_OK);
    EXPECT_EQ(info.crypt_mode, 3);
    EXPECT_STREQ(info.password, "tls-password");
    EXPECT_STREQ(info.client_cn, "");

    // the common name compares without regard to case; "*" and none skip it
    for (const char* name : {"HOST.Example.TEST", "*", ""}) {
        cm_set_common_name(name);
        EXPECT_EQ(tryAllocate(&server), CM_OK) << name;
    }

    // nothing readable on the wire; buffered blocks beyond a TLS record arrive whole and in order
    cm_set_common_name("host.example.test");
    std::vector<std::string> got;
    HostPeer host(&server, [&](wch_listener* l) {
        wch_conv* c = acceptAndReply(l, CM_OK);
        ASSERT_NE(c, nullptr);
        std::vector<unsigned char> buf(WC_MAX_BLOCK);
        int32_t len = 0, ho = 0;
        while (ho == 0 && wch_receive(c, buf.data(), WC_MAX_BLOCK, &len, &ho, 5000) == CM_OK)
            got.emplace_back(reinterpret_cast<char*>(buf.data()), static_cast<size_t>(len));
        wch_receive(c, buf.data(), WC_MAX_BLOCK, &len, nullptr, 5000);
        wch_conv_free(c);
    });
    Relay relay(host.port());
    PcConv pc = allocate(relay.port(), "TLSUSER", "tls-password");
    ASSERT_EQ(pc.rc, CM_OK);
    std::vector<std::string> sent;
    for (int i = 0; i < 40; ++i) {
        sent.push_back("PHDATA    " + std::string(2990, static_cast<char>('a' + i % 26)));
        EXPECT_EQ(sendText(pc.cid, sent.back()), CM_OK);
    }
    sent.push_back("PHREADY   secret");
    EXPECT_EQ(sendText(pc.cid, sent.back(), 1), CM_OK);
    deal(pc.cid);
    host.join();
    EXPECT_EQ(got, sent);
    std::string up = relay.pcToHost();
    EXPECT_GT(up.size(), 100u);
    EXPECT_EQ(up.find("tls-password"), std::string::npos);
    EXPECT_EQ(up.find("TLSUSER"), std::string::npos);
    EXPECT_EQ(up.find("PHREADY"), std::string::npos);
}

// Every verification failure refuses the conversation with 47.
TEST_F(Tls, Mode3RefusesAnUnverifiedHost)
{
    cm_set_crypt_mode(3);
    cm_set_pem_ca(pki.caCert.c_str());
    cm_set_common_name("another.host");
    int32_t hostRc = -1;
    EXPECT_EQ(tryAllocate(&server, &hostRc), CM_SECURITY_MUTUAL_FAILED) << "common name mismatch";

    cm_set_common_name("*");
    cm_set_pem_ca(other.caCert.c_str());
    EXPECT_EQ(tryAllocate(&server, &hostRc), CM_SECURITY_MUTUAL_FAILED) << "CA of someone else";
    EXPECT_NE(hostRc, CM_OK);

    cm_set_pem_ca(nullptr);
    EXPECT_EQ(tryAllocate(&server), CM_SECURITY_MUTUAL_FAILED) << "system trust store";

    cm_set_pem_ca(pki.caCert.c_str());
    cm_set_crypt_key(other.serverPin.c_str());
    EXPECT_EQ(tryAllocate(&server), CM_SECURITY_MUTUAL_FAILED) << "pinned key differs";

    cm_set_crypt_key(nullptr);
    cm_set_pem_ca(dir.file("missing.pem").c_str());
    EXPECT_EQ(tryAllocate(&server), CM_PARAMETER_ERROR) << "CA file missing";
}

// A host key too weak for security level 2 is refused; the same host is accepted at level 1.
TEST_F(Tls, SecurityLevelTooLow)
{
    Pki weak = makePki(dir.path(), "weak", "weak.host", "weak.client", "rsa1024");
    wch_config weakServer{1, weak.serverCert.c_str(), weak.serverKey.c_str(), nullptr, 1};
    cm_set_crypt_mode(3);
    cm_set_pem_ca(weak.caCert.c_str());
    cm_set_common_name("weak.host");
    cm_set_security_level(1);
    EXPECT_EQ(tryAllocate(&weakServer), CM_OK);
    cm_set_security_level(2);
    EXPECT_EQ(tryAllocate(&weakServer), CM_SECURITY_MUTUAL_FAILED);
}

// Plain PC against a TLS host and TLS PC against a plain host: refused on both sides, no hang.
TEST_F(Tls, ModeMismatchIsRefused)
{
    int32_t hostRc = -1;
    int64_t start = nowMs();
    EXPECT_EQ(tryAllocate(&server, &hostRc), CM_ALLOCATE_FAILURE_NO_RETRY);
    EXPECT_EQ(hostRc, CM_RESOURCE_FAILURE_NO_RETRY);
    EXPECT_LT(nowMs() - start, 3000);

    cm_set_crypt_mode(3);
    cm_set_pem_ca(pki.caCert.c_str());
    start = nowMs();
    EXPECT_EQ(tryAllocate(nullptr, &hostRc), CM_ALLOCATE_FAILURE_NO_RETRY);
    EXPECT_EQ(hostRc, CM_RESOURCE_FAILURE_NO_RETRY);
    EXPECT_LT(nowMs() - start, 3000);
}

// Mode 4: the client certificate named by the environment, its common name seen by the host;
// missing files, another CA, or a host that checks no client certificates refuse.
TEST_F(Tls, Mode4ClientCertificate)
{
    wch_config mutual{1, pki.serverCert.c_str(), pki.serverKey.c_str(), pki.caCert.c_str(), -1};
    cm_set_crypt_mode(4);
    setEnv("WIRECOMM_CLIENT_CERT", pki.clientCert.c_str());
    setEnv("WIRECOMM_CLIENT_KEY", pki.clientKey.c_str());
    setEnv("WIRECOMM_PEM_CA", pki.caCert.c_str());
    setEnv("WIRECOMM_COMMON_NAME", "host.example.test");
    wch_alloc_info info;
    EXPECT_EQ(tryAllocate(&mutual, nullptr, &info), CM_OK);
    EXPECT_EQ(info.crypt_mode, 4);
    EXPECT_STREQ(info.client_cn, "pc.client");

    setEnv("WIRECOMM_COMMON_NAME", "somebody.else");
    EXPECT_EQ(tryAllocate(&mutual), CM_SECURITY_MUTUAL_FAILED);
    setEnv("WIRECOMM_COMMON_NAME", nullptr);

    int32_t hostRc = -1;
    EXPECT_EQ(tryAllocate(&server, &hostRc), CM_SECURITY_NOT_VALID) << "host checks no client certificates";
    EXPECT_EQ(hostRc, CM_SECURITY_NOT_VALID);

    // a mode 3 PC without certificate is still served by the same host
    cm_set_crypt_mode(3);
    cm_set_pem_ca(pki.caCert.c_str());
    EXPECT_EQ(tryAllocate(&mutual, nullptr, &info), CM_OK);
    EXPECT_EQ(info.crypt_mode, 3);
    resetDefaults();
    cm_set_crypt_mode(4);

    setEnv("WIRECOMM_CLIENT_CERT", other.clientCert.c_str());
    setEnv("WIRECOMM_CLIENT_KEY", other.clientKey.c_str());
    int32_t rc = tryAllocate(&mutual, &hostRc);
    EXPECT_EQ(rc, CM_ALLOCATE_FAILURE_NO_RETRY) << "client certificate of another CA";
    EXPECT_EQ(hostRc, CM_RESOURCE_FAILURE_NO_RETRY);

    setEnv("WIRECOMM_CLIENT_CERT", dir.file("none.pem").c_str());
    EXPECT_EQ(tryAllocate(&mutual), CM_PARAMETER_ERROR);
    setEnv("WIRECOMM_CLIENT_CERT", pki.clientCert.c_str());
    setEnv("WIRECOMM_CLIENT_KEY", other.clientKey.c_str());
    EXPECT_EQ(tryAllocate(&mutual), CM_PARAMETER_ERROR) << "key does not belong to the certificate";
}
