// The fault switches and the allocation checks, seen from the PC side of a
// real conversation.

#include "emuserver.h"

#include "platform/platform.h"

using namespace hostemu_test;

namespace {

std::function<void(hostemu::EmuConfig&)> Fault(const std::string& key, const std::string& value,
                                               const std::string& requests = std::string()) {
    return [=](hostemu::EmuConfig& c) {
        std::string error;
        EXPECT_TRUE(c.faults.Set(key, value, error)) << error;
        if (!requests.empty()) {
            EXPECT_TRUE(c.faults.Set("REQUESTS", requests, error)) << error;
        }
    };
}

} // namespace

TEST(Allocation, UsersPasswordsAndMembersAreChecked) {
    EmuServer emu([](hostemu::EmuConfig& c) {
        hostemu::UserEntry strict;
        strict.name = "STRICT";
        strict.password = "pass phrase with blanks";
        strict.check = hostemu::UserEntry::Check::Yes;
        c.AddUser(strict);
    });
    ASSERT_TRUE(emu.Started());
    {
        PcClient pc;
        EXPECT_EQ(pc.Connect(emu.Port(), "VEXUSR1", "wrong"), CM_SECURITY_NOT_VALID);
    }
    {
        PcClient pc;
        EXPECT_EQ(pc.Connect(emu.Port(), "NOBODY", "VEXPWD1"), CM_SECURITY_NOT_VALID);
    }
    {
        PcClient pc;
        EXPECT_EQ(pc.Connect(emu.Port(), "VEXUSR1", "VEXPWD1", "OTHERSTC"), CM_TPN_NOT_RECOGNIZED);
    }
    {
        // The PC asks for no password check: the user alone is checked.
        PcClient pc;
        EXPECT_EQ(pc.Connect(emu.Port(), "VEXUSR1", "notused", "VEXSTC", 0), CM_OK);
        EXPECT_EQ(pc.Ask("PHREADY", "").back(), "ACK");
    }
    {
        // ... unless the user's password is always checked.
        PcClient pc;
        EXPECT_EQ(pc.Connect(emu.Port(), "STRICT", "notused", "VEXSTC", 0), CM_SECURITY_NOT_VALID);
    }
    {
        PcClient pc;
        EXPECT_EQ(pc.Connect(emu.Port(), "strict", "pass phrase with blanks", "vexstc"), CM_OK);
        EXPECT_NE(pc.Ask("PHREADY", "").at(0).find(" USER=STRICT "), std::string::npos);
    }
    EXPECT_EQ(emu.Get().AllocationsRejected(), 4u);
}

TEST(Allocation, ConversationsAtOnceAreBounded) {
    EmuServer emu([](hostemu::EmuConfig& c) { c.maxConversations = 1; });
    PcClient first;
    ASSERT_EQ(first.Connect(emu.Port(), "VEXUSR1", "VEXPWD1"), CM_OK);
    {
        PcClient second;
        EXPECT_EQ(second.Connect(emu.Port(), "VEXUSR1", "VEXPWD1"), CM_TP_NOT_AVAILABLE_RETRY);
    }
    first.Close();
    for (int i = 0; i < 100 && emu.Get().ActiveConversations() > 0; ++i)
        Platform::sleepMillis(50);
    PcClient third;
    EXPECT_EQ(third.Connect(emu.Port(), "VEXUSR1", "VEXPWD1"), CM_OK);
}

TEST(Faults, RejectPasswordRefusesEveryLogon) {
    EmuServer emu(Fault("REJECT_PASSWORD", "YES"));
    PcClient pc;
    EXPECT_EQ(pc.Connect(emu.Port(), "VEXUSR1", "VEXPWD1"), CM_SECURITY_NOT_VALID);
}

TEST(Faults, DelayHoldsEachAnswerBack) {
    EmuServer emu(Fault("DELAY_MS", "700", "PHGETFILE"));
    PcClient pc;
    ASSERT_EQ(pc.Connect(emu.Port(), "VEXUSR1", "VEXPWD1"), CM_OK);
    uint64_t t0 = Platform::monotonicMillis();
    EXPECT_EQ(pc.Ask("PHGETFILE", "VEXUSR1.JCL(HELLO)").back(), "ACK");
    EXPECT_GE(Platform::monotonicMillis() - t0, 700u);
}

