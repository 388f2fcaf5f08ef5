// BlockSocket on 127.0.0.1 against a host peer built on the host-side API.
// The log lines are taken from ELOG itself: this binary is linked with
// --wrap for ELOG and LogAssertion, so every call of the program's code
// lands in the recorder below.

#include "blockSocket.h"
#include "configmodul.h"

#include "wctest.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace wctest;

namespace {

struct LogLine {
    int level;
    int msgNr;
    std::string text;
};

std::mutex g_logLock;
std::vector<LogLine> g_log;

} // namespace

extern "C" void __wrap__Z4ELOGiiiPKcz(int count, int level, int msgNr, const char* format, ...)
{
    if (count > 6)
        return;
    std::string text;
    if (count == 0) {
        text = format;
    } else {
        char buf[4096];
        va_list args;
        va_start(args, format);
        std::vsnprintf(buf, sizeof buf, format, args);
        va_end(args);
        text = buf;
    }
    std::lock_guard<std::mutex> lock(g_logLock);
    g_log.push_back({level, msgNr, text});
}

extern "C" void __wrap__Z12LogAssertionPKcS0_i(const char* expression, const char*, int)
{
    std::lock_guard<std::mutex> lock(g_logLock);
    g_log.push_back({1, 110, std::string("Assertion failed: ") + expression});
}

namespace {

std::vector<LogLine> takeLog()
{
    std::lock_guard<std::mutex> lock(g_logLock);
    std::vector<LogLine> out;
    out.swap(g_log);
    return out;
}

std::vector<std::string> texts(const std::vector<LogLine>& log)
{
    std::vector<std::string> out;
    for (const LogLine& l : log)
        out.push_back(l.text);
    return out;
}

bool hasLine(const std::vector<LogLine>& log, int level, const std::string& text)
{
    for (const LogLine& l : log)
        if (l.level == level && l.msgNr == 200 && l.text == text)
            return true;
    return false;
}

class BlockSocketTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        resetDefaults();
        m_store.reset(new ConfigModul(0, nullptr));
        g_pConfigModul = m_store.get();
        takeLog();
    }
    void TearDown() override
    {
        g_pConfigModul = nullptr;
        m_store.reset();
        resetDefaults();
        takeLog();
    }
    void set(const char* key, const char* value) { m_store->SetParm(key, value); }
    // An empty configuration (SetParm does not replace keys before an INI
    // file is loaded).
    void fresh()
    {
        m_store.reset(new ConfigModul(0, nullptr));
        g_pConfigModul = m_store.get();
    }

    std::unique_ptr<BlockSocket> connected(uint16_t port, const char* password = "secret12")
    {
        std::unique_ptr<BlockSocket> s(new BlockSocket("127.0.0.1", password, "TLXJOBSV", "USER01"));
        s->SetHostPort(port);
        s->Connect();
        return s;
    }

    std::unique_ptr<ConfigModul> m_store;
};

const unsigned char* bytes(const char* s)
{
    return reinterpret_cast<const unsigned char*>(s);
}

} // namespace

// The constructor reads the configuration in its order and logs each step.
TEST_F(BlockSocketTest, ConstructionDefaults)
{
    BlockSocket s("10.1.2.3", "pw", "TLXJOBSV", "USER01");
    std::vector<LogLine> log = takeLog();
    EXPECT_EQ(texts(log), (std::vector<std::string>{
                              "BlockSocket: creating with follow configuration:\n",
                              "\tTranslation table code page: 17 \n",
                              "\tCrypt mode set to type: 1\n",
                              "\tTLS security level set to: 1\n",
                              "\tServer checks: none (crypt mode 1 has no TLS)\n",
                              "\tUserIsStepName is set to: YES\n",
                              "\tPASCHK option enabled (default)\n",
                              "BlockSocket: created\n",
                          }));
    for (const LogLine& l : log) {
        EXPECT_EQ(l.level, l.text.rfind("\tServer checks", 0) == 0 ? 1 : 3) << l.text;
        EXPECT_EQ(l.msgNr, 200);
    }
    EXPECT_STREQ(s.m_cIpaddr, "10.1.2.3");
    EXPECT_STREQ(s.m_cPasswd, "pw");
    EXPECT_STREQ(s.m_cSymdest, "TLXJOBSV");
    EXPECT_STREQ(s.m_cUserid, "USER01");
    EXPECT_EQ(s.m_iHostPort, 20000);
    EXPECT_EQ(s.m_iPCPort, 0);
    EXPECT_EQ(s.m_iT0, 30);
    EXPECT_EQ(s.m_iT1, 60);
    EXPECT_EQ(s.m_iPasChk, 1);
    EXPECT_EQ(s.GetTurn(), 1);
    EXPECT_EQ(s.GetIgnoreNextACK(), 0);
    EXPECT_EQ(s.GetStop(), 0);
    for (int i = 0; i < WC_CID_SIZE; ++i)
        EXPECT_EQ(s.m_cCid[i], 0);
}

