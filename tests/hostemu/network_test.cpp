// Conversations with the emulator over loopback, driven by the conversation
// library's PC side, for what the end-to-end runs through vexlink do not
// reach: a refused upload leaves the data set as it was, binary records,
// requests the host cannot parse, another code page, several conversations
// at once and a restart over the same catalogue. The request kinds
// themselves are covered end to end and by the catalogue and spool units.

#include "emuserver.h"
#include "names.h"

#include <thread>

using namespace hostemu_test;
using hostemu::DsRef;

namespace {

// The records of a data set or member as stored (host code page).
std::vector<std::string> Stored(hostemu::Server& server, const std::string& name) {
    DsRef ref;
    std::string error;
    EXPECT_TRUE(hostemu::ParseDsRef(name, ref, error)) << error;
    std::unique_ptr<hostemu::RecordReader> reader;
    hostemu::Status st = server.GetCatalog().OpenReader(ref, reader);
    EXPECT_TRUE(st.Ok()) << st.text;
    std::vector<std::string> out;
    std::string rec;
    while (reader && reader->Next(rec) == 1)
        out.push_back(rec);
    return out;
}

// Items of an answer without the final ACK.
std::vector<std::string> Payloads(const std::vector<std::string>& answer, const std::string& prefix) {
    std::vector<std::string> out;
    for (const std::string& a : answer)
        if (a.compare(0, prefix.size(), prefix) == 0)
            out.push_back(a.substr(prefix.size()));
    return out;
}

class Conversation : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_emu.Started());
        ASSERT_EQ(m_pc.Connect(m_emu.Port(), "vexusr1", "VEXPWD1"), CM_OK);
    }
    EmuServer m_emu;
    PcClient m_pc;
};

} // namespace

TEST_F(Conversation, RefusedUploadLeavesTheDataSetExactlyAsItWas) {
    const std::string path = m_emu.Get().CatalogDir() + "/datasets/VEXUSR1.DEMO.DATA";
    const std::string before = ReadFile(path);
    ASSERT_FALSE(before.empty());

    ASSERT_EQ(m_pc.Send("PHMODIFY", "VEXUSR1.DEMO.DATA", false), CM_OK);
    ASSERT_EQ(m_pc.Send("PHDATA", std::string(80, 'A'), false), CM_OK);
    ASSERT_EQ(m_pc.Send("PHDATA", std::string(81, 'B'), false), CM_OK);
    ASSERT_EQ(m_pc.Send("PHDATA", std::string(10, 'C'), false), CM_OK);
    std::vector<std::string> answer = m_pc.Ask("PHEOD", "");
    EXPECT_EQ(answer, (std::vector<std::string>{"HPMSG:RC=8 RECORD 2 HAS 81 BYTES, LRECL OF VEXUSR1.DEMO.DATA IS 80, "
                                                "VEXUSR1.DEMO.DATA NOT CHANGED",
                                                "ACK"}));
    EXPECT_EQ(ReadFile(path), before);

    // An upload into something that does not exist is refused at its end.
    ASSERT_EQ(m_pc.Send("PHMODIFY", "VEXUSR1.NEW.DATA", false), CM_OK);
    ASSERT_EQ(m_pc.Send("PHDATA", "X", false), CM_OK);
    EXPECT_EQ(m_pc.Ask("PHEOD", ""),
              (std::vector<std::string>{"HPMSG:RC=8 DATA SET VEXUSR1.NEW.DATA NOT IN CATALOG, NOTHING STORED", "ACK"}));
    // ... unless its attributes are given: then it is created.
    ASSERT_EQ(m_pc.Send("PHMODIFY", "VEXUSR1.NEW.DATA RECFM(V,B) LRECL(100)", false), CM_OK);
    ASSERT_EQ(m_pc.Send("PHDATA", "SHORT", false), CM_OK);
    ASSERT_EQ(m_pc.Send("PHDATA", "A LITTLE LONGER", false), CM_OK);
    EXPECT_EQ(m_pc.Ask("PHEOD", "").at(2), "HPMSG:RC=0 ROWS=2 VEXUSR1.NEW.DATA STORED");
    std::vector<std::string> stored = Stored(m_emu.Get(), "VEXUSR1.NEW.DATA");
    ASSERT_EQ(stored.size(), 2u);
    EXPECT_EQ(stored[0].size(), 5u); // variable records are not padded

    // A stray PHEOD is refused.
    EXPECT_EQ(m_pc.Ask("PHEOD", ""),
              (std::vector<std::string>{
                  "HPMSG:RC=12 PHEOD WITHOUT A PRECEDING PHMODIFY, 0 RECORDS RECEIVED AND DROPPED, NOTHING STORED",
                  "ACK"}));
}

