// The conversation library on 127.0.0.1: PC calls against a host peer on the host-side API
// (random input: fuzz/fuzz_wire_client.cpp, fuzz_wire_host.cpp).

#include "wctest.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

using namespace wctest;
using namespace testos;

namespace {

class Wirecomm : public ::testing::Test {
protected:
    void SetUp() override { resetDefaults(); }
    void TearDown() override { resetDefaults(); }
};

} // namespace

// Mode 1: the host learns who asked, blocks travel with the turn, the password never shows
// on the wire, and the PC's deallocation reaches the host as a normal end.
TEST_F(Wirecomm, Mode1AllocationExchangeAndNormalEnd)
{
    wch_alloc_info info;
    std::vector<std::string> hostGot;
    std::vector<int32_t> hostHandOver;
    int32_t endRc = -1;
    HostPeer host(nullptr, [&](wch_listener* l) {
        wch_conv* c = acceptAndReply(l, CM_OK, &info);
        ASSERT_NE(c, nullptr);
        unsigned char buf[WC_MAX_BLOCK];
        for (int i = 0; i < 2; ++i) {
            int32_t len = -1, ho = -1;
            ASSERT_EQ(wch_receive(c, buf, sizeof buf, &len, &ho, 5000), CM_OK);
            hostGot.emplace_back(reinterpret_cast<char*>(buf), static_cast<size_t>(len));
            hostHandOver.push_back(ho);
        }
        EXPECT_EQ(wch_send(c, reinterpret_cast<const unsigned char*>("HPREADY   hello"), 15, 0), CM_OK);
        EXPECT_EQ(wch_send_ack(c), CM_OK);
        endRc = wch_receive(c, buf, sizeof buf, nullptr, nullptr, 5000);
        EXPECT_EQ(wch_send_ack(c), CM_DEALLOCATED_NORMAL) << "after the end every call is refused";
        wch_conv_free(c);
    });
    Relay relay(host.port());
    const char* password = "Zz9-VerySecretPassphrase 42";
    PcConv pc = allocate(relay.port(), "USER01", password, "TLXJOBSV", "STEP01");
    ASSERT_EQ(pc.rc, CM_OK);
    ASSERT_EQ(sendText(pc.cid, "PHREADY   first"), CM_OK);
    ASSERT_EQ(sendText(pc.cid, "PHTXT     second", 1), CM_OK);
    int32_t rc = -1, handOver = -1;
    EXPECT_EQ(receiveText(pc.cid, rc, &handOver), "HPREADY   hello");
    EXPECT_EQ(handOver, 0);
    EXPECT_EQ(receiveText(pc.cid, rc, &handOver), "");
    EXPECT_EQ(rc, CM_OK);
    EXPECT_EQ(handOver, 1) << "the empty block hands the turn back";
    EXPECT_EQ(deal(pc.cid), CM_OK);
    host.join();

    EXPECT_STREQ(info.symdest, "TLXJOBSV");
    EXPECT_STREQ(info.user, "USER01");
    EXPECT_STREQ(info.password, password);
    EXPECT_STREQ(info.tag, "STEP01");
    EXPECT_EQ(info.password_check, 1);
    EXPECT_EQ(info.crypt_mode, 1);
    EXPECT_EQ(hostGot, (std::vector<std::string>{"PHREADY   first", "PHTXT     second"}));
    EXPECT_EQ(hostHandOver, (std::vector<int32_t>{0, 1}));
    EXPECT_EQ(endRc, CM_DEALLOCATED_NORMAL);
    const std::string up = relay.pcToHost();
    EXPECT_NE(up.find("USER01"), std::string::npos) << "the recording holds the allocation";
    EXPECT_EQ(up.find("VerySecret"), std::string::npos);
    EXPECT_EQ(deal(pc.cid), CM_PROGRAM_PARAMETER_CHECK) << "the conversation id is gone after cm_deal";
}