// Passwords "*", "" and "notused" switch the check off; an empty user id is
// "notused"; PASCHK only "YES" or empty keeps the check; numbers are read
// like atoi; time-outs are held in 1..65535 seconds, never cut to 16 bits.
TEST_F(BlockSocketTest, ConstructionValues)
{
    for (const char* pw : {"*", "", "notused"}) {
        BlockSocket s("h", pw, "M", "");
        EXPECT_STREQ(s.m_cPasswd, "notused") << pw;
        EXPECT_STREQ(s.m_cUserid, "notused");
        EXPECT_EQ(s.m_iPasChk, 0) << pw;
    }
    struct Case {
        const char* value;
        uint16_t check;
    };
    for (Case c : {Case{"YES", 1}, Case{"", 1}, Case{"yes", 0}, Case{"NO", 0}}) {
        set("TCP.PASCHK", c.value);
        takeLog();
        BlockSocket s("h", "pw", "M", "U");
        EXPECT_EQ(s.m_iPasChk, c.check) << c.value;
        EXPECT_TRUE(hasLine(takeLog(), 3, c.check ? "\tPASCHK option enabled (default)\n"
                                                  : "\tPASCHK option disabled\n"));
        fresh();
    }
    set("FTP.T0", "65536");
    set("FTP.T1", "-1");
    set("TCP.USERISSTEPNAME", "yes");
    set("TCP.TCPCRYPT", "4");
    set("TCP.TCPTLSSECLEVEL", "3");
    set("GLOBAL.CODEPAGE", "1");
    takeLog();
    BlockSocket s("h", "pw", "M", "U");
    EXPECT_EQ(s.m_iT0, 65535);
    EXPECT_EQ(s.m_iT1, 1);
    std::vector<LogLine> log = takeLog();
    EXPECT_TRUE(hasLine(log, 3, "\tUserIsStepName is set to: NO\n"));
    EXPECT_TRUE(hasLine(log, 3, "\tCrypt mode set to type: 4\n"));
    EXPECT_TRUE(hasLine(log, 3, "\tTLS security level set to: 3\n"));
    EXPECT_TRUE(hasLine(log, 3, "\tTranslation table code page: 1 \n"));

    // null arguments are reported and taken as empty
    takeLog();
    BlockSocket n(nullptr, "pw", nullptr, "U");
    log = takeLog();
    EXPECT_EQ(log[1].text, "Assertion failed: cIpAddres");
    EXPECT_EQ(log[2].text, "Assertion failed: cSymdesti");
    EXPECT_STREQ(n.m_cIpaddr, "");
}

