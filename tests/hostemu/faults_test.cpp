// The allocation checks and what only a real conversation shows of the
// fault switches: a refused logon, a switch for one user, the host ending an
// idle conversation. How each switch shapes an answer is checked on the
// session (session_test.cpp); what vexlink makes of it, end to end
// (tests/faults, tests/e2e).

#include "emuserver.h"

#include "platform/platform.h"

using namespace hostemu_test;

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
    EmuServer emu([](hostemu::EmuConfig& c) {
        std::string error;
        EXPECT_TRUE(c.faults.Set("REJECT_PASSWORD", "YES", error)) << error;
    });
    PcClient pc;
    EXPECT_EQ(pc.Connect(emu.Port(), "VEXUSR1", "VEXPWD1"), CM_SECURITY_NOT_VALID);
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
