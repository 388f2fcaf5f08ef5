// A session's answers without a network: turn rules, the upload protocol, unparsable requests,
// fault switch syntax, the allocation check, the listen address (what each switch makes of an
// answer: tests/faults; conversations over the network: tests/e2e).

#include "codec.h"
#include "scratchdir.h"
#include "seed.h"
#include "server.h"
#include "session.h"

#include <gtest/gtest.h>
#include <wirecomm.h>
#include <wirecomm_host.h>

#include <cstring>

using namespace hostemu;

namespace {

// Readable form of one item record: "NAME:payload" in the PC code page.
std::string DescribeRecord(const hostemu::Codec& codec, const std::string& block)
{
    std::string name = codec.ToPC(block.substr(0, 10));
    name.erase(name.find_last_not_of(' ') + 1);
    return name + ":" + codec.ToPC(block.substr(std::min<size_t>(10, block.size())));
}

// Events of an answer: "HPMSG:RC=0 ...", "ACK" (the turn back), "ACK-" (an
// empty block that keeps the turn), "RAW:<n>", "OVERSIZE:<n>", "DROP", "PAUSE:<ms>".
class RecordingSink : public hostemu::AnswerSink {
public:
    explicit RecordingSink(const hostemu::Codec& codec) : m_codec(codec) {}
    bool Send(const std::string& block) override { return Add(DescribeRecord(m_codec, block)); }
    bool Ack(bool handOver) override { return Add(handOver ? "ACK" : "ACK-"); }
    bool SendRaw(const std::string& bytes) override { return Add("RAW:" + std::to_string(bytes.size())); }
    bool SendOversize(const std::string& block) override { return Add("OVERSIZE:" + std::to_string(block.size())); }
    void Drop() override { Add("DROP"); }
    bool Pause(int millis) override { return Add("PAUSE:" + std::to_string(millis)); }
    std::vector<std::string> Take() { return std::move(m_events); }

private:
    bool Add(const std::string& e)
    {
        m_events.push_back(e);
        return true;
    }
    const hostemu::Codec& m_codec;
    std::vector<std::string> m_events;
};

class SessionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_catalog.Open(m_dir.path()).Ok());
        ASSERT_TRUE(SeedCatalogue(std::string(HOSTEMU_SAMPLE_DIR) + "/seed", m_catalog, m_codec).Ok());
        ASSERT_TRUE(m_spool.Open(m_dir.path() + "/spool").Ok());
    }
    std::unique_ptr<Session> Make(const std::vector<std::pair<std::string, std::string>>& switches = {})
    {
        Faults f;
        std::string error;
        for (const auto& s : switches)
            EXPECT_TRUE(f.Set(s.first, s.second, error)) << error;
        return std::unique_ptr<Session>(new Session(m_ctx, "VEXUSR1", "VEXSTC", f, 1));
    }
    std::string Rec(const std::string& name, const std::string& payload)
    {
        std::string r = name;
        r.resize(10, ' ');
        return m_codec.ToHost(r + payload);
    }
    std::vector<std::string> Ask(Session& s, const std::string& name, const std::string& payload, bool turn = true)
    {
        EXPECT_TRUE(s.OnBlock(Rec(name, payload), turn, m_sink));
        return m_sink.Take();
    }
    size_t Records(const std::string& dsn, const std::string& member = "")
    {
        std::unique_ptr<RecordReader> r;
        DsRef ref;
        ref.dsn = dsn;
        ref.member = member;
        EXPECT_TRUE(m_catalog.OpenReader(ref, r).Ok());
        return r ? r->TotalRecords() : 0;
    }

    ScratchDir m_dir;
    Codec m_codec{17};
    Catalog m_catalog;
    Spool m_spool{m_catalog, m_codec};
    HostContext m_ctx{m_catalog, m_spool, m_codec, "EMU1", nullptr};
    RecordingSink m_sink{m_codec};
};

using Answer = std::vector<std::string>;

} // namespace

