// Catalogue, names and filters, and the spool, without a conversation (the JCL and allocation
// requests as a front end sends them: tests/php's jobs session and tests/e2e).

#include "catalog.h"
#include "codec.h"
#include "names.h"
#include "scratchdir.h"
#include "spool.h"

#include <gtest/gtest.h>

#include <fstream>

using namespace hostemu;

namespace {

DsRef Ref(const std::string& text)
{
    DsRef r;
    std::string e;
    EXPECT_TRUE(ParseDsRef(text, r, e)) << e;
    return r;
}

std::vector<std::string> ReadAll(Catalog& c, const std::string& name)
{
    std::unique_ptr<RecordReader> r;
    Status st = c.OpenReader(Ref(name), r);
    EXPECT_TRUE(st.Ok()) << st.text;
    std::vector<std::string> out;
    std::string rec;
    while (r && r->Next(rec) == 1)
        out.push_back(rec);
    return out;
}

DsAttrs Fb80()
{
    DsAttrs a;
    a.recfm.blocked = true;
    return a;
}

} // namespace

TEST(Names, DataSetMemberJobNamesAndFilters)
{
    for (const char* good : {"SYS1.PROCLIB", "A.B-1.$X#@", "AAAAAAAA.BBBBBBBB.CCCCCCCC.DDDDDDDD.EEEEEEEE"})
        EXPECT_TRUE(IsValidDsName(good)) << good;
    for (const char* bad : {"SYS1..X", "1SYS.X", "ABCDEFGHI.X", "AAAAAAAA.BBBBBBBB.CCCCCCCC.DDDDDDDD.EEEEEEEE.F"})
        EXPECT_FALSE(IsValidDsName(bad)) << bad;
    EXPECT_FALSE(IsValidMemberName("A-1"));
    EXPECT_TRUE(IsValidMemberName("@ABC1234"));
    EXPECT_FALSE(IsJobId("JOB0012"));
    DsRef r;
    std::string e;
    ASSERT_TRUE(ParseDsRef(" 'user.pds(mem1)' ", r, e));
    EXPECT_EQ(r.dsn + "/" + r.member, "USER.PDS/MEM1");
    EXPECT_FALSE(ParseDsRef("USER.PDS(MEM", r, e));
    EXPECT_FALSE(ParseDsRef("USER.PDS(TOOLONGMEM)", r, e));
    EXPECT_EQ(e, "INVALID MEMBER NAME TOOLONGMEM");
    // {filter, name, matches}; many "**" stay exact.
    const std::vector<std::tuple<const char*, const char*, bool>> cases = {
        {"USER.DATA", "USER.DATA.OLD", true},
        {"USER.DATA", "USER.DATAX", false},
        {"USER.*", "USER.X", true},
        {"USER.*", "USER.X.Y", false},
        {"USER.*", "USER", false},
        {"USER.**", "USER.X.Y", true},
        {"USER.**", "USERX.Y", false},
        {"**.LOAD*", "A.B.C.LOADLIB", true},
        {"**.LOAD*", "LOAD", true},
        {"A%C.**.Z", "AXC.P.Q.Z", true},
        {"A%C.**.Z", "ABC.Z", true},
        {"A%C.**.Z", "AC.Z", false},
        {"**.**.**.**.**.**.**.**.**.**.X", "A.B.C.D.E.F.G.H.I.J.K.L.M.N.O.P.Q.R.S.T.U.V", false},
        {"**.**.**.**.**.**.**.**.**.**.X", "A.B.C.D.E.F.G.H.I.J.K.L.M.N.O.P.Q.R.S.T.U.X", true},
    };
    DsFilter f;
    for (const auto& c : cases) {
        ASSERT_TRUE(f.Compile(std::get<0>(c), e)) << e;
        EXPECT_EQ(f.Matches(std::get<1>(c)), std::get<2>(c)) << std::get<0>(c) << " " << std::get<1>(c);
    }
    ASSERT_TRUE(f.Compile("USER.*", e));
    EXPECT_EQ(f.LiteralPrefix(), "USER.");
    for (const char* bad : {"USER..X", "USER.A B", ""})
        EXPECT_FALSE(f.Compile(bad, e)) << bad;
    MemberFilter m;
    ASSERT_TRUE(m.Compile("a*%1", e));
    EXPECT_TRUE(m.Matches("ABC1"));
    EXPECT_FALSE(m.Matches("A1"));
    EXPECT_FALSE(m.Compile("A-B", e));
}

