// Answer sequences of a session without a network: the turn rules, the
// upload protocol, and how the fault switches shape an answer.

#include "testutil.h"

#include "seed.h"

using namespace hostemu_test;
using namespace hostemu;

namespace {

class SessionTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_catalog.Open(m_dir.path()).Ok());
        ASSERT_TRUE(SeedCatalogue(std::string(HOSTEMU_SAMPLE_DIR) + "/seed", m_catalog, m_codec).Ok());
        ASSERT_TRUE(m_spool.Open(m_dir.path() + "/spool").Ok());
    }
    std::unique_ptr<Session> Make(const Faults& faults = Faults()) {
        return std::unique_ptr<Session>(new Session(m_ctx, "VEXUSR1", "VEXSTC", faults, 1));
    }
    // A request record as vexlink builds it (PC text, translated).
    std::string Rec(const std::string& name, const std::string& payload) {
        std::string r = name;
        r.resize(10, ' ');
        return m_codec.ToHost(r + payload);
    }
    std::vector<std::string> Ask(Session& s, const std::string& name, const std::string& payload,
                                 bool handOver = true) {
        EXPECT_TRUE(s.OnBlock(Rec(name, payload), handOver, m_sink));
        return m_sink.Take();
    }

    ScratchDir m_dir;
    Codec m_codec{17};
    Catalog m_catalog;
    Spool m_spool{m_catalog, m_codec};
    HostContext m_ctx{m_catalog, m_spool, m_codec, "EMU1", nullptr};
    RecordingSink m_sink{m_codec};
};

Faults Switch(const std::string& key, const std::string& value) {
    Faults f;
    std::string error;
    EXPECT_TRUE(f.Set(key, value, error)) << error;
    return f;
}

} // namespace

TEST_F(SessionTest, EveryTurnIsGivenBackAndOnlyTurnsAreAnswered) {
    auto s = Make();
    // A request without the turn is neither answered nor carried out.
    EXPECT_TRUE(Ask(*s, "PHDELETE", "VEXUSR1.DEMO.DATA", false).empty());
    EXPECT_TRUE(m_catalog.Find("VEXUSR1.DEMO.DATA"));
    // An empty block with the turn is answered by the turn.
    EXPECT_TRUE(s->OnBlock(std::string(), true, m_sink));
    EXPECT_EQ(m_sink.Take(), (std::vector<std::string>{"ACK"}));
    // Upload pieces sent with the turn (not as vexlink sends them) get the
    // turn back and the upload goes on.
    EXPECT_EQ(Ask(*s, "PHMODIFY", "VEXUSR1.DEMO.EMPTY", true), (std::vector<std::string>{"ACK"}));
    EXPECT_TRUE(Ask(*s, "PHDATA", "ONE", false).empty());
    EXPECT_EQ(Ask(*s, "PHDATA", "TWO", true), (std::vector<std::string>{"ACK"}));
    EXPECT_EQ(Ask(*s, "PHEOD", ""),
              (std::vector<std::string>{"HPMSG:RC=0 2 RECORDS RECEIVED FOR VEXUSR1.DEMO.EMPTY", "ACK-",
                                        "HPMSG:RC=0 ROWS=2 VEXUSR1.DEMO.EMPTY STORED", "ACK"}));
}

TEST_F(SessionTest, AnotherRequestAbandonsAnUploadWithoutStoringIt) {
    auto s = Make();
    EXPECT_TRUE(Ask(*s, "PHMODIFY", "VEXUSR1.DEMO.DATA", false).empty());
    EXPECT_TRUE(Ask(*s, "PHDATA", "REPLACEMENT", false).empty());
    EXPECT_EQ(Ask(*s, "PHREADY", "").back(), "ACK");
    // The PHEOD that follows has no upload any more.
    EXPECT_EQ(Ask(*s, "PHEOD", "").at(0).substr(0, 12), "HPMSG:RC=12 ");
    std::unique_ptr<RecordReader> r;
    DsRef ref;
    ref.dsn = "VEXUSR1.DEMO.DATA";
    ASSERT_TRUE(m_catalog.OpenReader(ref, r).Ok());
    EXPECT_EQ(r->TotalRecords(), 6u);
    // A session that ends in the middle of an upload stores nothing either.
    EXPECT_TRUE(Ask(*s, "PHMODIFY", "VEXUSR1.DEMO.DATA", false).empty());
    EXPECT_TRUE(Ask(*s, "PHDATA", "LOST", false).empty());
    s.reset();
    ASSERT_TRUE(m_catalog.OpenReader(ref, r).Ok());
    EXPECT_EQ(r->TotalRecords(), 6u);
    EXPECT_TRUE(std::filesystem::is_empty(m_dir.path() + "/tmp"));
}

