// The emulator as a TLS host for crypt modes 3 and 4, with certificates made
// by the openssl command for the test.

#include "testutil.h"

#include <cstdlib>

using namespace hostemu_test;

namespace {

bool Shell(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

// A CA, a server certificate for "localhost" and a client certificate.
bool MakePki(const std::string& d) {
    bool ok = Shell("openssl req -x509 -newkey rsa:2048 -nodes -keyout " + d + "/ca.key -out " + d +
                    "/ca.pem -subj /CN=HostemuTestCA -days 2");
    for (const std::string& who : {std::string("server"), std::string("client")})
        ok = ok &&
             Shell("openssl req -newkey rsa:2048 -nodes -keyout " + d + "/" + who + ".key -out " + d + "/" + who +
                   ".csr -subj /CN=" + (who == "server" ? "localhost" : "pc.client")) &&
             Shell("openssl x509 -req -in " + d + "/" + who + ".csr -CA " + d + "/ca.pem -CAkey " + d +
                   "/ca.key -CAcreateserial -out " + d + "/" + who + ".pem -days 2");
    return ok;
}

// Puts the library's process-wide TLS settings back to plain defaults.
struct TlsDefaults {
    ~TlsDefaults() {
        cm_set_crypt_mode(1);
        cm_set_pem_ca("");
        cm_set_common_name("");
        unsetenv("WIRECOMM_CLIENT_CERT");
        unsetenv("WIRECOMM_CLIENT_KEY");
    }
};

} // namespace

TEST(Tls, ModesThreeAndFour) {
    if (!Shell("openssl version"))
        GTEST_SKIP() << "no openssl command";
    ScratchDir pki;
    ASSERT_TRUE(MakePki(pki.path()));
    TlsDefaults restore;
    EmuServer emu([&](hostemu::EmuConfig& c) {
        c.tls = true;
        c.tlsCert = pki.file("server.pem");
        c.tlsKey = pki.file("server.key");
        c.tlsClientCa = pki.file("ca.pem");
    });
    ASSERT_TRUE(emu.Started());
    cm_set_pem_ca(pki.file("ca.pem").c_str());
    cm_set_common_name("localhost");
    {
        PcClient pc;
        pc.SetCryptMode(3);
        ASSERT_EQ(pc.Connect(emu.Port(), "VEXUSR1", "VEXPWD1"), CM_OK);
        EXPECT_EQ(pc.Ask("PHGETFILE", "VEXUSR1.JCL(HELLO)").size(), 5u);
    }
    {
        PcClient pc;
        pc.SetCryptMode(4);
        setenv("WIRECOMM_CLIENT_CERT", pki.file("client.pem").c_str(), 1);
        setenv("WIRECOMM_CLIENT_KEY", pki.file("client.key").c_str(), 1);
        ASSERT_EQ(pc.Connect(emu.Port(), "VEXUSR1", "VEXPWD1"), CM_OK);
        EXPECT_EQ(pc.Ask("PHREADY", "").back(), "ACK");
    }
    PcClient plain; // a PC without TLS finds no conversation on a TLS host
    EXPECT_NE(plain.Connect(emu.Port(), "VEXUSR1", "VEXPWD1"), CM_OK);
}