// Modes 3 and 4 both hand over common name, CA and key; the key reaches the
// log only masked; a level 1 line names the active server checks, and a
// common name "*" is warned about.
TEST_F(BlockSocketTest, TlsModesSettingsServerChecksAndMaskedKey)
{
    const char* key = "00112233445566778899aabbccddeeff00112233445566778899aabbccddeeff";
    for (const char* mode : {"3", "4"}) {
        fresh();
        set("TCP.TCPCRYPT", mode);
        set("TCP.TCPCOMMONNAME", "host.example");
        set("TCP.TCPPEMCA", "ca.pem");
        set("TCP.TCPCRYPTKEY", key);
        takeLog();
        BlockSocket s("h", "pw", "M", "U");
        std::vector<LogLine> log = takeLog();
        EXPECT_TRUE(hasLine(log, 3, "\tTCPCOMMONNAME common name is set: host.example\n")) << mode;
        EXPECT_TRUE(hasLine(log, 3, "\tTCPPEMCA is set: ca.pem\n")) << mode;
        EXPECT_TRUE(hasLine(log, 3, "\tTCPCRYPTKEY is set ********\n")) << mode;
        EXPECT_TRUE(hasLine(log, 1, std::string("\tServer checks: CA ca.pem, common name host.example, key pin on "
                                                "(crypt mode ") + mode + ")\n"));
        for (const LogLine& l : log)
            EXPECT_EQ(l.text.find("0011223344"), std::string::npos) << l.text;

        fresh();
        set("TCP.TCPCRYPT", mode);
        set("TCP.TCPCOMMONNAME", "*");
        takeLog();
        BlockSocket any("h", "pw", "M", "U");
        log = takeLog();
        EXPECT_TRUE(hasLine(log, 1, std::string("\tServer checks: CA not set (the library's default), common name *, key pin off "
                                                "(crypt mode ") + mode + ")\n"));
        EXPECT_TRUE(hasLine(log, 1, "WARNING: TCPCOMMONNAME=* accepts any certificate that the CA signed\n"));
    }
}

// TCPDEBUG: without tcplogger.xml a line says so; with it the library
// writes wiretrace.log in the current directory.
TEST_F(BlockSocketTest, TcpDebugTrace)
{
    TempDir dir;
    std::string old = std::filesystem::current_path().string();
    ASSERT_EQ(chdir(dir.path().c_str()), 0);
    set("TCP.TCPDEBUG", "YES");
    {
        BlockSocket s("127.0.0.1", "pw", "M", "U");
        std::vector<LogLine> log = takeLog();
        EXPECT_TRUE(hasLine(log, 3, "\tTCPDEBUG is set YES\n"));
        EXPECT_TRUE(hasLine(log, 3, "\tBut tcplogger.xml file is missing\n"));
    }
    dir.write("tcplogger.xml", kTcpLoggerXml);
    {
        BlockSocket s("127.0.0.1", "TracePw-1", "M", "U");
        EXPECT_FALSE(hasLine(takeLog(), 3, "\tBut tcplogger.xml file is missing\n"));
        s.SetHostPort(unusedPort());
        EXPECT_THROW(s.Connect(), SocketError);
    }
    cm_init_logger(0, nullptr);
    ASSERT_EQ(chdir(old.c_str()), 0);
    std::string trace = readFile(dir.file("wiretrace.log"));
    EXPECT_NE(trace.find("connect to 127.0.0.1"), std::string::npos) << trace;
    EXPECT_EQ(trace.find("TracePw-1"), std::string::npos);
}

// Accepted allocation: the connect lines, and the host learns who asked.
TEST_F(BlockSocketTest, ConnectAccepted)
{
    wch_alloc_info info;
    HostPeer host(nullptr, [&](wch_listener* l) {
        wch_conv* c = acceptAndReply(l, CM_OK, &info);
        ASSERT_NE(c, nullptr);
        unsigned char buf[16];
        EXPECT_EQ(wch_receive(c, buf, sizeof buf, nullptr, nullptr, 5000), CM_DEALLOCATED_NORMAL);
        wch_conv_free(c);
    });
    auto s = connected(host.port());
    std::vector<LogLine> log = takeLog();
    std::vector<std::string> t = texts(log);
    auto at = std::find(t.begin(), t.end(), "BlockSocket: connecting to:\n");
    ASSERT_NE(at, t.end());
    std::vector<std::string> expected = {
        "BlockSocket: connecting to:\n",
        "\tHost IP-Address:127.0.0.1\n",
        "\tHost Port:" + std::to_string(host.port()) + "\n",
        "\tPC Port:0\n",
        "\tUserID:USER01\n",
        "\tSTC:TLXJOBSV\n",
        "\tPassword Check:1\n",
        "BlockSocket: connection established\n",
    };
    EXPECT_EQ(std::vector<std::string>(at, t.end()), expected);
    EXPECT_EQ(s->GetRC(), 0);
    s->Close();
    log = takeLog();
    EXPECT_EQ(texts(log), (std::vector<std::string>{"BlockSocket: connection closing...\n",
                                                     "BlockSocket: connection closed\n"}));
    ASSERT_TRUE(host.join());
    EXPECT_STREQ(info.user, "USER01");
    EXPECT_STREQ(info.tag, "USER01");
    EXPECT_STREQ(info.symdest, "TLXJOBSV");
    EXPECT_STREQ(info.password, "secret12");
    EXPECT_EQ(info.password_check, 1);
    for (int i = 0; i < WC_CID_SIZE; ++i)
        EXPECT_EQ(s->m_cCid[i], 0);
}

