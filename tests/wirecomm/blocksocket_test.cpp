// BlockSocket's reading of its settings (its conversation: tests/engine/host_test.cpp and end to end).

#include "blockSocket.h"
#include "queuetest.h"

#include "wctest.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

class BlockSocketTest : public QueueTest {};

} // namespace

// Passwords "*", "" and "notused" switch the host's password check off; an
// empty user id is "notused"; PASCHK only "YES" or empty keeps the check.
TEST_F(BlockSocketTest, ConstructionValues)
{
    for (const char* pw : {"*", "", "notused"}) {
        BlockSocket s("h", pw, "M", "");
        EXPECT_STREQ(s.m_cPasswd, "notused") << pw;
        EXPECT_STREQ(s.m_cUserid, "notused");
        EXPECT_EQ(s.m_iPasChk, 0) << pw;
    }
    for (auto c : std::vector<std::pair<const char*, uint16_t>>{{"YES", 1}, {"", 1}, {"yes", 0}, {"NO", 0}}) {
        SetParm("TCP.PASCHK", c.first);
        BlockSocket s("h", "pw", "M", "U");
        EXPECT_EQ(s.m_iPasChk, c.second) << c.first;
    }
    // Time-outs are held in 1..65535 seconds, never cut to 16 bits.
    SetParm("FTP.T0", "65536");
    SetParm("FTP.T1", "-1");
    BlockSocket s("h", "pw", "M", "U");
    EXPECT_EQ(s.m_iT0, 65535);
    EXPECT_EQ(s.m_iT1, 1);
}

// Modes 3 and 4 hand over common name, CA and key (logged masked); a level 1 line names the server
// checks (none in mode 1); a common name "*" is warned about.
TEST_F(BlockSocketTest, TlsModesSettingsServerChecksAndMaskedKey)
{
    const std::string key = "00112233445566778899aabbccddeeff00112233445566778899aabbccddeeff";
    struct Case {
        const char* mode;
        const char* commonName; // null: not set
        bool caAndKey;
        std::vector<std::string> lines;
    };
    const std::vector<Case> cases = {
        {"1", nullptr, false, {"E200 \tServer checks: none (crypt mode 1 has no TLS)"}},
        {"3",
         "host.example",
         true,
         {"I200 \tTCPCOMMONNAME common name is set: host.example", "I200 \tTCPPEMCA is set: ca.pem",
          "I200 \tTCPCRYPTKEY is set ********",
          "E200 \tServer checks: CA ca.pem, common name host.example, key pin on (crypt mode 3)"}},
        {"4",
         "host.example",
         true,
         {"I200 \tTCPCOMMONNAME common name is set: host.example", "I200 \tTCPPEMCA is set: ca.pem",
          "I200 \tTCPCRYPTKEY is set ********",
          "E200 \tServer checks: CA ca.pem, common name host.example, key pin on (crypt mode 4)"}},
        {"4",
         "*",
         false,
         {"E200 \tServer checks: CA not set (the library's default), common name *, key pin off (crypt mode 4)",
          "E200 WARNING: TCPCOMMONNAME=* accepts any certificate that the CA signed"}},
    };
    for (const Case& c : cases) {
        TearDown();
        SetUp();
        SetParm("TCP.TCPCRYPT", c.mode);
        if (c.commonName)
            SetParm("TCP.TCPCOMMONNAME", c.commonName);
        if (c.caAndKey) {
            SetParm("TCP.TCPPEMCA", "ca.pem");
            SetParm("TCP.TCPCRYPTKEY", key);
        }
        LogCapture log;
        BlockSocket s("h", "pw", "M", "U");
        for (const std::string& line : c.lines)
            EXPECT_EQ(1u, log.Count(line)) << c.mode << " " << line << "\n" << log.Text();
        EXPECT_EQ(std::string::npos, log.Text().find("0011223344")) << c.mode;
    }
}