TEST(Attributes, RecordFormatsLengthsAndBlockSizes)
{
    DsAttrs a;
    std::string e;
    ASSERT_TRUE(ParseRecfm("f,b", a.recfm));
    EXPECT_EQ(RecfmText(a.recfm), "FB");
    a.lrecl = 133;
    ASSERT_TRUE(ValidateAttrs(a, e)) << e;
    EXPECT_EQ(a.blksize, 27930);
    a.blksize = 1000;
    EXPECT_FALSE(ValidateAttrs(a, e));
    Recfm r;
    EXPECT_TRUE(ParseRecfm("VBA", r));
    EXPECT_FALSE(ParseRecfm("UB", r));
    EXPECT_FALSE(ParseRecfm("FBB", r));
    DsAttrs v;
    v.recfm.type = 'V';
    v.lrecl = 4;
    EXPECT_FALSE(ValidateAttrs(v, e));
    v.lrecl = 32756;
    v.recfm.blocked = true;
    ASSERT_TRUE(ValidateAttrs(v, e)) << e;
    EXPECT_EQ(v.blksize, 32760);
    EXPECT_EQ(MaxDataLength(v), 32752);
}

TEST(Catalogue, WritesAsideAndReplacesOnlyCompleteChanges)
{
    ScratchDir dir;
    Catalog c;
    ASSERT_TRUE(c.Open(dir.path()).Ok());
    ASSERT_TRUE(c.CreateWithRecords("U.F", Fb80(), {"\xC1\xC2", ""}).Ok());
    EXPECT_EQ(ReadAll(c, "U.F"),
              (std::vector<std::string>{"\xC1\xC2" + std::string(78, '\x40'), std::string(80, '\x40')}));
    EXPECT_EQ(c.CreateWithRecords("U.F", Fb80(), {}).rc, 8);
    Status st;
    WriteOptions zeros;
    zeros.padByte = 0x00;
    auto w = c.BeginWrite(Ref("U.F"), zeros, st);
    ASSERT_TRUE(w) << st.text;
    EXPECT_TRUE(w->Add("\x01"));
    EXPECT_EQ(ReadAll(c, "U.F").size(), 2u); // readers see the old records until the commit
    ASSERT_TRUE(c.Commit(*w).Ok());
    EXPECT_EQ(ReadAll(c, "U.F"), (std::vector<std::string>{"\x01" + std::string(79, '\0')}));
    EXPECT_FALSE(c.Commit(*w).Ok()); // once only
    // A refused record spoils the whole change.
    w = c.BeginWrite(Ref("U.F"), WriteOptions(), st);
    EXPECT_TRUE(w->Add("OK"));
    EXPECT_FALSE(w->Add(std::string(81, 'X')));
    EXPECT_FALSE(w->Add("IGNORED"));
    EXPECT_EQ(w->Failure().text, "RECORD 2 HAS 81 BYTES, LRECL OF U.F IS 80");
    EXPECT_FALSE(c.Commit(*w).Ok());
    EXPECT_EQ(ReadAll(c, "U.F").size(), 1u);
    // A change whose data set is deleted meanwhile is not stored.
    w = c.BeginWrite(Ref("U.F"), WriteOptions(), st);
    w->Add("LATE");
    ASSERT_TRUE(c.Delete(Ref("U.F")).Ok());
    EXPECT_EQ(c.Commit(*w).rc, 8);
    EXPECT_FALSE(c.Find("U.F"));
    w.reset();
    EXPECT_TRUE(std::filesystem::is_empty(dir.path() + "/tmp"));
}

TEST(Catalogue, LibrariesKeepMembersSortedWithStatisticsAcrossAReopen)
{
    ScratchDir dir;
    Catalog c;
    ASSERT_TRUE(c.Open(dir.path()).Ok());
    DsAttrs lib = Fb80();
    lib.dsorg = Dsorg::PO;
    std::vector<NewMember> members(3);
    members[0].name = "ZETA", members[1].name = "ALPHA", members[2].name = "MID";
    members[1].records = {"A1", "A2"};
    ASSERT_TRUE(c.CreateLibrary("U.LIB", lib, members).Ok());
    EXPECT_EQ(c.Find("U.LIB")->members[0].stats.init, 2u);
    WriteOptions opts;
    opts.userid = "ME";
    for (const char* name : {"U.LIB(BETA)", "U.LIB(ALPHA)"}) {
        Status st;
        auto w = c.BeginWrite(Ref(name), opts, st);
        ASSERT_TRUE(w) << st.text;
        w->Add("NEW");
        ASSERT_TRUE(c.Commit(*w).Ok());
    }
    EntryPtr e = c.Find("U.LIB");
    std::vector<std::string> names;
    for (const auto& m : e->members)
        names.push_back(m.name);
    EXPECT_EQ(names, (std::vector<std::string>{"ALPHA", "BETA", "MID", "ZETA"}));
    EXPECT_EQ(e->members[1].stats.userid, "ME");
    EXPECT_EQ(e->members[0].stats.mm, 1);
    EXPECT_EQ(ReadAll(c, "U.LIB(ALPHA)"), (std::vector<std::string>{"NEW" + std::string(77, '\x40')}));
    ASSERT_TRUE(c.Delete(Ref("U.LIB(MID)")).Ok());
    EXPECT_EQ(c.Delete(Ref("U.LIB(MID)")).rc, 8);
    // Everything survives a reopen; a damaged file is skipped.
    std::ofstream(dir.path() + "/datasets/U.BAD", std::ios::binary)
        << "VEXDS 1\nDSORG PS\nRECFM FB\nLRECL 80\n\nDATA 00000000000000000005 00000000000000000100\nxx";
    Catalog again;
    ASSERT_TRUE(again.Open(dir.path()).Ok());
    EXPECT_EQ(again.Count(), 1u);
    EXPECT_EQ(again.Find("U.LIB")->members.size(), 3u);
    EXPECT_EQ(again.Find("U.LIB")->members[1].stats.userid, "ME");
}