// Rejections: 6 with the host's rejection line, 9 and 1 with the "unknown
// reason" line naming the code; a silent host fails after T1 with 2.
TEST_F(BlockSocketTest, ConnectFailures)
{
    struct Case {
        int32_t hostAnswer; // -1: nobody listens, -2: silent host
        int32_t rc;
        std::string line;
    };
    std::vector<Case> cases = {
        {CM_SECURITY_NOT_VALID, 6, "ERROR: BlockSocket: The host rejected the userid or password\n"},
        {CM_TPN_NOT_RECOGNIZED, 9,
         "ERROR: BlockSocket: cm_allc failed for unknown reason, use TCP debug mode, RC=9, "
         "sRC=CM_TPN_NOT_RECOGNIZED\n"},
        {-1, 1,
         "ERROR: BlockSocket: cm_allc failed for unknown reason, use TCP debug mode, RC=1, "
         "sRC=CM_ALLOCATE_FAILURE_NO_RETRY\n"},
        {-2, 2,
         "ERROR: BlockSocket: cm_allc failed for unknown reason, use TCP debug mode, RC=2, "
         "sRC=CM_ALLOCATE_FAILURE_RETRY\n"},
    };
    set("FTP.T1", "1");
    for (const Case& k : cases) {
        std::unique_ptr<HostPeer> host;
        std::unique_ptr<RawServer> silent;
        uint16_t port;
        if (k.hostAnswer >= 0) {
            host.reset(new HostPeer(nullptr, [&](wch_listener* l) {
                wch_conv* c = acceptAndReply(l, k.hostAnswer);
                wch_conv_free(c);
            }));
            port = host->port();
        } else if (k.hostAnswer == -1) {
            port = unusedPort();
        } else {
            silent.reset(new RawServer([](int fd) {
                unsigned char buf[64];
                readExact(fd, buf, sizeof buf, 3000);
            }));
            port = silent->port();
        }
        BlockSocket s("127.0.0.1", "pw", "TLXJOBSV", "USER01");
        s.SetHostPort(port);
        takeLog();
        int64_t start = nowMs();
        try {
            s.Connect();
            ADD_FAILURE() << "no exception for " << k.rc;
        } catch (const SocketError& e) {
            EXPECT_EQ(e.m_iRC, k.rc);
            EXPECT_STREQ(e.m_pMessage, "BlockSocket: cm_allc failed");
        }
        if (k.hostAnswer == -2) {
            EXPECT_GE(nowMs() - start, 900);
        }
        EXPECT_LT(nowMs() - start, 3000);
        std::vector<LogLine> log = takeLog();
        EXPECT_TRUE(hasLine(log, 1, k.line)) << k.rc;
        EXPECT_TRUE(hasLine(log, 1, "ERROR: BlockSocket: cm_allc failed RC=" + std::to_string(k.rc) + "\n"));
        EXPECT_EQ(s.GetRC(), k.rc);
        s.Close(); // frees the failed conversation
        EXPECT_EQ(s.GetRC(), 0);
        if (host) {
            ASSERT_TRUE(host->join());
        }
    }
}

