// Conversations with the emulator over loopback for what runs through vexlink do not reach:
// allocation checks, unparsable requests and the fault switches only a conversation shows.

#include "testutil.h"

#include "names.h"
#include "platform/platform.h"

using namespace hostemu_test;

namespace {

class Conversation : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_emu.Started());
        ASSERT_EQ(m_pc.Connect(m_emu.Port(), "vexusr1", "VEXPWD1"), CM_OK);
    }
    EmuServer m_emu;
    PcClient m_pc;
};

} // namespace

TEST_F(Conversation, UnparsableRequestsGetANonZeroReturnCode)
{
    EXPECT_EQ(m_pc.Ask("PHNOSUCH", "x").at(0), "HPMSG:RC=12 REQUEST 'PHNOSUCH' NOT KNOWN TO THE HOST");
    const std::string quoted = m_pc.Ask("PHGETFILE", "ARC=0").at(0); // quoting RC=0 is no success
    EXPECT_EQ(quoted.compare(0, 11, "HPMSG:RC=8 "), 0) << quoted;
    EXPECT_EQ(quoted.find("RC=0"), std::string::npos) << quoted;
    ASSERT_EQ(m_pc.SendBytes("\xD7\xC8\xC1\xC2", true), CM_OK);
    std::vector<Block> blocks;
    ASSERT_EQ(m_pc.Answer(blocks), CM_OK);
    EXPECT_EQ(m_pc.Describe(blocks.at(0)), "HPMSG:RC=12 RECORD OF 4 BYTES IS SHORTER THAN ITS 10-BYTE ITEM PREFIX");
}

TEST(Allocation, UsersPasswordsMembersAndTheConversationBound)
{
    EmuServer emu([](hostemu::EmuConfig& c) {
        hostemu::UserEntry strict = User("STRICT", "pass phrase with blanks");
        strict.check = hostemu::UserEntry::Check::Yes;
        c.AddUser(strict);
        c.maxConversations = 1;
    });
    struct Case {
        const char *user, *password, *member;
        int check;
        int32_t rc;
    };
    // No password check asked by the PC: the user alone is checked, unless the user is always checked.
    for (const Case& c :
         {Case{"VEXUSR1", "wrong", "VEXSTC", 1, CM_SECURITY_NOT_VALID},
          Case{"NOBODY", "VEXPWD1", "VEXSTC", 1, CM_SECURITY_NOT_VALID},
          Case{"VEXUSR1", "VEXPWD1", "OTHERSTC", 1, CM_TPN_NOT_RECOGNIZED},
          Case{"VEXUSR1", "notused", "VEXSTC", 0, CM_OK}, Case{"STRICT", "notused", "VEXSTC", 0, CM_SECURITY_NOT_VALID},
          Case{"strict", "pass phrase with blanks", "vexstc", 1, CM_OK}}) {
        PcClient pc;
        EXPECT_EQ(pc.Connect(emu.Port(), c.user, c.password, c.member, c.check), c.rc) << c.user << "/" << c.password;
        if (c.rc == CM_OK) {
            EXPECT_NE(pc.Ask("PHREADY", "").at(0).find(" USER="), std::string::npos);
        }
        pc.Close();
        for (int i = 0; i < 100 && emu.Get().ActiveConversations() > 0; ++i)
            Platform::sleepMillis(50);
    }
    EXPECT_EQ(emu.Get().AllocationsRejected(), 4u);
    PcClient first, second;
    ASSERT_EQ(first.Connect(emu.Port(), "VEXUSR1", "VEXPWD1"), CM_OK);
    EXPECT_EQ(second.Connect(emu.Port(), "VEXUSR1", "VEXPWD1"), CM_TP_NOT_AVAILABLE_RETRY);
}

TEST(Faults, RejectedLogonPerUserDelayAndIdleEnd)
{
    EmuServer emu([](hostemu::EmuConfig& c) {
        hostemu::UserEntry slow = User("SLOW", "x");
        slow.faultKeys.emplace_back("DELAY_MS", "600");
        c.AddUser(slow);
        c.idleTimeout = 1;
    });
    PcClient fast, slow;
    ASSERT_EQ(fast.Connect(emu.Port(), "VEXUSR1", "VEXPWD1", "VEXSTC", 1, 5), CM_OK);
    ASSERT_EQ(slow.Connect(emu.Port(), "SLOW", "x"), CM_OK);
    const uint64_t t0 = Platform::monotonicMillis();
    slow.Ask("PHREADY", "");
    EXPECT_GE(Platform::monotonicMillis() - t0, 600u);
    // The host ends the conversation of fast, idle for more than a second.
    Platform::sleepMillis(1600);
    std::vector<Block> blocks;
    int32_t rc = fast.Send("PHREADY", "");
    if (rc == CM_OK)
        rc = fast.Answer(blocks);
    EXPECT_EQ(rc, CM_DEALLOCATED_NORMAL);
    EmuServer rejecting([](hostemu::EmuConfig& c) {
        std::string error;
        EXPECT_TRUE(c.faults.Set("REJECT_PASSWORD", "YES", error)) << error;
    });
    PcClient pc;
    EXPECT_EQ(pc.Connect(rejecting.Port(), "VEXUSR1", "VEXPWD1"), CM_SECURITY_NOT_VALID);
}