TEST_F(SessionTest, TurnsAndTheUploadProtocol)
{
    auto s = Make();
    EXPECT_TRUE(Ask(*s, "PHDELETE", "VEXUSR1.DEMO.DATA", false).empty()); // no turn: not carried out
    EXPECT_TRUE(m_catalog.Find("VEXUSR1.DEMO.DATA"));
    EXPECT_TRUE(s->OnBlock(std::string(), true, m_sink));
    EXPECT_EQ(m_sink.Take(), Answer{"ACK"});
    // Pieces sent with the turn get the turn back and the upload goes on.
    EXPECT_EQ(Ask(*s, "PHMODIFY", "VEXUSR1.DEMO.EMPTY"), Answer{"ACK"});
    EXPECT_TRUE(Ask(*s, "PHDATA", "ONE", false).empty());
    EXPECT_EQ(Ask(*s, "PHDATA", "TWO"), Answer{"ACK"});
    EXPECT_EQ(Ask(*s, "PHEOD", ""), (Answer{"HPMSG:RC=0 2 RECORDS RECEIVED FOR VEXUSR1.DEMO.EMPTY", "ACK-",
                                            "HPMSG:RC=0 ROWS=2 VEXUSR1.DEMO.EMPTY STORED", "ACK"}));
    // Another request abandons an upload without storing it.
    Ask(*s, "PHMODIFY", "VEXUSR1.DEMO.DATA", false);
    Ask(*s, "PHDATA", "REPLACEMENT", false);
    EXPECT_EQ(Ask(*s, "PHREADY", "").back(), "ACK");
    EXPECT_EQ(Ask(*s, "PHEOD", "").at(0).substr(0, 12), "HPMSG:RC=12 ");
    EXPECT_EQ(Records("VEXUSR1.DEMO.DATA"), 6u);
    // Errors are reported at the end; APPEND keeps the old records in front.
    const std::vector<std::tuple<std::string, std::vector<std::string>, std::string>> uploads = {
        {"VEXUSR1.DEMO.DATA REPLACE",
         {},
         "HPMSG:RC=8 PHMODIFY OPTION REPLACE NOT UNDERSTOOD (APPEND, RECFM(), "
         "LRECL(), BLKSIZE(), VOL()), NOTHING STORED"},
        {"VEXUSR1.DEMO.REPORT",
         {std::string(251, 'x'), std::string(252, 'x')},
         "HPMSG:RC=8 RECORD 2 HAS 252 BYTES, LRECL OF VEXUSR1.DEMO.REPORT IS 255 (AT MOST 251 DATA BYTES), "
         "VEXUSR1.DEMO.REPORT NOT CHANGED"},
        {"VEXUSR1.JCL(HELLO) APPEND", {"//* ADDED"}, "HPMSG:RC=0 ROWS=1 VEXUSR1.JCL(HELLO) STORED"},
    };
    for (const auto& u : uploads) {
        Ask(*s, "PHMODIFY", std::get<0>(u), false);
        for (const std::string& piece : std::get<1>(u))
            Ask(*s, "PHDATA", piece, false);
        EXPECT_EQ(Ask(*s, "PHEOD", "").at(std::get<1>(u).size() == 1 ? 2 : 0), std::get<2>(u));
    }
    EXPECT_EQ(Records("VEXUSR1.JCL", "HELLO"), 4u);
    // A session that ends in the middle of an upload stores nothing and leaves no temporary file.
    Ask(*s, "PHMODIFY", "VEXUSR1.DEMO.DATA", false);
    Ask(*s, "PHDATA", "LOST", false);
    s.reset();
    EXPECT_EQ(Records("VEXUSR1.DEMO.DATA"), 6u);
    EXPECT_TRUE(std::filesystem::is_empty(m_dir.path() + "/tmp"));
}

TEST_F(SessionTest, UnparsableRequestsGetANonZeroReturnCode)
{
    auto s = Make();
    EXPECT_EQ(Ask(*s, "PHNOSUCH", "x").at(0), "HPMSG:RC=12 REQUEST 'PHNOSUCH' NOT KNOWN TO THE HOST");
    const std::string quoted = Ask(*s, "PHGETFILE", "ARC=0").at(0); // quoting RC=0 is no success
    EXPECT_EQ(quoted.compare(0, 11, "HPMSG:RC=8 "), 0) << quoted;
    EXPECT_EQ(quoted.find("RC=0"), std::string::npos) << quoted;
    EXPECT_TRUE(s->OnBlock("\xD7\xC8\xC1\xC2", true, m_sink));
    EXPECT_EQ(m_sink.Take().at(0), "HPMSG:RC=12 RECORD OF 4 BYTES IS SHORTER THAN ITS 10-BYTE ITEM PREFIX");
}