// Send: 32000 bytes are refused before anything is sent, 31999 go through.
TEST_F(BlockSocketTest, SendLimit)
{
    std::vector<int32_t> lengths;
    HostPeer host(nullptr, [&](wch_listener* l) {
        wch_conv* c = acceptAndReply(l, CM_OK);
        ASSERT_NE(c, nullptr);
        std::vector<unsigned char> buf(WC_MAX_BLOCK);
        int32_t len;
        while (wch_receive(c, buf.data(), WC_MAX_BLOCK, &len, nullptr, 5000) == CM_OK)
            lengths.push_back(len);
        wch_conv_free(c);
    });
    auto s = connected(host.port());
    std::vector<unsigned char> block(32000, 'x');
    takeLog();
    try {
        s->Send(block.data(), 32000, 5, 0);
        ADD_FAILURE() << "32000 bytes sent";
    } catch (const SocketError& e) {
        EXPECT_EQ(e.m_iRC, 0);
        EXPECT_STREQ(e.m_pMessage, "BlockSocket: send buffer limit exceeded");
    }
    EXPECT_EQ(s->Send(block.data(), 31999, 5, 0), 0);
    std::vector<LogLine> log = takeLog();
    EXPECT_TRUE(hasLine(log, 1, "ERROR: BlockSocket: send buffer limit exceeded RC=0\n"));
    EXPECT_TRUE(hasLine(log, 5, "BlockSocket: sent bytes: 31999\n"));
    EXPECT_EQ(s->LastSendDropped(), 0);
    s->Close();
    ASSERT_TRUE(host.join());
    EXPECT_EQ(lengths, (std::vector<int32_t>{31999}));
}

// The turn: hand-over gives it away, a Send without the turn gives up after
// its time-out, an ACK brings it back; with ignore-next-ACK the first of two
// ACKs is eaten and the second returns the turn.
TEST_F(BlockSocketTest, TurnHandOverAndAcks)
{
    std::promise<void> proceed;
    auto proceedFuture = proceed.get_future();
    std::vector<std::string> hostGot;
    HostPeer host(nullptr, [&](wch_listener* l) {
        wch_conv* c = acceptAndReply(l, CM_OK);
        ASSERT_NE(c, nullptr);
        unsigned char buf[WC_MAX_BLOCK];
        int32_t len, ho;
        ASSERT_EQ(wch_receive(c, buf, sizeof buf, &len, &ho, 5000), CM_OK);
        hostGot.emplace_back(reinterpret_cast<char*>(buf), static_cast<size_t>(len));
        EXPECT_EQ(ho, 1);
        proceedFuture.wait_for(std::chrono::seconds(10));
        wch_send(c, bytes("HPMSG     RC=0"), 14, 0);
        wch_send_ack(c);
        ASSERT_EQ(wch_receive(c, buf, sizeof buf, &len, &ho, 5000), CM_OK);
        hostGot.emplace_back(reinterpret_cast<char*>(buf), static_cast<size_t>(len));
        // intermediate answer, its ACK, the final answer, its ACK
        wch_send(c, bytes("HPMSG     RC=0 part"), 19, 0);
        wch_send_ack(c);
        wch_send(c, bytes("HPMSG     RC=0 ROWS=3"), 21, 0);
        wch_send_ack(c);
        EXPECT_EQ(wch_receive(c, buf, sizeof buf, &len, &ho, 5000), CM_DEALLOCATED_NORMAL);
        wch_conv_free(c);
    });
    auto s = connected(host.port());
    unsigned char buf[WC_MAX_BLOCK];

    EXPECT_EQ(s->Send(bytes("PHGETFILE A.B"), 13, 5, 1), 0);
    EXPECT_EQ(s->GetTurn(), 0);
    takeLog();
    int64_t start = nowMs();
    EXPECT_EQ(s->Send(bytes("PHTXT     too early"), 18, 1, 0), 0);
    EXPECT_GE(nowMs() - start, 1000);
    EXPECT_EQ(s->LastSendDropped(), 1);
    EXPECT_TRUE(hasLine(takeLog(), 5, "BlockSocket: sending timeout t=1[sec] expired\n"));
    proceed.set_value();

    EXPECT_EQ(s->Receive(buf, 5), 14);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 14), "HPMSG     RC=0");
    EXPECT_EQ(s->GetTurn(), 0);
    EXPECT_EQ(s->Receive(buf, 5), 0);
    EXPECT_EQ(s->GetTurn(), 1);
    EXPECT_TRUE(hasLine(takeLog(), 5, "BlockSocket: received ACK\n"));

    EXPECT_EQ(s->Send(bytes("PHMODIFY  A.B"), 13, 5, 1), 0);
    EXPECT_EQ(s->Receive(buf, 5), 19);
    s->SetIgnoreNextACK();
    EXPECT_EQ(s->Receive(buf, 5), 0);
    EXPECT_EQ(s->GetTurn(), 0) << "the first ACK is eaten";
    EXPECT_EQ(s->GetIgnoreNextACK(), 0);
    EXPECT_TRUE(hasLine(takeLog(), 5, "BlockSocket: received ACK ignored\n"));
    EXPECT_EQ(s->Receive(buf, 5), 21);
    EXPECT_TRUE(hasLine(takeLog(), 5, "BlockSocket: received bytes: 21\n"));
    EXPECT_EQ(s->Receive(buf, 5), 0);
    EXPECT_EQ(s->GetTurn(), 1);
    s->Close();
    ASSERT_TRUE(host.join());
    EXPECT_EQ(hostGot, (std::vector<std::string>{"PHGETFILE A.B", "PHMODIFY  A.B"}));
}