// The host's refusal (6 wrong password, 9 unknown member) is passed on; the conversation is unusable.
TEST_F(Wirecomm, RejectedAllocationGivesTheHostsCode)
{
    for (int32_t answer : {CM_SECURITY_NOT_VALID, CM_TPN_NOT_RECOGNIZED}) {
        HostPeer host(nullptr, [&](wch_listener* l) { wch_conv_free(acceptAndReply(l, answer)); });
        PcConv pc = allocate(host.port());
        EXPECT_EQ(pc.rc, answer);
        EXPECT_EQ(sendText(pc.cid, "x", 1), CM_PROGRAM_STATE_CHECK);
        EXPECT_EQ(deal(pc.cid), CM_OK);
    }
}

// A host that takes the connection but never answers: 2 after T1, not before, not much later.
TEST_F(Wirecomm, ConnectionRefusedAndHostSilentWithinT1)
{
    uint16_t port = 0;
    const int silent = bindLoopback(port); // the kernel takes the connection, nobody answers
    const int64_t start = nowMs();
    PcConv pc = allocate(port, "USER01", "pw", "TLXJOBSV", nullptr, 1);
    const int64_t took = nowMs() - start;
    EXPECT_EQ(pc.rc, CM_ALLOCATE_FAILURE_RETRY);
    EXPECT_GE(took, 900);
    EXPECT_LT(took, 2500);
    EXPECT_EQ(deal(pc.cid), CM_OK);
    closeSocket(silent);
}

// Invalid calls and settings give their codes before anything is sent (a connection tried would give 1).
TEST_F(Wirecomm, ParameterAndModeChecks)
{
    int32_t rc = -1;
    unsigned char cid[WC_CID_SIZE];
    cm_init(cid, "", &rc);
    EXPECT_EQ(rc, CM_PARAMETER_ERROR);
    cm_init(cid, std::string(65, 'M').c_str(), &rc);
    EXPECT_EQ(rc, CM_PARAMETER_ERROR);
    cm_init(cid, "TLXJOBSV", &rc);
    ASSERT_EQ(rc, CM_OK);
    cm_scsu(cid, std::string(65, 'U').c_str(), &rc);
    EXPECT_EQ(rc, CM_PROGRAM_PARAMETER_CHECK);
    cm_scsp(cid, std::string(129, 'p').c_str(), &rc);
    EXPECT_EQ(rc, CM_PROGRAM_PARAMETER_CHECK);
    cm_scsp(cid, std::string(128, 'p').c_str(), &rc);
    EXPECT_EQ(rc, CM_OK);
    unsigned char buf[16];
    cm_rcv_bin(cid, buf, 0, &rc, nullptr, nullptr);
    EXPECT_EQ(rc, CM_PROGRAM_STATE_CHECK) << "no receive before the allocation";
    cm_allc(cid, "not-an-address.invalid", 1, 0, 2, 1, &rc);
    EXPECT_EQ(rc, CM_PARAMETER_ERROR);
    cm_deal(cid, &rc);

    // mode 2 is reserved, other unknown modes too; a crypt key that is not a fingerprint is a parameter error
    const uint16_t closed = unusedPort();
    for (int32_t mode : {2, 0, 5}) {
        cm_set_crypt_mode(mode);
        PcConv pc = allocate(closed);
        EXPECT_EQ(pc.rc, CM_SECURITY_NOT_SUPPORTED) << "mode " << mode;
        deal(pc.cid);
    }
    cm_set_crypt_mode(3);
    for (const char* key : {"not hex at all", "ab:cd"}) {
        cm_set_crypt_key(key);
        PcConv pc = allocate(closed);
        EXPECT_EQ(pc.rc, CM_PARAMETER_ERROR) << key;
        deal(pc.cid);
    }
}