TEST(Faults, PerUserSwitchesActOnlyOnThatUser) {
    EmuServer emu([](hostemu::EmuConfig& c) {
        hostemu::UserEntry slow;
        slow.name = "SLOW";
        slow.password = "x";
        slow.faultKeys.emplace_back("DELAY_MS", "600");
        c.AddUser(slow);
    });
    PcClient fast, slow;
    ASSERT_EQ(fast.Connect(emu.Port(), "VEXUSR1", "VEXPWD1"), CM_OK);
    ASSERT_EQ(slow.Connect(emu.Port(), "SLOW", "x"), CM_OK);
    uint64_t t0 = Platform::monotonicMillis();
    slow.Ask("PHREADY", "");
    EXPECT_GE(Platform::monotonicMillis() - t0, 600u);
    EXPECT_EQ(fast.Ask("PHREADY", "").back(), "ACK");
}

TEST(Faults, NeverAnswerKeepsTheTurn) {
    EmuServer emu(Fault("NEVER_ANSWER", "YES", "PHGETFILE"));
    PcClient pc;
    ASSERT_EQ(pc.Connect(emu.Port(), "VEXUSR1", "VEXPWD1", "VEXSTC", 1, 1), CM_OK);
    EXPECT_EQ(pc.Ask("PHREADY", "").back(), "ACK"); // other requests are answered
    int32_t rc = 0;
    EXPECT_TRUE(pc.Ask("PHGETFILE", "VEXUSR1.DEMO.DATA", &rc).empty());
    EXPECT_EQ(rc, CM_OPERATION_INCOMPLETE);
    // Still nothing a second later; the PC ends the conversation itself.
    std::vector<Block> blocks;
    EXPECT_EQ(pc.Answer(blocks), CM_OPERATION_INCOMPLETE);
    EXPECT_EQ(pc.Close(), CM_OK);
}

TEST(Faults, DropAfterClosesTheConnectionMidDownload) {
    EmuServer emu(Fault("DROP_AFTER", "2"));
    PcClient pc;
    ASSERT_EQ(pc.Connect(emu.Port(), "VEXUSR1", "VEXPWD1"), CM_OK);
    ASSERT_EQ(pc.Send("PHGETFILE", "VEXUSR1.DEMO.DATA"), CM_OK);
    std::vector<Block> blocks;
    EXPECT_EQ(pc.Answer(blocks), CM_RESOURCE_FAILURE_RETRY);
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_EQ(pc.Describe(blocks[0]).substr(0, 15), "HPDATA:CUSTOMER");
    // A download shorter than the limit is not touched.
    PcClient other;
    ASSERT_EQ(other.Connect(emu.Port(), "VEXUSR1", "VEXPWD1"), CM_OK);
    EXPECT_EQ(other.Ask("PHGETFILE", "VEXUSR1.LOADLIB(HELLO)").back(), "ACK"); // one record
}

TEST(Faults, FailAfterEndsTheDownloadCleanly) {
    EmuServer emu(Fault("FAIL_AFTER", "2"));
    PcClient pc;
    ASSERT_EQ(pc.Connect(emu.Port(), "VEXUSR1", "VEXPWD1"), CM_OK);
    std::vector<std::string> a = pc.Ask("PHGETFILE", "VEXUSR1.DEMO.DATA");
    ASSERT_EQ(a.size(), 5u);
    EXPECT_EQ(a[2], "HPMSG:RC=12 IEC020I 001-4 I/O ERROR READING RECORD 3 OF VEXUSR1.DEMO.DATA (FAULT SWITCH), "
                    "DOWNLOAD ENDED AFTER 2 RECORDS");
    EXPECT_EQ(a[3], "HPEOD:RECORDS=2");
    EXPECT_EQ(a[4], "ACK");
    a = pc.Ask("PHGPODIR", "VEXUSR1.JCL");
    EXPECT_EQ(a, (std::vector<std::string>{"HPDATA:BADJCL", "HPDATA:COPY",
                                           "HPMSG:RC=12 LIST ENDED AFTER 2 ENTRIES: I/O ERROR (FAULT SWITCH)",
                                           "HPEOD:ENTRIES=2", "ACK"}));
}

TEST(Faults, UnknownPrefixComesFirst) {
    EmuServer emu(Fault("UNKNOWN_PREFIX", "YES", "PHGETFILE PHREADY"));
    PcClient pc;
    ASSERT_EQ(pc.Connect(emu.Port(), "VEXUSR1", "VEXPWD1"), CM_OK);
    std::vector<std::string> a = pc.Ask("PHREADY", "");
    ASSERT_EQ(a.size(), 3u);
    EXPECT_EQ(a[0], "HPBOGUS:AN ITEM NO PC KNOWS");
    EXPECT_EQ(a[1].substr(0, 8), "HPREADY:");
    EXPECT_EQ(pc.Ask("PHTXT", "x"), (std::vector<std::string>{"HPTXT:TEXT RECEIVED BY EMU1: x", "ACK"}));
}