// Receive while the program holds the turn: 0 after the time-out with its
// line. Receive while the host is silent: the library's limit T0 gives 35.
TEST_F(BlockSocketTest, ReceiveTimeouts)
{
    set("FTP.T0", "2");
    HostPeer host(nullptr, [&](wch_listener* l) {
        wch_conv* c = acceptAndReply(l, CM_OK);
        ASSERT_NE(c, nullptr);
        unsigned char buf[64];
        EXPECT_EQ(wch_receive(c, buf, sizeof buf, nullptr, nullptr, 10000), CM_OK);
        EXPECT_EQ(wch_receive(c, buf, sizeof buf, nullptr, nullptr, 10000), CM_DEALLOCATED_NORMAL);
        wch_conv_free(c);
    });
    auto s = connected(host.port());
    unsigned char buf[WC_MAX_BLOCK];
    takeLog();
    int64_t start = nowMs();
    EXPECT_EQ(s->Receive(buf, 1), 0);
    EXPECT_GE(nowMs() - start, 1000);
    EXPECT_LT(nowMs() - start, 3500);
    EXPECT_TRUE(hasLine(takeLog(), 5, "BlockSocket: receiving timeout t=1[sec] expired\n"));

    s->Send(bytes("PHREADY"), 7, 5, 1);
    start = nowMs();
    try {
        s->Receive(buf, 5);
        ADD_FAILURE() << "no exception";
    } catch (const SocketError& e) {
        EXPECT_EQ(e.m_iRC, CM_OPERATION_INCOMPLETE);
        EXPECT_STREQ(e.m_pMessage, "BlockSocket: cm_rcv failed");
    }
    int64_t took = nowMs() - start;
    EXPECT_GE(took, 1900);
    EXPECT_LT(took, 4000);
    s->Close();
    ASSERT_TRUE(host.join());
}

// The stop flag ends a waiting Receive at once: while waiting for the turn,
// and while waiting in the library for a silent host.
TEST_F(BlockSocketTest, StopFlag)
{
    HostPeer host(nullptr, [&](wch_listener* l) {
        wch_conv* c = acceptAndReply(l, CM_OK);
        ASSERT_NE(c, nullptr);
        unsigned char buf[64];
        EXPECT_EQ(wch_receive(c, buf, sizeof buf, nullptr, nullptr, 10000), CM_OK);
        EXPECT_EQ(wch_receive(c, buf, sizeof buf, nullptr, nullptr, 10000), CM_DEALLOCATED_NORMAL);
        wch_conv_free(c);
    });
    auto s = connected(host.port());
    unsigned char buf[WC_MAX_BLOCK];
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        s->SetStop();
    });
    int64_t start = nowMs();
    EXPECT_EQ(s->Receive(buf, 30), 0);
    EXPECT_LT(nowMs() - start, 1000);
    stopper.join();

    // the host has the turn now; the flag is still set: no wait at all
    s->Send(bytes("PHREADY"), 7, 5, 1);
    start = nowMs();
    EXPECT_EQ(s->Receive(buf, 30), 0);
    EXPECT_LT(nowMs() - start, 500);
    s->Close();
    ASSERT_TRUE(host.join());
}