// Who may allocate: the member, the user, the password when the PC or the user's entry asks for
// its check, and the per-user switch that rejects every password.
TEST(Allocation, UsersPasswordsMembersAndTheRejectSwitch)
{
    EmuConfig cfg;
    cfg.members = {"VEXSTC"};
    UserEntry user;
    user.name = "VEXUSR1";
    user.password = "VEXPWD1";
    cfg.AddUser(user);
    user.name = "STRICT";
    user.password = "pass phrase with blanks";
    user.check = UserEntry::Check::Yes;
    cfg.AddUser(user);
    user.name = "REFUSED";
    user.check = UserEntry::Check::Client;
    user.faultKeys.emplace_back("REJECT_PASSWORD", "YES");
    cfg.AddUser(user);
    const Server server(cfg);
    struct Case {
        const char *user, *password, *member;
        int check;
        int32_t rc;
    };
    for (const Case& c :
         {Case{"VEXUSR1", "wrong", "VEXSTC", 1, CM_SECURITY_NOT_VALID},
          Case{"NOBODY", "VEXPWD1", "VEXSTC", 1, CM_SECURITY_NOT_VALID},
          Case{"VEXUSR1", "VEXPWD1", "OTHERSTC", 1, CM_TPN_NOT_RECOGNIZED},
          Case{"VEXUSR1", "notused", "VEXSTC", 0, CM_OK}, Case{"STRICT", "notused", "VEXSTC", 0, CM_SECURITY_NOT_VALID},
          Case{"strict", "pass phrase with blanks", "vexstc", 1, CM_OK},
          Case{"REFUSED", "pass phrase with blanks", "VEXSTC", 1, CM_SECURITY_NOT_VALID}}) {
        wch_alloc_info info{};
        std::strcpy(info.user, c.user);
        std::strcpy(info.password, c.password);
        std::strcpy(info.symdest, c.member);
        info.password_check = c.check;
        EXPECT_EQ(server.CheckAllocation(info), c.rc) << c.user << "/" << c.password << "/" << c.member;
    }
}

TEST(FaultSwitches, ParseAndDescribe)
{
    Faults f;
    std::string error;
    EXPECT_TRUE(f.Set("drop-after", "3", error));
    EXPECT_TRUE(f.Set("OVERSIZE", "yes", error));
    EXPECT_TRUE(f.Set("REQUESTS", "phgetfile, PHGDSLST", error));
    for (const auto& bad : {std::make_pair("OVERSIZE", "100"), // would fit a block: no fault
                            std::make_pair("DELAY_MS", "-1"), std::make_pair("GARBAGE_MODE", "SIDEWAYS"),
                            std::make_pair("EXPLODE", "YES")})
        EXPECT_FALSE(f.Set(bad.first, bad.second, error)) << bad.first;
    EXPECT_EQ(error, "UNKNOWN FAULT SWITCH EXPLODE");
    EXPECT_TRUE(f.AppliesTo("PHGETFILE"));
    EXPECT_FALSE(f.AppliesTo("PHREADY"));
    EXPECT_EQ(f.Describe(), "DROP_AFTER=3 OVERSIZE=32768 REQUESTS=PHGDSLST,PHGETFILE");
    EXPECT_EQ(Faults().Describe(), "none");
    // Return codes without leading zeros; a quoted RC=0 never reads as success.
    EXPECT_EQ(MessageText(8, "X"), "RC=8 X");
    EXPECT_EQ(MessageText(4, "QUOTED RC=0 AND RC=04"), "RC=4 QUOTED RC =0 AND RC =04");
    EXPECT_EQ(MessageText(12, ""), "RC=12");
}

// The emulator never listens beyond the machine.
TEST(EmuConfig, ListensOnLoopbackOnly)
{
    for (const char* address : {"127.0.0.1", "127.1.2.3", "::1", "0.0.0.0", "::", "192.168.1.1", "localhost.evil"}) {
        EmuConfig cfg;
        cfg.listen = address;
        std::string error;
        const bool loopback = std::string(address).rfind("127.", 0) == 0 || std::string(address) == "::1";
        EXPECT_EQ(cfg.Validate(error), loopback) << address << " " << error;
    }
}