TEST(Spool, CompletionCodesAndSpoolFiles)
{
    ScratchDir dir;
    Codec codec(17);
    Catalog c;
    ASSERT_TRUE(c.Open(dir.path()).Ok());
    ASSERT_TRUE(c.CreateWithRecords("U.IN", Fb80(), {codec.ToHost("HELLO")}).Ok());
    Spool spool(c, codec);
    ASSERT_TRUE(spool.Open(dir.file("spool")).Ok());
    // {cards after the job card, completion, records of U.IN after}
    const std::vector<std::tuple<std::vector<std::string>, std::string, size_t>> jobs = {
        {{"//S EXEC PGM=IEFBR14"}, "CC 0000", 1},
        {{"//S EXEC PGM=VEXTEST,PARM='RC=8'", "//T EXEC PGM=VEXTEST,PARM='RC=4'"}, "CC 0008", 1},
        {{"//S EXEC PGM=VEXTEST,PARM='ABEND=S222'", "//T EXEC PGM=IEFBR14"}, "ABEND S222", 1},
        {{"//S EXEC PGM=VEXTEST,PARM='ABEND=U5'"}, "ABEND U0005", 1},
        {{"//S EXEC PGM=IEFBR14", "//D DD DSN=U.MISSING,DISP=OLD"}, "JCL ERROR", 1},
        {{"//S EXEC PGM=IEBGENER", "//SYSUT1 DD DSN=U.IN(X),DISP=SHR", "//SYSUT2 DD SYSOUT=*"}, "ABEND S013", 1},
        {{"//S EXEC PGM=IEBGENER", "//SYSPRINT DD SYSOUT=*", "//SYSUT1 DD *", "X", "//SYSUT2 DD DSN=U.IN,DISP=MOD"},
         "CC 0000",
         2}, // appended
        {{"//S EXEC PGM=IEBGENER", "//SYSPRINT DD SYSOUT=*", "//SYSUT1 DD *", std::string(81, 'L'),
          "//SYSUT2 DD DSN=U.IN,DISP=OLD"},
         "CC 0000",
         1}, // in-stream cards cut at column 80
    };
    for (const auto& j : jobs) {
        std::vector<std::string> cards{"//A JOB"};
        cards.insert(cards.end(), std::get<0>(j).begin(), std::get<0>(j).end());
        JobPtr job;
        ASSERT_TRUE(spool.Submit(cards, "ME", job).Ok());
        EXPECT_EQ(job->completion, std::get<1>(j)) << cards[1];
        EXPECT_EQ(ReadAll(c, "U.IN").size(), std::get<2>(j)) << cards[1];
    }
    std::vector<std::string> dds;
    for (const SpoolFileInfo& f : spool.Find("JOB00008")->files)
        dds.push_back(f.stepname.empty() ? f.ddname : f.stepname + "." + f.ddname);
    EXPECT_EQ(dds, (std::vector<std::string>{"JESMSGLG", "JESJCL", "JESYSMSG", "S.SYSPRINT"}));
    std::vector<std::unique_ptr<RecordReader>> readers;
    EXPECT_EQ(spool.OpenReaders("JOB00008", "NOSUCH", readers).rc, 8);
    ASSERT_TRUE(spool.OpenReaders("JOB00002", "", readers).Ok());
    EXPECT_EQ(readers.size(), 3u);
    ASSERT_TRUE(spool.Purge("JOB00001").Ok());
    Spool again(c, codec);
    ASSERT_TRUE(again.Open(dir.file("spool")).Ok());
    EXPECT_EQ(again.List("").size(), 7u);
    EXPECT_EQ(again.Find("JOB00003")->completion, "ABEND S222");
}