TEST_F(Conversation, BinaryModeStoresBytesUntranslatedAndPadsWithZeros) {
    EXPECT_EQ(m_pc.Ask("PHSETOPT", "FTTRAIL=Y"),
              (std::vector<std::string>{"HPTXT:OPTIONS IN EFFECT: FTTRAIL=Y TRAILINGBLANKS=N", "ACK"}));
    ASSERT_EQ(m_pc.Send("PHMODIFY", "VEXUSR1.DEMO.EMPTY", false), CM_OK);
    const std::string bytes("\x00\x81\xFF\x0A", 4);
    ASSERT_EQ(m_pc.SendBinary("PHDATA", bytes, false), CM_OK);
    EXPECT_EQ(m_pc.Ask("PHEOD", "").at(2), "HPMSG:RC=0 ROWS=1 VEXUSR1.DEMO.EMPTY STORED");
    std::vector<std::string> stored = Stored(m_emu.Get(), "VEXUSR1.DEMO.EMPTY");
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(stored[0], bytes + std::string(76, '\0'));
    // In binary mode the download sends the whole record, zeros included.
    ASSERT_EQ(m_pc.Send("PHGETFILE", "VEXUSR1.DEMO.EMPTY"), CM_OK);
    std::vector<Block> blocks;
    ASSERT_EQ(m_pc.Answer(blocks), CM_OK);
    ASSERT_EQ(blocks.size(), 3u);
    EXPECT_EQ(blocks[0].bytes.substr(10), stored[0]);
    // Options are spelled as vexlink spells them: lower case is not FTTRAIL.
    std::vector<std::string> lower = m_pc.Ask("PHSETOPT", "fttrail=n");
    EXPECT_EQ(lower, (std::vector<std::string>{"HPTXT:OPTIONS IN EFFECT: FTTRAIL=Y TRAILINGBLANKS=N",
                                               "HPMSG:RC=4 OPTION NOT KNOWN, IGNORED: fttrail=n (KNOWN: FTTRAIL=Y, "
                                               "FTTRAIL=N, TRAILINGBLANKS=Y, TRAILINGBLANKS=N)",
                                               "ACK"}));
}

TEST_F(Conversation, UnparsableRequestsGetANonZeroReturnCode) {
    EXPECT_EQ(m_pc.Ask("PHNOSUCH", "x"),
              (std::vector<std::string>{"HPMSG:RC=12 REQUEST 'PHNOSUCH' NOT KNOWN TO THE HOST", "ACK"}));
    // A text that quotes "RC=0" does not turn an error into a success.
    std::vector<std::string> a = m_pc.Ask("PHGETFILE", "ARC=0");
    ASSERT_EQ(a.size(), 2u);
    EXPECT_EQ(a[0].find("RC=0"), std::string::npos) << a[0];
    EXPECT_EQ(a[0].compare(0, 11, "HPMSG:RC=8 "), 0) << a[0];
    // A record shorter than its prefix.
    int32_t len = 4, status = 0, rc = 0;
    const unsigned char shortRec[4] = {0xD7, 0xC8, 0xC1, 0xC2};
    cm_send_bin(m_pc.Cid(), shortRec, &len, 0, &status, &rc, 1);
    ASSERT_EQ(rc, CM_OK);
    std::vector<Block> blocks;
    ASSERT_EQ(m_pc.Answer(blocks), CM_OK);
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_EQ(m_pc.Describe(blocks[0]), "HPMSG:RC=12 RECORD OF 4 BYTES IS SHORTER THAN ITS 10-BYTE ITEM PREFIX");
}