TEST_F(BlockSocketTest, StopFlagDuringLibraryWait)
{
    HostPeer host(nullptr, [&](wch_listener* l) {
        wch_conv* c = acceptAndReply(l, CM_OK);
        ASSERT_NE(c, nullptr);
        unsigned char buf[64];
        EXPECT_EQ(wch_receive(c, buf, sizeof buf, nullptr, nullptr, 10000), CM_OK);
        EXPECT_EQ(wch_receive(c, buf, sizeof buf, nullptr, nullptr, 10000), CM_DEALLOCATED_NORMAL);
        wch_conv_free(c);
    });
    auto s = connected(host.port());
    unsigned char buf[WC_MAX_BLOCK];
    s->Send(bytes("PHREADY"), 7, 5, 1);
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        s->SetStop();
    });
    int64_t start = nowMs();
    EXPECT_EQ(s->Receive(buf, 30), 0);
    EXPECT_LT(nowMs() - start, 2000) << "T0 is 30 s; the stop flag must end the wait";
    EXPECT_EQ(s->GetRC(), 0) << "giving up on the stop flag is no failure";
    stopper.join();
    s->Close();
    ASSERT_TRUE(host.join());
}

// The host goes away in the middle: a return code, no hang, no crash. A
// normal end (18) makes Close skip the library; a dropped connection (27)
// leaves Close to free it.
TEST_F(BlockSocketTest, HostEndsMidConversation)
{
    for (int how : {0, 1, 2}) {
        HostPeer host(nullptr, [&](wch_listener* l) {
            wch_conv* c = acceptAndReply(l, CM_OK);
            ASSERT_NE(c, nullptr);
            unsigned char buf[64];
            EXPECT_EQ(wch_receive(c, buf, sizeof buf, nullptr, nullptr, 10000), CM_OK);
            wch_send(c, bytes("HPDATA    1"), 11, 0);
            if (how == 0) {
                wch_deallocate(c);
            } else if (how == 2) {
                std::string hostile = frameHeader(0x10, 0, 0xFFFFFFFFu);
                wch_send_raw(c, hostile.data(), hostile.size());
                std::this_thread::sleep_for(std::chrono::milliseconds(500));
            }
            wch_conv_free(c);
        });
        auto s = connected(host.port());
        unsigned char buf[WC_MAX_BLOCK];
        s->Send(bytes("PHGETFILE A"), 11, 5, 1);
        EXPECT_EQ(s->Receive(buf, 5), 11);
        int32_t expected = how == 0 ? CM_DEALLOCATED_NORMAL
                                    : how == 1 ? CM_RESOURCE_FAILURE_RETRY : CM_RESOURCE_FAILURE_NO_RETRY;
        int64_t start = nowMs();
        try {
            s->Receive(buf, 5);
            ADD_FAILURE() << "no exception";
        } catch (const SocketError& e) {
            EXPECT_EQ(e.m_iRC, expected);
        }
        EXPECT_LT(nowMs() - start, 2000);
        takeLog();
        s->Close();
        std::vector<LogLine> log = takeLog();
        EXPECT_EQ(hasLine(log, 3, "BlockSocket: connection closing...\n"), how != 0);
        EXPECT_TRUE(hasLine(log, 3, "BlockSocket: connection closed\n"));
        ASSERT_TRUE(host.join());
    }
}

// Stop ends the conversation abnormally; Close afterwards has nothing left.
TEST_F(BlockSocketTest, StopThenClose)
{
    int32_t hostRc = -1;
    HostPeer host(nullptr, [&](wch_listener* l) {
        wch_conv* c = acceptAndReply(l, CM_OK);
        ASSERT_NE(c, nullptr);
        unsigned char buf[64];
        hostRc = wch_receive(c, buf, sizeof buf, nullptr, nullptr, 10000);
        wch_conv_free(c);
    });
    auto s = connected(host.port());
    takeLog();
    s->Stop();
    s->Close();
    EXPECT_EQ(texts(takeLog()), (std::vector<std::string>{
                                    "BlockSocket: connection stopping ...\n",
                                    "BlockSocket: connection stopped\n",
                                    "BlockSocket: connection closing...\n",
                                    "BlockSocket: connection closed\n",
                                }));
    ASSERT_TRUE(host.join());
    EXPECT_EQ(hostRc, CM_DEALLOCATED_ABEND);
}