TEST(Faults, GarbageAsBlocksInlineAndRaw) {
    {
        EmuServer emu(Fault("GARBAGE", "16", "PHGETFILE"));
        PcClient pc;
        ASSERT_EQ(pc.Connect(emu.Port(), "VEXUSR1", "VEXPWD1"), CM_OK);
        ASSERT_EQ(pc.Send("PHGETFILE", "VEXUSR1.JCL(HELLO)"), CM_OK);
        std::vector<Block> blocks;
        ASSERT_EQ(pc.Answer(blocks), CM_OK);
        // garbage, HPDATA x3, each behind garbage; garbage, HPEOD; ACK.
        ASSERT_EQ(blocks.size(), 9u);
        for (size_t i = 0; i + 1 < blocks.size(); i += 2) {
            EXPECT_EQ(blocks[i].bytes.size(), 16u);
            EXPECT_EQ(blocks[i].bytes, blocks[0].bytes);
            EXPECT_NE(blocks[i].bytes.substr(0, 2), std::string("\xC8\xD7")); // no "HP" in front
        }
        EXPECT_EQ(pc.Describe(blocks[7]), "HPEOD:RECORDS=3");
    }
    {
        EmuServer emu([](hostemu::EmuConfig& c) {
            std::string e;
            c.faults.Set("GARBAGE", "5", e);
            c.faults.Set("GARBAGE_MODE", "INLINE", e);
        });
        PcClient pc;
        ASSERT_EQ(pc.Connect(emu.Port(), "VEXUSR1", "VEXPWD1"), CM_OK);
        ASSERT_EQ(pc.Send("PHTXT", "hi"), CM_OK);
        std::vector<Block> blocks;
        ASSERT_EQ(pc.Answer(blocks), CM_OK);
        ASSERT_EQ(blocks.size(), 2u);
        EXPECT_EQ(DescribeRecord(pc.Codec(), blocks[0].bytes.substr(5)), "HPTXT:TEXT RECEIVED BY EMU1: hi");
    }
    {
        EmuServer emu([](hostemu::EmuConfig& c) {
            std::string e;
            c.faults.Set("GARBAGE", "8", e);
            c.faults.Set("GARBAGE_MODE", "RAW", e);
        });
        PcClient pc;
        ASSERT_EQ(pc.Connect(emu.Port(), "VEXUSR1", "VEXPWD1"), CM_OK);
        ASSERT_EQ(pc.Send("PHREADY", ""), CM_OK);
        std::vector<Block> blocks;
        // Bytes outside the frames break the conversation on the PC side.
        EXPECT_EQ(pc.Answer(blocks), CM_RESOURCE_FAILURE_NO_RETRY);
        EXPECT_TRUE(blocks.empty());
    }
}

TEST(Faults, OversizeRecordIsRefusedByThePc) {
    EmuServer emu(Fault("OVERSIZE", "32768"));
    PcClient pc;
    ASSERT_EQ(pc.Connect(emu.Port(), "VEXUSR1", "VEXPWD1"), CM_OK);
    EXPECT_EQ(pc.Ask("PHREADY", "").back(), "ACK"); // no data record, no effect
    ASSERT_EQ(pc.Send("PHGETFILE", "VEXUSR1.DEMO.DATA"), CM_OK);
    std::vector<Block> blocks;
    EXPECT_EQ(pc.Answer(blocks), CM_RESOURCE_FAILURE_NO_RETRY);
    EXPECT_TRUE(blocks.empty());
}

TEST(Faults, IdleConversationIsEndedByTheHost) {
    EmuServer emu([](hostemu::EmuConfig& c) { c.idleTimeout = 1; });
    PcClient pc;
    ASSERT_EQ(pc.Connect(emu.Port(), "VEXUSR1", "VEXPWD1", "VEXSTC", 1, 5), CM_OK);
    EXPECT_EQ(pc.Ask("PHREADY", "").back(), "ACK");
    Platform::sleepMillis(1600);
    int32_t rc = pc.Send("PHREADY", "");
    std::vector<Block> blocks;
    if (rc == CM_OK)
        rc = pc.Answer(blocks);
    EXPECT_EQ(rc, CM_DEALLOCATED_NORMAL);
}