TEST(ConversationTable, ServesAnotherCodePage) {
    EmuServer emu([](hostemu::EmuConfig& c) { c.codepage = 1; }); // IBM-037
    ASSERT_TRUE(emu.Started());
    PcClient pc(1);
    ASSERT_EQ(pc.Connect(emu.Port(), "VEXUSR1", "VEXPWD1"), CM_OK);
    ASSERT_EQ(pc.Send("PHGETFILE", "VEXUSR1.DEMO.REPORT"), CM_OK);
    std::vector<Block> blocks;
    ASSERT_EQ(pc.Answer(blocks), CM_OK);
    // The seed was stored in IBM-037 now: "Grüße" is C7 99 DC 59 85.
    EXPECT_EQ(Hex(blocks[0].bytes.substr(10, 5)), "C799DC5985");
}

TEST(ConversationMany, SeveralConversationsAtOnce) {
    EmuServer emu;
    ASSERT_TRUE(emu.Started());
    const int kClients = 4;
    std::vector<int> ok(kClients, 0);
    std::vector<std::thread> threads;
    for (int i = 0; i < kClients; ++i) {
        threads.emplace_back([&, i]() {
            PcClient pc;
            if (pc.Connect(emu.Port(), "VEXUSR1", "VEXPWD1") != CM_OK)
                return;
            int good = 0;
            for (int round = 0; round < 5; ++round) {
                int32_t rc = 0;
                std::vector<std::string> a = pc.Ask("PHGETFILE", "VEXUSR1.DEMO.DATA", &rc);
                good += rc == CM_OK && a.size() == 8 && a[6] == "HPEOD:RECORDS=6";
                const std::string member = "T" + std::to_string(i) + "R" + std::to_string(round);
                pc.Send("PHMODIFY", "VEXUSR1.JCL(" + member + ")", false);
                pc.Send("PHDATA", "LINE OF " + member, false);
                a = pc.Ask("PHEOD", "", &rc);
                good += rc == CM_OK && a.size() == 4 && a[2].find("ROWS=1") != std::string::npos;
            }
            ok[i] = good;
        });
    }
    for (auto& t : threads)
        t.join();
    for (int i = 0; i < kClients; ++i)
        EXPECT_EQ(ok[i], 10) << "client " << i;
    // No member update was lost.
    EXPECT_EQ(emu.Get().GetCatalog().Find("VEXUSR1.JCL")->members.size(), 5u + kClients * 5);
    EXPECT_GE(emu.Get().ConversationsAccepted(), static_cast<uint64_t>(kClients));
}

TEST(ConversationRestart, CatalogueAndSpoolSurviveARestart) {
    ScratchDir dir;
    const std::string cat = dir.path() + "/cat";
    {
        EmuServer emu(nullptr, cat);
        PcClient pc;
        ASSERT_EQ(pc.Connect(emu.Port(), "VEXUSR1", "VEXPWD1"), CM_OK);
        pc.Send("PHMODIFY", "VEXUSR1.JCL(KEEP)", false);
        pc.Send("PHDATA", "KEPT", false);
        ASSERT_EQ(pc.Ask("PHEOD", "").size(), 4u);
        ASSERT_EQ(pc.Ask("PHSUBMIT", "VEXUSR1.JCL(WARN)").size(), 3u);
    }
    EmuServer again(nullptr, cat);
    PcClient pc;
    ASSERT_EQ(pc.Connect(again.Port(), "VEXUSR1", "VEXPWD1"), CM_OK);
    EXPECT_EQ(Payloads(pc.Ask("PHGETFILE", "VEXUSR1.JCL(KEEP)"), "HPDATA:"), (std::vector<std::string>{"KEPT"}));
    std::vector<std::string> jobs = Payloads(pc.Ask("PHGDSLSTF", "JES"), "HPDATA:");
    ASSERT_EQ(jobs.size(), 1u);
    EXPECT_NE(jobs[0].find("CC 0004"), std::string::npos);
    // The next job number follows the kept ones.
    EXPECT_EQ(pc.Ask("PHSUBMIT", "VEXUSR1.JCL(HELLO)").at(1), "HPEOD:JOBID=JOB00002 JOBNAME=HELLO");
}
