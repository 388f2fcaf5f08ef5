// The catalogue, names and filters, the record files, JCL, the spool and
// the allocation strings, without a conversation.

#include "testutil.h"

#include "bpxwdyn.h"
#include "jcl.h"
#include "names.h"
#include "recfile.h"
#include "spool.h"

#include <fstream>

using namespace hostemu_test;
using namespace hostemu;

namespace {

DsRef Ref(const std::string& text) {
    DsRef r;
    std::string e;
    EXPECT_TRUE(ParseDsRef(text, r, e)) << e;
    return r;
}

std::vector<std::string> ReadAll(Catalog& c, const std::string& name) {
    std::unique_ptr<RecordReader> r;
    Status st = c.OpenReader(Ref(name), r);
    EXPECT_TRUE(st.Ok()) << st.text;
    std::vector<std::string> out;
    std::string rec;
    while (r && r->Next(rec) == 1)
        out.push_back(rec);
    return out;
}

DsAttrs Fb80() {
    DsAttrs a;
    a.recfm.blocked = true;
    return a;
}

} // namespace

TEST(Names, DataSetMemberJobNamesAndFilters) {
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
        {"USER.DATA", "USER.DATA.OLD", true}, {"USER.DATA", "USER.DATAX", false}, {"USER.*", "USER.X", true},
        {"USER.*", "USER.X.Y", false}, {"USER.*", "USER", false}, {"USER.**", "USER.X.Y", true},
        {"USER.**", "USERX.Y", false}, {"**.LOAD*", "A.B.C.LOADLIB", true}, {"**.LOAD*", "LOAD", true},
        {"A%C.**.Z", "AXC.P.Q.Z", true}, {"A%C.**.Z", "ABC.Z", true}, {"A%C.**.Z", "AC.Z", false},
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

TEST(Attributes, RecordFormatsLengthsAndBlockSizes) {
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

TEST(Catalogue, WritesAsideAndReplacesOnlyCompleteChanges) {
    ScratchDir dir;
    Catalog c;
    ASSERT_TRUE(c.Open(dir.path()).Ok());
    ASSERT_TRUE(c.CreateWithRecords("U.F", Fb80(), {"\xC1\xC2", ""}).Ok());
    EXPECT_EQ(ReadAll(c, "U.F"), (std::vector<std::string>{"\xC1\xC2" + std::string(78, '\x40'),
                                                           std::string(80, '\x40')}));
    EXPECT_EQ(c.CreateWithRecords("U.F", Fb80(), {}).rc, 8);

    Status st;
    WriteOptions opts;
    opts.padByte = 0x00;
    auto w = c.BeginWrite(Ref("U.F"), opts, st);
    ASSERT_TRUE(w) << st.text;
    EXPECT_TRUE(w->Add("\x01"));
    // Until the commit, readers see the old records.
    EXPECT_EQ(ReadAll(c, "U.F").size(), 2u);
    ASSERT_TRUE(c.Commit(*w).Ok());
    EXPECT_EQ(ReadAll(c, "U.F"), (std::vector<std::string>{"\x01" + std::string(79, '\0')}));
    EXPECT_FALSE(c.Commit(*w).Ok()); // once only

    // A refused record spoils the whole change.
    w = c.BeginWrite(Ref("U.F"), WriteOptions(), st);
    ASSERT_TRUE(w);
    EXPECT_TRUE(w->Add("OK"));
    EXPECT_FALSE(w->Add(std::string(81, 'X')));
    EXPECT_FALSE(w->Add("IGNORED"));
    EXPECT_EQ(w->Failure().text, "RECORD 2 HAS 81 BYTES, LRECL OF U.F IS 80");
    EXPECT_FALSE(c.Commit(*w).Ok());
    EXPECT_EQ(ReadAll(c, "U.F").size(), 1u);

    // A change whose data set is deleted meanwhile is not stored.
    w = c.BeginWrite(Ref("U.F"), WriteOptions(), st);
    ASSERT_TRUE(w);
    w->Add("LATE");
    ASSERT_TRUE(c.Delete(Ref("U.F")).Ok());
    EXPECT_EQ(c.Commit(*w).rc, 8);
    EXPECT_FALSE(c.Find("U.F"));
    w.reset();
    EXPECT_TRUE(std::filesystem::is_empty(dir.path() + "/tmp"));
}

TEST(Catalogue, LibrariesKeepMembersSortedWithStatistics) {
    ScratchDir dir;
    Catalog c;
    ASSERT_TRUE(c.Open(dir.path()).Ok());
    DsAttrs lib = Fb80();
    lib.dsorg = Dsorg::PO;
    std::vector<NewMember> members(3);
    members[0].name = "ZETA";
    members[0].records = {"Z"};
    members[1].name = "ALPHA";
    members[1].records = {"A1", "A2"};
    members[2].name = "MID";
    ASSERT_TRUE(c.CreateLibrary("U.LIB", lib, members).Ok());
    EntryPtr e = c.Find("U.LIB");
    ASSERT_TRUE(e);
    ASSERT_EQ(e->members.size(), 3u);
    EXPECT_EQ(e->members[0].name, "ALPHA");
    EXPECT_EQ(e->members[0].section.records, 2u);
    EXPECT_EQ(e->members[0].stats.init, 2u);

    WriteOptions opts;
    opts.userid = "ME";
    Status st;
    auto w = c.BeginWrite(Ref("U.LIB(BETA)"), opts, st);
    ASSERT_TRUE(w) << st.text;
    w->Add("B");
    ASSERT_TRUE(c.Commit(*w).Ok());
    w = c.BeginWrite(Ref("U.LIB(ALPHA)"), opts, st);
    ASSERT_TRUE(w);
    w->Add("NEW");
    ASSERT_TRUE(c.Commit(*w).Ok());
    e = c.Find("U.LIB");
    ASSERT_EQ(e->members.size(), 4u);
    EXPECT_EQ(e->members[1].name, "BETA");
    EXPECT_EQ(e->members[1].stats.userid, "ME");
    EXPECT_EQ(e->members[0].stats.mm, 1);
    EXPECT_EQ(e->members[0].stats.init, 2u);
    EXPECT_EQ(ReadAll(c, "U.LIB(ALPHA)"), (std::vector<std::string>{"NEW" + std::string(77, '\x40')}));
    EXPECT_EQ(ReadAll(c, "U.LIB(ZETA)"), (std::vector<std::string>{"Z" + std::string(79, '\x40')}));
    ASSERT_TRUE(c.Delete(Ref("U.LIB(MID)")).Ok());
    EXPECT_EQ(c.Delete(Ref("U.LIB(MID)")).rc, 8);

    // Everything survives a reopen, and damaged files are skipped.
    {
        std::ofstream bad(dir.path() + "/datasets/U.BAD", std::ios::binary);
        bad << "VEXDS 1\nDSORG PS\nRECFM FB\nLRECL 80\n\nDATA 00000000000000000005 00000000000000000100\nxx";
    }
    Catalog again;
    ASSERT_TRUE(again.Open(dir.path()).Ok());
    EXPECT_EQ(again.Count(), 1u);
    EXPECT_EQ(again.Find("U.LIB")->members.size(), 3u);
    EXPECT_EQ(again.Find("U.LIB")->members[1].stats.userid, "ME");
    EXPECT_EQ(ReadAll(again, "U.LIB(BETA)").size(), 1u);
}

TEST(RecordFiles, DamageIsDetectedWhileReading) {
    ScratchDir dir;
    const std::string path = dir.path() + "/f";
    RecordFileWriter w;
    std::string e;
    ASSERT_TRUE(w.Open(path, e));
    w.WriteHeader("VEXDS", {{"DSORG", "PS"}, {"RECFM", "U"}});
    w.BeginSection({"DATA"});
    w.AddRecord("ABC", 3);
    w.AddRecord("", 0);
    Section s;
    w.EndSection(&s);
    ASSERT_TRUE(w.Close(e)) << e;
    RecordFileIndex idx;
    ASSERT_TRUE(ReadRecordFileIndex(path, "VEXDS", idx, e)) << e;
    ASSERT_EQ(idx.sections.size(), 1u);
    EXPECT_EQ(idx.sections[0].records, 2u);
    EXPECT_EQ(idx.sections[0].bytes, 11u);
    EXPECT_FALSE(ReadRecordFileIndex(path, "VEXJOB", idx, e));
    // A section that claims a record longer than itself.
    Section lie = s;
    lie.bytes = 6;
    RecordReader r(OpenForRead(path), lie);
    std::string rec;
    EXPECT_EQ(r.Next(rec), -1);
    RecordReader ok(OpenForRead(path), s);
    EXPECT_EQ(ok.Next(rec), 1);
    EXPECT_EQ(rec, "ABC");
    EXPECT_EQ(ok.Next(rec), 1);
    EXPECT_EQ(rec, "");
    EXPECT_EQ(ok.Next(rec), 0);
}

TEST(Jcl, StatementsContinuationsAndInstreamData) {
    std::vector<JclError> errors;
    std::vector<JclStatement> st = ParseJclCards(
        {"//J1  JOB (A),'X Y',", "//  CLASS=B  COMMENT", "//* comment", "//S1 EXEC PGM=VEXTEST,PARM='A B,C'",
         "//SYSIN DD *", "DATA 1", "DATA 2", "/*", "//OUT DD DSN=A.B,DISP=(NEW,CATLG),", "//   DCB=(RECFM=FB,LRECL=133)",
         "loose data", "//", "//NOT PART OF THE JOB"},
        errors);
    EXPECT_TRUE(errors.empty());
    ASSERT_EQ(st.size(), 5u);
    EXPECT_EQ(st[0].operands, "(A),'X Y',CLASS=B");
    EXPECT_EQ(st[0].cards.size(), 2u);
    EXPECT_EQ(st[2].instream, (std::vector<std::string>{"DATA 1", "DATA 2"}));
    EXPECT_EQ(st[4].name, "SYSIN");
    EXPECT_TRUE(st[4].generated);

    JobSpec job;
    std::string refusal;
    errors.clear();
    ASSERT_TRUE(BuildJob({"//J1 JOB 1,CLASS=C", "//S1 EXEC PGM=VEXTEST,PARM=('RC=4','X')", "//IN DD DSN=A.B,DISP=SHR",
                          "//   DD DSN=A.C(M),DISP=SHR", "//OUT DD DSN=N.D,DISP=(NEW,CATLG),DCB=(RECFM=VB,LRECL=99),",
                          "//  SPACE=(TRK,(1,1,5))"},
                         job, errors, refusal));
    EXPECT_TRUE(errors.empty()) << errors[0].text;
    EXPECT_EQ(job.jobclass, 'C');
    ASSERT_EQ(job.steps.size(), 1u);
    EXPECT_EQ(job.steps[0].parm, "RC=4,X");
    ASSERT_EQ(job.steps[0].dds.size(), 2u);
    EXPECT_EQ(job.steps[0].dds[0].sources.size(), 2u); // concatenation
    const DdSpec& out = job.steps[0].dds[1];
    EXPECT_EQ(out.normalDisp, "CATLG");
    EXPECT_EQ(out.attrs.lrecl, 99);
    EXPECT_EQ(out.attrs.recfm.type, 'V');
    EXPECT_EQ(out.attrs.dsorg, Dsorg::PO);

    errors.clear();
    ASSERT_TRUE(BuildJob({"//J2 JOB", "//S1 EXEC MYPROC", "//S2 EXEX PGM=X", "//S3 EXEC PGM=A,PARM='OPEN"}, job, errors,
                         refusal));
    ASSERT_GE(errors.size(), 3u);
    bool proc = false, op = false, quote = false;
    for (const JclError& err : errors) {
        proc = proc || (err.statement == 2 && err.text == "IEFC612I PROCEDURE MYPROC WAS NOT FOUND");
        op = op || (err.statement == 3 && err.text == "IEFC605I UNIDENTIFIED OPERATION FIELD EXEX");
        quote = quote || (err.statement == 4 && err.text == "IEFC624I INCORRECT USE OF APOSTROPHE");
    }
    EXPECT_TRUE(proc && op && quote);
    EXPECT_FALSE(BuildJob({"//S1 EXEC PGM=IEFBR14"}, job, errors, refusal));
    EXPECT_FALSE(BuildJob({"//TOOLONGNAME JOB"}, job, errors, refusal));
}

TEST(Spool, CompletionCodesAndSpoolFiles) {
    ScratchDir dir;
    Codec codec(17);
    Catalog c;
    ASSERT_TRUE(c.Open(dir.path()).Ok());
    ASSERT_TRUE(c.CreateWithRecords("U.IN", Fb80(), {codec.ToHost("HELLO")}).Ok());
    Spool spool(c, codec);
    ASSERT_TRUE(spool.Open(dir.path() + "/spool").Ok());
    auto run = [&](const std::vector<std::string>& cards) {
        JobPtr job;
        Status st = spool.Submit(cards, "ME", job);
        EXPECT_TRUE(st.Ok()) << st.text;
        return job ? job->completion : st.text;
    };
    EXPECT_EQ(run({"//A JOB", "//S EXEC PGM=IEFBR14"}), "CC 0000");
    EXPECT_EQ(run({"//A JOB", "//S EXEC PGM=VEXTEST,PARM='RC=8'", "//T EXEC PGM=VEXTEST,PARM='RC=4'"}), "CC 0008");
    EXPECT_EQ(run({"//A JOB", "//S EXEC PGM=VEXTEST,PARM='ABEND=S222'", "//T EXEC PGM=IEFBR14"}), "ABEND S222");
    EXPECT_EQ(run({"//A JOB", "//S EXEC PGM=VEXTEST,PARM='ABEND=U5'"}), "ABEND U0005");
    EXPECT_EQ(run({"//A JOB", "//S EXEC PGM=IEFBR14", "//D DD DSN=U.MISSING,DISP=OLD"}), "JCL ERROR");
    EXPECT_EQ(run({"//A JOB", "//S EXEC PGM=IEBGENER", "//SYSUT1 DD DSN=U.IN(X),DISP=SHR", "//SYSUT2 DD SYSOUT=*"}),
              "ABEND S013"); // a member of a sequential data set cannot be opened
    EXPECT_EQ(run({"//A JOB", "//S EXEC PGM=IEBGENER", "//SYSPRINT DD SYSOUT=*", "//SYSUT1 DD *", "X",
                   "//SYSUT2 DD DSN=U.IN,DISP=MOD"}),
              "CC 0000");
    EXPECT_EQ(ReadAll(c, "U.IN").size(), 2u); // DISP=MOD appended
    EXPECT_EQ(run({"//A JOB", "//S EXEC PGM=IEBGENER", "//SYSPRINT DD SYSOUT=*", "//SYSUT1 DD *",
                   std::string(81, 'L'), "//SYSUT2 DD DSN=U.IN,DISP=OLD"}),
              "CC 0000"); // in-stream cards are cut at column 80
    EXPECT_EQ(ReadAll(c, "U.IN").size(), 1u);

    JobPtr last = spool.Find("JOB00008");
    ASSERT_TRUE(last);
    std::vector<std::string> dds;
    for (const SpoolFileInfo& f : last->files)
        dds.push_back(f.stepname.empty() ? f.ddname : f.stepname + "." + f.ddname);
    EXPECT_EQ(dds, (std::vector<std::string>{"JESMSGLG", "JESJCL", "JESYSMSG", "S.SYSPRINT"}));
    std::vector<std::unique_ptr<RecordReader>> readers;
    EXPECT_EQ(spool.OpenReaders("JOB00008", "NOSUCH", readers).rc, 8);
    ASSERT_TRUE(spool.OpenReaders("JOB00002", "", readers).Ok());
    EXPECT_EQ(readers.size(), 3u);
    EXPECT_EQ(spool.List("").size(), 8u);
    ASSERT_TRUE(spool.Purge("JOB00001").Ok());
    Spool again(c, codec);
    ASSERT_TRUE(again.Open(dir.path() + "/spool").Ok());
    EXPECT_EQ(again.List("").size(), 7u);
    EXPECT_EQ(again.Find("JOB00003")->completion, "ABEND S222");
}

TEST(Bpxwdyn, KeywordStringsAndDispositions) {
    std::vector<std::pair<std::string, std::string>> kv;
    std::string e;
    ASSERT_TRUE(ParseKeywordString("alloc fi(x) da('A.B(C)') shr reuse", kv, e));
    ASSERT_EQ(kv.size(), 5u);
    EXPECT_EQ(kv[2].first, "DA");
    EXPECT_EQ(kv[2].second, "'A.B(C)'");
    EXPECT_FALSE(ParseKeywordString("ALLOC DA(A) DA(B)", kv, e));
    EXPECT_EQ(e, "KEYWORD DA GIVEN TWICE");
    EXPECT_FALSE(ParseKeywordString("ALLOC =X", kv, e));

    ScratchDir dir;
    Catalog c;
    ASSERT_TRUE(c.Open(dir.path()).Ok());
    ASSERT_TRUE(c.CreateWithRecords("U.OLD", Fb80(), {}).Ok());
    {
        Allocations a(c);
        EXPECT_EQ(a.Execute("ALLOC DA(U.NEW) NEW CATALOG LIKE('U.OLD')").rc, 0);
        EXPECT_EQ(c.Find("U.NEW")->attrs.lrecl, 80);
        EXPECT_EQ(a.Execute("ALLOC FI(D1) DA(U.OLD) OLD DELETE").rc, 0);
        EXPECT_EQ(a.Execute("ALLOC FI(D1) DA(U.NEW) SHR").rc, 8); // in use
        EXPECT_EQ(a.Execute("ALLOC FI(D2) DA(U.NONE) SHR").text, "DATA SET U.NONE NOT IN CATALOG");
        EXPECT_EQ(a.Execute("ALLOC DA(U.X) NEW RECFM(Z)").rc, 12);
        EXPECT_EQ(a.Execute("ALLOC DA(U.X) NEW SHR").rc, 12);
        EXPECT_EQ(a.Execute("ALLOC DA(U.X) NEW FOO(1)").text, "BPXWDYN KEYWORD FOO NOT SUPPORTED");
        EXPECT_EQ(a.Count(), 1u);
        EXPECT_TRUE(c.Find("U.OLD")); // deleted only when freed
    }
    // The conversation's end freed D1, with its DELETE disposition.
    EXPECT_FALSE(c.Find("U.OLD"));
    EXPECT_TRUE(c.Find("U.NEW"));
}