TEST_F(SessionTest, UploadErrorsAreReportedAtTheEnd) {
    auto s = Make();
    // Bad options of PHMODIFY, a record too long for a V data set.
    Ask(*s, "PHMODIFY", "VEXUSR1.DEMO.DATA REPLACE", false);
    EXPECT_EQ(Ask(*s, "PHEOD", ""),
              (std::vector<std::string>{"HPMSG:RC=8 PHMODIFY OPTION REPLACE NOT UNDERSTOOD (APPEND, RECFM(), "
                                        "LRECL(), BLKSIZE(), VOL()), NOTHING STORED",
                                        "ACK"}));
    Ask(*s, "PHMODIFY", "VEXUSR1.DEMO.REPORT", false);
    Ask(*s, "PHDATA", std::string(251, 'x'), false);
    Ask(*s, "PHDATA", std::string(252, 'x'), false);
    EXPECT_EQ(Ask(*s, "PHEOD", ""),
              (std::vector<std::string>{"HPMSG:RC=8 RECORD 2 HAS 252 BYTES, LRECL OF VEXUSR1.DEMO.REPORT IS 255 "
                                        "(AT MOST 251 DATA BYTES), VEXUSR1.DEMO.REPORT NOT CHANGED",
                                        "ACK"}));
    // APPEND keeps the old records in front; ROWS counts the new ones.
    Ask(*s, "PHMODIFY", "VEXUSR1.JCL(HELLO) APPEND", false);
    Ask(*s, "PHDATA", "//* ADDED", false);
    EXPECT_EQ(Ask(*s, "PHEOD", "").at(2), "HPMSG:RC=0 ROWS=1 VEXUSR1.JCL(HELLO) STORED");
    std::unique_ptr<RecordReader> r;
    DsRef ref;
    ref.dsn = "VEXUSR1.JCL";
    ref.member = "HELLO";
    ASSERT_TRUE(m_catalog.OpenReader(ref, r).Ok());
    EXPECT_EQ(r->TotalRecords(), 4u);
}

TEST_F(SessionTest, FaultSwitchesShapeTheAnswer) {
    {
        auto s = Make(Switch("DELAY_MS", "250"));
        EXPECT_EQ(Ask(*s, "PHTXT", "a"), (std::vector<std::string>{"PAUSE:250", "HPTXT:TEXT RECEIVED BY EMU1: a", "ACK"}));
        // A turn handed back inside an upload is not an answer: no delay.
        EXPECT_EQ(Ask(*s, "PHMODIFY", "X.Y", true), (std::vector<std::string>{"ACK"}));
    }
    {
        auto s = Make(Switch("OVERSIZE", "40000"));
        std::vector<std::string> a = Ask(*s, "PHGETFILE", "VEXUSR1.JCL(HELLO)");
        ASSERT_EQ(a.size(), 5u);
        EXPECT_EQ(a[0], "OVERSIZE:40000");
        EXPECT_EQ(a[1].substr(0, 7), "HPDATA:");
    }
    {
        auto s = Make(Switch("DROP_AFTER", "1"));
        EXPECT_FALSE(s->OnBlock(Rec("PHGPODIR", "VEXUSR1.JCL"), true, m_sink));
        EXPECT_EQ(m_sink.Take(), (std::vector<std::string>{"HPDATA:BADJCL", "DROP"}));
    }
    {
        Faults f = Switch("GARBAGE", "3");
        std::string error;
        ASSERT_TRUE(f.Set("GARBAGE_MODE", "RAW", error));
        auto s = Make(f);
        EXPECT_EQ(Ask(*s, "PHTXT", "b"), (std::vector<std::string>{"RAW:3", "HPTXT:TEXT RECEIVED BY EMU1: b", "ACK"}));
    }
    {
        auto s = Make(Switch("NEVER_ANSWER", "YES"));
        EXPECT_TRUE(Ask(*s, "PHREADY", "").empty());
        EXPECT_TRUE(s->Hanging());
        EXPECT_TRUE(Ask(*s, "PHREADY", "").empty());
    }
}

TEST(FaultSwitches, ParseAndDescribe) {
    Faults f;
    std::string error;
    EXPECT_TRUE(f.Set("drop-after", "3", error));
    EXPECT_TRUE(f.Set("OVERSIZE", "yes", error));
    EXPECT_EQ(f.oversize, 32768);
    EXPECT_FALSE(f.Set("OVERSIZE", "100", error)); // would fit a block: no fault
    EXPECT_FALSE(f.Set("DELAY_MS", "-1", error));
    EXPECT_FALSE(f.Set("GARBAGE_MODE", "SIDEWAYS", error));
    EXPECT_FALSE(f.Set("EXPLODE", "YES", error));
    EXPECT_EQ(error, "UNKNOWN FAULT SWITCH EXPLODE");
    EXPECT_TRUE(f.Set("REQUESTS", "phgetfile, PHGDSLST", error));
    EXPECT_TRUE(f.AppliesTo("PHGETFILE"));
    EXPECT_FALSE(f.AppliesTo("PHREADY"));
    EXPECT_EQ(f.Describe(), "DROP_AFTER=3 OVERSIZE=32768 REQUESTS=PHGDSLST,PHGETFILE");
    EXPECT_EQ(Faults().Describe(), "none");
}

TEST(MessageTexts, ReturnCodesHaveNoLeadingZerosAndErrorsNeverReadAsSuccess) {
    EXPECT_EQ(MessageText(0, "OK"), "RC=0 OK");
    EXPECT_EQ(MessageText(8, "X"), "RC=8 X");
    EXPECT_EQ(MessageText(4, "QUOTED RC=0 AND RC=04"), "RC=4 QUOTED RC =0 AND RC =04");
    EXPECT_EQ(MessageText(12, ""), "RC=12");
}