// 31999 bytes travel intact; 32000 and -1 are refused off the wire and the conversation goes on;
// the host side has the same limit.
TEST_F(Wirecomm, BlockSizeLimit)
{
    std::vector<unsigned char> got;
    HostPeer host(nullptr, [&](wch_listener* l) {
        wch_conv* c = acceptAndReply(l, CM_OK);
        ASSERT_NE(c, nullptr);
        std::vector<unsigned char> buf(WC_MAX_BLOCK);
        int32_t len = 0;
        ASSERT_EQ(wch_receive(c, buf.data(), WC_MAX_BLOCK, &len, nullptr, 5000), CM_OK);
        got.assign(buf.begin(), buf.begin() + len);
        ASSERT_EQ(wch_receive(c, buf.data(), WC_MAX_BLOCK, &len, nullptr, 5000), CM_OK);
        EXPECT_EQ(len, 3);
        EXPECT_EQ(wch_send(c, buf.data(), WC_MAX_BLOCK, 0), CM_PROGRAM_PARAMETER_CHECK);
        EXPECT_EQ(wch_send(c, buf.data(), WC_MAX_BLOCK - 1, 0), CM_OK);
        EXPECT_EQ(wch_receive(c, buf.data(), WC_MAX_BLOCK, &len, nullptr, 5000), CM_DEALLOCATED_NORMAL);
        wch_conv_free(c);
    });
    PcConv pc = allocate(host.port());
    ASSERT_EQ(pc.rc, CM_OK);
    std::vector<unsigned char> block(WC_MAX_BLOCK);
    for (size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<unsigned char>(i * 7 + 3);
    int32_t rc, status;
    for (int32_t len : {WC_MAX_BLOCK - 1, WC_MAX_BLOCK, -1, 3}) {
        int32_t n = len;
        cm_send_bin(pc.cid, block.data(), &n, 0, &status, &rc, len == 3 ? 1 : 0);
        EXPECT_EQ(rc, len == WC_MAX_BLOCK || len < 0 ? CM_PROGRAM_PARAMETER_CHECK : CM_OK) << len;
    }
    EXPECT_EQ(receiveText(pc.cid, rc).size(), static_cast<size_t>(WC_MAX_BLOCK - 1));
    EXPECT_EQ(rc, CM_OK);
    deal(pc.cid);
    host.join();
    ASSERT_EQ(got.size(), static_cast<size_t>(WC_MAX_BLOCK - 1));
    EXPECT_TRUE(std::equal(got.begin(), got.end(), block.begin()));
}

// The receive time limit: 35 with nothing lost; a frame arriving in pieces across a time-out comes whole.
TEST_F(Wirecomm, ReceiveTimeoutKeepsTheConversation)
{
    std::promise<void> timedOut;
    auto timedOutFuture = timedOut.get_future();
    HostPeer host(nullptr, [&](wch_listener* l) {
        wch_conv* c = acceptAndReply(l, CM_OK);
        ASSERT_NE(c, nullptr);
        timedOutFuture.wait_for(std::chrono::seconds(10));
        std::string head = frameHeader(0x10, 0, 10) + "HPTX";
        EXPECT_EQ(wch_send_raw(c, head.data(), head.size()), CM_OK);
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        EXPECT_EQ(wch_send_raw(c, "T  end", 6), CM_OK);
        unsigned char buf[16];
        EXPECT_EQ(wch_receive(c, buf, sizeof buf, nullptr, nullptr, 10000), CM_DEALLOCATED_NORMAL);
        wch_conv_free(c);
    });
    PcConv pc = allocate(host.port());
    ASSERT_EQ(pc.rc, CM_OK);
    cm_set_rcv_timeout(pc.cid, 1);
    int32_t rc = -1;
    int64_t start = nowMs();
    receiveText(pc.cid, rc);
    EXPECT_EQ(rc, CM_OPERATION_INCOMPLETE);
    EXPECT_GE(nowMs() - start, 900);
    EXPECT_LT(nowMs() - start, 2500);
    timedOut.set_value();
    // the first piece arrives, the rest only after the limit
    receiveText(pc.cid, rc);
    EXPECT_EQ(rc, CM_OPERATION_INCOMPLETE);
    cm_set_rcv_timeout(pc.cid, 5);
    EXPECT_EQ(receiveText(pc.cid, rc), "HPTXT  end");
    EXPECT_EQ(rc, CM_OK);
    deal(pc.cid);
}

// The host ends normally (18), abnormally (17) or drops the connection (27): final, and at once.
TEST_F(Wirecomm, HostEndsTheConversation)
{
    for (int32_t expected : {CM_DEALLOCATED_NORMAL, CM_DEALLOCATED_ABEND, CM_RESOURCE_FAILURE_RETRY}) {
        HostPeer host(nullptr, [&](wch_listener* l) {
            wch_conv* c = acceptAndReply(l, CM_OK);
            ASSERT_NE(c, nullptr);
            EXPECT_EQ(wch_send(c, reinterpret_cast<const unsigned char*>("HPDATA    1"), 11, 0), CM_OK);
            if (expected != CM_RESOURCE_FAILURE_RETRY) {
                EXPECT_EQ(expected == CM_DEALLOCATED_NORMAL ? wch_deallocate(c) : wch_stop(c), CM_OK);
            }
            wch_conv_free(c);
        });
        PcConv pc = allocate(host.port());
        ASSERT_EQ(pc.rc, CM_OK);
        cm_set_rcv_timeout(pc.cid, 5);
        int32_t rc = -1;
        EXPECT_EQ(receiveText(pc.cid, rc), "HPDATA    1");
        const int64_t start = nowMs();
        receiveText(pc.cid, rc);
        EXPECT_EQ(rc, expected);
        EXPECT_LT(nowMs() - start, 3000);
        EXPECT_EQ(sendText(pc.cid, "xy", 1), expected) << "the end is final";
        EXPECT_EQ(deal(pc.cid), CM_OK);
    }
}

// Hostile frames (4 GiB length, a 32000-byte block, bad magic, type or flags, cut short by a
// close) are refused with 26 at once; every second one comes behind a good block in one write.
TEST_F(Wirecomm, HostileFramesAreRefused)
{
    const std::vector<std::string> attacks = {
        frameHeader(0x10, 0, 0xFFFFFFFFu),
        frameHeader(0x10, 0, WC_MAX_BLOCK) + std::string(100, 'A'),
        std::string("XC\x10\x00\x00\x00\x00\x01", 8) + "A",
        frameHeader(0x7e, 0, 1) + "A",
        frameHeader(0x10, 0x80, 1) + "A",
        frameHeader(0x11, 0, 5) + "AAAAA",
        frameHeader(0x10, 0, 100) + std::string(10, 'A'), // then the host closes
    };
    for (size_t i = 0; i < attacks.size(); ++i) {
        std::promise<void> refused;
        auto refusedFuture = refused.get_future();
        const std::string good = i % 2 == 0 ? frameHeader(0x10, 0, 11) + "HPDATA    1" : "";
        HostPeer host(nullptr, [&](wch_listener* l) {
            wch_conv* c = acceptAndReply(l, CM_OK);
            ASSERT_NE(c, nullptr);
            const std::string bytes = good + attacks[i];
            EXPECT_EQ(wch_send_raw(c, bytes.data(), bytes.size()), CM_OK);
            // but the last, the connection stays open: the PC must not wait for more
            if (i + 1 < attacks.size())
                refusedFuture.wait_for(std::chrono::seconds(5));
            wch_conv_free(c);
        });
        PcConv pc = allocate(host.port());
        ASSERT_EQ(pc.rc, CM_OK);
        cm_set_rcv_timeout(pc.cid, 30);
        int32_t rc = -1;
        if (!good.empty()) {
            EXPECT_EQ(receiveText(pc.cid, rc), "HPDATA    1") << "attack " << i;
        }
        const int64_t start = nowMs();
        EXPECT_EQ(receiveText(pc.cid, rc), "");
        EXPECT_EQ(rc, CM_RESOURCE_FAILURE_NO_RETRY) << "attack " << i;
        EXPECT_LT(nowMs() - start, 3000) << "attack " << i;
        refused.set_value();
        EXPECT_EQ(deal(pc.cid), CM_OK);
    }
}

// A mode 1 host key giving an all-zero shared secret (X25519 points 0 and 1): the PC refuses
// with its own code, never the host's 6, and sends no ALLOC frame.
TEST_F(Wirecomm, KeyAgreementFailureIsThePcsOwnRefusal)
{
    std::string one(32, '\0');
    one[0] = 1;
    for (const std::string& hostKey : {std::string(32, '\0'), one}) {
        bool allocSeen = true;
        {
            RawServer server([&](int fd) {
                unsigned char hello[8 + 34];
                readExact(fd, hello, sizeof hello, 3000);
                const std::string reply = frameHeader(0x02, 0, 37) + std::string("\x01\0\0\0\0", 5) + hostKey;
                sendBytes(fd, reply.data(), reply.size());
                unsigned char alloc[8];
                allocSeen = readExact(fd, alloc, sizeof alloc, 1500);
            });
            PcConv pc = allocate(server.port(), "U", "p", "M", nullptr, 20);
            EXPECT_EQ(pc.rc, CM_SECURITY_MUTUAL_FAILED);
            deal(pc.cid);
        } // the server's thread is joined here
        EXPECT_FALSE(allocSeen) << "the password left the PC";
    }
}

// An ALLOC with an empty user id (1..64 bytes): the host closes without answering.
TEST_F(Wirecomm, HostRefusesAnAllocWithoutUserId)
{
    int32_t acceptRc = -1;
    HostPeer host(nullptr, [&](wch_listener* l) { EXPECT_EQ(wch_accept(l, 5000, &acceptRc), nullptr); });
    const int fd = connectLoopback(host.port());
    std::string h = frameHeader(0x01, 0, 34) + std::string("\x01\x01", 2) + std::string(32, '\x09');
    sendBytes(fd, h.data(), h.size());
    unsigned char buf[64];
    ASSERT_TRUE(readExact(fd, buf, 8 + 37, 3000));
    h = frameHeader(0x03, 0, 1 + 3 + 2 + 2 + 2 + 30) + std::string("\x01\0\x01M\0\0\0\0\0\x1e", 10) +
        std::string(30, 'x');
    sendBytes(fd, h.data(), h.size());
    EXPECT_FALSE(readExact(fd, buf, 1, 3000)) << "the host closes without answering";
    closeSocket(fd);
    host.join();
    EXPECT_EQ(acceptRc, CM_RESOURCE_FAILURE_NO_RETRY);
}

namespace {

std::string dataFrame(const std::string& payload, uint8_t flags)
{
    return frameHeader(0x10, flags, static_cast<uint32_t>(payload.size())) + payload;
}

std::string filled(int i, size_t n)
{
    return std::string(n, static_cast<char>('A' + i % 26));
}

bool waitFor(std::future<void>& f)
{
    return f.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
}

} // namespace

// Send buffers are written when full, at the hand-over and by a flush (a block left behind shows
// as the peer's time-out); on the wire the frames are those of unbuffered sending.
TEST_F(Wirecomm, SendBuffersWriteAtTheirEdges)
{
    const int kMany = 40; // 40 blocks of 2000 bytes: more than the 64 KiB buffer
    const size_t kSize = 2000;
    const int kFirstWrite = (64 * 1024 + kSize + 8 - 1) / (kSize + 8); // frames that fill it
    std::promise<void> gotFull, gotFlush, gotTurn, pcGotAll, pcGotFlush;
    auto gotFullF = gotFull.get_future(), gotFlushF = gotFlush.get_future(), gotTurnF = gotTurn.get_future(),
         pcGotAllF = pcGotAll.get_future(), pcGotFlushF = pcGotFlush.get_future();
    HostPeer host(nullptr, [&](wch_listener* l) {
        wch_conv* c = acceptAndReply(l, CM_OK);
        ASSERT_NE(c, nullptr);
        std::vector<unsigned char> buf(WC_MAX_BLOCK);
        auto next = [&](int32_t wantHandOver) {
            int32_t len = -1, ho = -1;
            EXPECT_EQ(wch_receive(c, buf.data(), WC_MAX_BLOCK, &len, &ho, 5000), CM_OK);
            EXPECT_EQ(ho, wantHandOver);
            return std::string(reinterpret_cast<char*>(buf.data()), static_cast<size_t>(len > 0 ? len : 0));
        };
        for (int i = 0; i < kMany; ++i) {
            if (i == kFirstWrite)
                gotFull.set_value(); // the rest still waits in the PC's buffer
            EXPECT_TRUE(next(0) == filled(i, kSize)) << "block " << i;
        }
        EXPECT_EQ(next(0), "PHTXT     flushed");
        gotFlush.set_value();
        EXPECT_EQ(next(0), "PHTXT     one");
        EXPECT_EQ(next(1), "PHTXT     two");
        gotTurn.set_value();
        // the host's turn: its blocks and the ACK, not followed by a receive
        for (int i = 0; i < kMany; ++i) {
            std::string b = filled(i + 1, kSize);
            EXPECT_EQ(wch_send(c, reinterpret_cast<const unsigned char*>(b.data()), kSize, 0), CM_OK);
        }
        EXPECT_EQ(wch_send_ack(c), CM_OK);
        EXPECT_TRUE(waitFor(pcGotAllF)) << "the ACK writes the host's blocks";
        EXPECT_EQ(wch_send(c, reinterpret_cast<const unsigned char*>("HPMSG     flushed"), 17, 0), CM_OK);
        EXPECT_EQ(wch_flush(c), CM_OK);
        EXPECT_TRUE(waitFor(pcGotFlushF)) << "wch_flush writes at once";
        EXPECT_EQ(wch_send_ack(c), CM_OK);
        int32_t len;
        EXPECT_EQ(wch_receive(c, buf.data(), WC_MAX_BLOCK, &len, nullptr, 5000), CM_DEALLOCATED_NORMAL);
        EXPECT_EQ(wch_flush(c), CM_DEALLOCATED_NORMAL) << "sticky after the end, as wch_send";
        wch_conv_free(c);
    });
    Relay relay(host.port());
    PcConv pc = allocate(relay.port());
    ASSERT_EQ(pc.rc, CM_OK);
    cm_set_rcv_timeout(pc.cid, 5);
    int32_t rc = -1;
    std::string up, down;
    for (int i = 0; i < kMany; ++i) {
        ASSERT_EQ(sendText(pc.cid, filled(i, kSize)), CM_OK);
        up += dataFrame(filled(i, kSize), 0);
    }
    EXPECT_TRUE(waitFor(gotFullF)) << "a full buffer is written without the hand-over";
    sendText(pc.cid, "PHTXT     flushed");
    cm_flush(pc.cid, &rc);
    EXPECT_EQ(rc, CM_OK);
    EXPECT_TRUE(waitFor(gotFlushF)) << "cm_flush writes at once";
    sendText(pc.cid, "PHTXT     one");
    sendText(pc.cid, "PHTXT     two", 1);
    EXPECT_TRUE(waitFor(gotTurnF)) << "the hand-over writes the buffer";
    up += dataFrame("PHTXT     flushed", 0) + dataFrame("PHTXT     one", 0) + dataFrame("PHTXT     two", 1);
    int32_t handOver = -1;
    for (int i = 0; i < kMany; ++i) {
        EXPECT_TRUE(receiveText(pc.cid, rc, &handOver) == filled(i + 1, kSize)) << "block " << i;
        EXPECT_EQ(handOver, 0);
        down += dataFrame(filled(i + 1, kSize), 0);
    }
    EXPECT_EQ(receiveText(pc.cid, rc, &handOver), "");
    EXPECT_EQ(handOver, 1);
    pcGotAll.set_value();
    EXPECT_EQ(receiveText(pc.cid, rc, &handOver), "HPMSG     flushed");
    pcGotFlush.set_value();
    EXPECT_EQ(receiveText(pc.cid, rc, &handOver), "");
    EXPECT_EQ(rc, CM_OK);
    down += dataFrame("", 1) + dataFrame("HPMSG     flushed", 0) + dataFrame("", 1);
    up += frameHeader(0x11, 0, 0);
    EXPECT_EQ(deal(pc.cid), CM_OK);
    host.join();
    std::string wireUp = relay.pcToHost(), wireDown = relay.hostToPc();
    ASSERT_GE(wireUp.size(), up.size());
    EXPECT_TRUE(wireUp.compare(wireUp.size() - up.size(), up.size(), up) == 0) << "PC frames as sent";
    ASSERT_GE(wireDown.size(), down.size());
    EXPECT_TRUE(wireDown.compare(wireDown.size() - down.size(), down.size(), down) == 0) << "host frames as sent";
}
