// Whole conversations with the emulator over loopback, driven by the
// conversation library's PC side: the item sequence of every request kind,
// the EBCDIC bytes that travel and that are stored, the spool.

#include "emuserver.h"
#include "names.h"

#include <fstream>
#include <sstream>
#include <thread>

using namespace hostemu_test;
using hostemu::DsRef;

namespace {

const std::string kSeed = std::string(HOSTEMU_SAMPLE_DIR) + "/seed";

std::vector<std::string> SeedLines(const std::string& file) {
    std::ifstream in(kSeed + "/" + file, std::ios::binary);
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line))
        lines.push_back(line);
    return lines;
}

std::vector<std::string> Words(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> w;
    std::string s;
    while (in >> s)
        w.push_back(s);
    return w;
}

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

std::string FileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
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

TEST_F(Conversation, ReadyAnswersWithHpreadyAndReturnsTheTurn) {
    EXPECT_EQ(m_pc.Ask("PHREADY", "VEXLINK.EXE: VERSION=07.04.00, PID=4711, LOGFILE=run.log"),
              (std::vector<std::string>{"HPREADY:HOSTEMU READY, SYSTEM=EMU1 STC=VEXSTC USER=VEXUSR1 CODEPAGE=17",
                                        "ACK"}));
    // The conversation goes on: a second request is answered as well.
    EXPECT_EQ(m_pc.Ask("PHTXT", "HELLO HOST"),
              (std::vector<std::string>{"HPTXT:TEXT RECEIVED BY EMU1: HELLO HOST", "ACK"}));
}

TEST_F(Conversation, DataSetListsNameEachDataSetInTheHostCodePage) {
    EXPECT_EQ(m_pc.Ask("PHGDSLST", "VEXUSR1.DEMO"),
              (std::vector<std::string>{"HPDATA:VEXUSR1.DEMO.DATA", "HPDATA:VEXUSR1.DEMO.EMPTY",
                                        "HPDATA:VEXUSR1.DEMO.REPORT", "HPEOD:ENTRIES=3", "ACK"}));
    EXPECT_EQ(m_pc.Ask("PHGDSLST", "vexusr1.*.cobol"),
              (std::vector<std::string>{"HPDATA:VEXUSR1.SOURCE.COBOL", "HPEOD:ENTRIES=1", "ACK"}));
    EXPECT_EQ(m_pc.Ask("PHGDSLST", "NOBODY.**"), (std::vector<std::string>{"HPEOD:ENTRIES=0", "ACK"}));

    // The raw bytes: the name is EBCDIC, like every other text.
    ASSERT_EQ(m_pc.Send("PHGDSLST", "VEXUSR1.JCL"), CM_OK);
    std::vector<Block> blocks;
    ASSERT_EQ(m_pc.Answer(blocks), CM_OK);
    ASSERT_EQ(blocks.size(), 3u);
    EXPECT_EQ(Hex(blocks[0].bytes), "C8D7C4C1E3C1404040" "40" "E5C5E7E4E2D9F14BD1C3D3");

    // The full list: ten fields as a host FTP server's DIR shows them.
    std::vector<std::string> full = m_pc.Ask("PHGDSLSTF", "VEXUSR1.**");
    std::vector<std::string> lines = Payloads(full, "HPDATA:");
    ASSERT_EQ(lines.size(), 6u);
    std::vector<std::string> report = Words(lines[2]);
    ASSERT_EQ(report.size(), 10u) << lines[2];
    EXPECT_EQ(report[0], "VEX002");  // volume
    EXPECT_EQ(report[5], "VB");      // record format
    EXPECT_EQ(report[6], "255");     // record length
    EXPECT_EQ(report[7], "27998");   // block size
    EXPECT_EQ(report[8], "PS");
    EXPECT_EQ(report[9], "VEXUSR1.DEMO.REPORT");
    std::vector<std::string> jcl = Words(lines[3]);
    EXPECT_EQ(jcl[5], "FB");
    EXPECT_EQ(jcl[7], "27920");
    EXPECT_EQ(jcl[8], "PO");
    EXPECT_EQ(Words(lines[4])[5], "U");
    EXPECT_EQ(full.back(), "ACK");

    // Bad filters are refused with a return code other than 0.
    std::vector<std::string> bad = m_pc.Ask("PHGDSLST", "VEXUSR1.TOOLONGQUALIFIER");
    ASSERT_EQ(bad.size(), 2u);
    EXPECT_EQ(bad[0].compare(0, 12, "HPMSG:RC=8 I"), 0) << bad[0];
    EXPECT_EQ(bad[0].find("RC=0"), std::string::npos);
    EXPECT_EQ(m_pc.Ask("PHGDSLST", ""), (std::vector<std::string>{"HPMSG:RC=8 NO FILTER GIVEN", "ACK"}));
}

TEST_F(Conversation, MemberListsWithPatternsAndStatistics) {
    EXPECT_EQ(m_pc.Ask("PHGPODIR", "VEXUSR1.JCL"),
              (std::vector<std::string>{"HPDATA:BADJCL", "HPDATA:COPY", "HPDATA:CRASH", "HPDATA:HELLO",
                                        "HPDATA:WARN", "HPEOD:ENTRIES=5", "ACK"}));
    EXPECT_EQ(m_pc.Ask("PHGPODIR", "'VEXUSR1.JCL(C*)'"),
              (std::vector<std::string>{"HPDATA:COPY", "HPDATA:CRASH", "HPEOD:ENTRIES=2", "ACK"}));
    EXPECT_EQ(m_pc.Ask("PHGPODIR", "VEXUSR1.JCL(%%%%)"),
              (std::vector<std::string>{"HPDATA:COPY", "HPDATA:WARN", "HPEOD:ENTRIES=2", "ACK"}));

    std::vector<std::string> stats = Payloads(m_pc.Ask("PHGPODIRF", "VEXUSR1.JCL(HELLO)"), "HPDATA:");
    ASSERT_EQ(stats.size(), 1u);
    std::vector<std::string> w = Words(stats[0]);
    ASSERT_EQ(w.size(), 9u) << stats[0];
    EXPECT_EQ(w[0], "HELLO");
    EXPECT_EQ(w[1], "01.00");
    EXPECT_EQ(w[5], std::to_string(SeedLines("VEXUSR1.JCL/HELLO").size())); // size
    EXPECT_EQ(w[6], w[5]);                                                  // initial size
    EXPECT_EQ(w[7], "0");                                                   // modified
    EXPECT_EQ(w[8], "HOSTEMU");
    // Load modules have no statistics: the name alone.
    EXPECT_EQ(m_pc.Ask("PHGPODIRF", "VEXUSR1.LOADLIB"),
              (std::vector<std::string>{"HPDATA:HELLO", "HPEOD:ENTRIES=1", "ACK"}));

    EXPECT_EQ(m_pc.Ask("PHGPODIR", "VEXUSR1.DEMO.DATA"),
              (std::vector<std::string>{"HPMSG:RC=8 DATA SET VEXUSR1.DEMO.DATA IS NOT PARTITIONED", "ACK"}));
    EXPECT_EQ(m_pc.Ask("PHGPODIR", "VEXUSR1.NONE"),
              (std::vector<std::string>{"HPMSG:RC=8 DATA SET VEXUSR1.NONE NOT IN CATALOG", "ACK"}));
}

TEST_F(Conversation, DownloadSendsOneRecordPerHpdataInEbcdic) {
    const std::vector<std::string> seed = SeedLines("VEXUSR1.DEMO.DATA");
    ASSERT_EQ(m_pc.Send("PHGETFILE", "VEXUSR1.DEMO.DATA"), CM_OK);
    std::vector<Block> blocks;
    ASSERT_EQ(m_pc.Answer(blocks), CM_OK);
    ASSERT_EQ(blocks.size(), seed.size() + 2);
    // Record 1 as it travels: "HPDATA    CUSTOMER 000001 ..." in IBM-1141.
    EXPECT_EQ(Hex(blocks[0].bytes.substr(0, 25)), "C8D7C4C1E3C140404040C3E4E2E3D6D4C5D940F0F0F0F0F0F1");
    EXPECT_EQ(blocks[0].bytes.size(), 10 + seed[0].size());
    // Trailing blanks are stripped from fixed records (record 2 had some),
    // and an all-blank record travels as an empty payload.
    EXPECT_EQ(blocks[1].bytes.size(), 10 + seed[1].find_last_not_of(' ') + 1);
    EXPECT_EQ(blocks[3].bytes.size(), 10u);
    EXPECT_EQ(m_pc.Describe(blocks[seed.size()]), "HPEOD:RECORDS=" + std::to_string(seed.size()));
    EXPECT_EQ(m_pc.Describe(blocks.back()), "ACK");
    for (size_t i = 0; i < seed.size(); ++i)
        EXPECT_EQ(m_pc.Describe(blocks[i]), "HPDATA:" + seed[i].substr(0, seed[i].find_last_not_of(' ') + 1));

    // TRAILINGBLANKS=Y keeps the whole fixed-length record.
    EXPECT_EQ(m_pc.Ask("PHSETOPT", "TRAILINGBLANKS=Y"),
              (std::vector<std::string>{"HPTXT:OPTIONS IN EFFECT: FTTRAIL=N TRAILINGBLANKS=Y", "ACK"}));
    blocks.clear();
    ASSERT_EQ(m_pc.Send("PHGETFILE", "VEXUSR1.DEMO.DATA"), CM_OK);
    ASSERT_EQ(m_pc.Answer(blocks), CM_OK);
    EXPECT_EQ(blocks[1].bytes.size(), 90u);
    EXPECT_EQ(blocks[3].bytes.substr(10), std::string(80, '\x40'));
}

TEST_F(Conversation, DownloadOfVariableRecordsAndMembersAndFailures) {
    ASSERT_EQ(m_pc.Send("PHGETFILE", "VEXUSR1.DEMO.REPORT"), CM_OK);
    std::vector<Block> blocks;
    ASSERT_EQ(m_pc.Answer(blocks), CM_OK);
    // "Grüße aus München: ÄÖÜ äöü ß ..." in IBM-1141.
    EXPECT_EQ(Hex(blocks[0].bytes.substr(10, 6)), "C799D0A18540");
    EXPECT_EQ(Hex(blocks[0].bytes.substr(29, 8)), "4AE05A40C06AD040");
    // Variable records keep their trailing blanks.
    const std::vector<std::string> seed = SeedLines("VEXUSR1.DEMO.REPORT");
    EXPECT_EQ(m_pc.Describe(blocks[4]), "HPDATA:" + seed[4]);
    EXPECT_EQ(seed[4].back(), ' ');

    EXPECT_EQ(m_pc.Ask("PHGETFILE", "VEXUSR1.JCL(HELLO)").size(), SeedLines("VEXUSR1.JCL/HELLO").size() + 2);
    EXPECT_EQ(m_pc.Ask("PHGETFILE", "VEXUSR1.DEMO.EMPTY"), (std::vector<std::string>{"HPEOD:RECORDS=0", "ACK"}));

    // Unknown names: an HPMSG without "RC=0", the turn back, no HPEOD.
    EXPECT_EQ(m_pc.Ask("PHGETFILE", "VEXUSR1.NOT.THERE"),
              (std::vector<std::string>{"HPMSG:RC=8 DATA SET VEXUSR1.NOT.THERE NOT IN CATALOG", "ACK"}));
    EXPECT_EQ(m_pc.Ask("PHGETFILE", "VEXUSR1.JCL(NOPE)"),
              (std::vector<std::string>{"HPMSG:RC=8 MEMBER NOPE NOT FOUND IN VEXUSR1.JCL", "ACK"}));
    EXPECT_EQ(m_pc.Ask("PHGETFILE", "VEXUSR1.JCL"),
              (std::vector<std::string>{"HPMSG:RC=8 DATA SET VEXUSR1.JCL IS PARTITIONED, NAME A MEMBER", "ACK"}));
    EXPECT_EQ(m_pc.Ask("PHGETFILE", "VEXUSR1.DEMO.DATA(X)"),
              (std::vector<std::string>{
                  "HPMSG:RC=8 DATA SET VEXUSR1.DEMO.DATA IS NOT PARTITIONED, NO MEMBER ALLOWED", "ACK"}));
    EXPECT_EQ(m_pc.Ask("PHGETFILE", "1BAD.NAME"),
              (std::vector<std::string>{"HPMSG:RC=8 INVALID DATA SET NAME 1BAD.NAME", "ACK"}));
}

TEST_F(Conversation, UploadStoresPaddedEbcdicRecordsAndAnswersInTwoSteps) {
    ASSERT_EQ(m_pc.Send("PHMODIFY", "VEXUSR1.JCL(NEWMEM)", false), CM_OK);
    ASSERT_EQ(m_pc.Send("PHDATA", "//NEWMEM   JOB (ACCT),'M\xdcLLER'", false), CM_OK);
    ASSERT_EQ(m_pc.Send("PHDATA", "", false), CM_OK);
    ASSERT_EQ(m_pc.Send("PHDATA", "//STEP1    EXEC PGM=IEFBR14", false), CM_OK);
    std::vector<std::string> answer = m_pc.Ask("PHEOD", "");
    EXPECT_EQ(answer, (std::vector<std::string>{"HPMSG:RC=0 3 RECORDS RECEIVED FOR VEXUSR1.JCL(NEWMEM)", "ACK-",
                                                "HPMSG:RC=0 ROWS=3 VEXUSR1.JCL(NEWMEM) STORED", "ACK"}));
    // The intermediate message has RC=0 but no ROWS= (vexlink takes it as an
    // acknowledgement), the final one has both.
    EXPECT_EQ(answer[0].find("ROWS="), std::string::npos);

    std::vector<std::string> stored = Stored(m_emu.Get(), "VEXUSR1.JCL(NEWMEM)");
    ASSERT_EQ(stored.size(), 3u);
    for (const std::string& r : stored)
        EXPECT_EQ(r.size(), 80u);
    // "//NEWMEM   JOB (ACCT),'MÜLLER'" then EBCDIC blanks to 80 columns.
    EXPECT_EQ(Hex(stored[0].substr(0, 12)), "6161D5C5E6D4C5D4404040D1");
    EXPECT_EQ(Hex(stored[0].substr(23, 5)), "D45AD3D3C5");
    EXPECT_EQ(stored[0].substr(30), std::string(50, '\x40'));
    EXPECT_EQ(stored[1], std::string(80, '\x40'));

    // The member list shows it with fresh statistics under the PC's user.
    std::vector<std::string> stats = Payloads(m_pc.Ask("PHGPODIRF", "VEXUSR1.JCL(NEWMEM)"), "HPDATA:");
    ASSERT_EQ(stats.size(), 1u);
    std::vector<std::string> w = Words(stats[0]);
    EXPECT_EQ(w[5], "3");
    EXPECT_EQ(w[8], "VEXUSR1");

    // Replacing it counts the modification level up.
    ASSERT_EQ(m_pc.Send("PHMODIFY", "VEXUSR1.JCL(NEWMEM)", false), CM_OK);
    ASSERT_EQ(m_pc.Send("PHDATA", "//ONLY   JOB", false), CM_OK);
    EXPECT_EQ(m_pc.Ask("PHEOD", "").back(), "ACK");
    EXPECT_EQ(Stored(m_emu.Get(), "VEXUSR1.JCL(NEWMEM)").size(), 1u);
    w = Words(Payloads(m_pc.Ask("PHGPODIRF", "VEXUSR1.JCL(NEWMEM)"), "HPDATA:").at(0));
    EXPECT_EQ(w[1], "01.01");
    EXPECT_EQ(w[5], "1");
}

TEST_F(Conversation, RefusedUploadLeavesTheDataSetExactlyAsItWas) {
    const std::string path = m_emu.Get().CatalogDir() + "/datasets/VEXUSR1.DEMO.DATA";
    const std::string before = FileBytes(path);
    ASSERT_FALSE(before.empty());

    ASSERT_EQ(m_pc.Send("PHMODIFY", "VEXUSR1.DEMO.DATA", false), CM_OK);
    ASSERT_EQ(m_pc.Send("PHDATA", std::string(80, 'A'), false), CM_OK);
    ASSERT_EQ(m_pc.Send("PHDATA", std::string(81, 'B'), false), CM_OK);
    ASSERT_EQ(m_pc.Send("PHDATA", std::string(10, 'C'), false), CM_OK);
    std::vector<std::string> answer = m_pc.Ask("PHEOD", "");
    EXPECT_EQ(answer, (std::vector<std::string>{"HPMSG:RC=8 RECORD 2 HAS 81 BYTES, LRECL OF VEXUSR1.DEMO.DATA IS 80, "
                                                "VEXUSR1.DEMO.DATA NOT CHANGED",
                                                "ACK"}));
    EXPECT_EQ(FileBytes(path), before);

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

TEST_F(Conversation, SubmittedJobsGetCompletionCodesAndOutputByDd) {
    auto submit = [&](const std::string& payload) { return m_pc.Ask("PHSUBMIT", payload); };
    EXPECT_EQ(submit("VEXUSR1.JCL(HELLO)"),
              (std::vector<std::string>{"HPMSG:RC=0 IKJ56250I JOB HELLO(JOB00001) SUBMITTED",
                                        "HPEOD:JOBID=JOB00001 JOBNAME=HELLO", "ACK"}));
    EXPECT_EQ(submit("'VEXUSR1.JCL(WARN)'").at(1), "HPEOD:JOBID=JOB00002 JOBNAME=WARN");
    EXPECT_EQ(submit("VEXUSR1.JCL(CRASH)").at(1), "HPEOD:JOBID=JOB00003 JOBNAME=CRASH");
    EXPECT_EQ(submit("VEXUSR1.JCL(BADJCL)").at(1), "HPEOD:JOBID=JOB00004 JOBNAME=BADJCL");
    // JCL text in the payload, lines ended by line feeds.
    EXPECT_EQ(submit("//INLINE   JOB 1,'X'\n//S1 EXEC PGM=VEXTEST,PARM='ABEND=U100'\n//SYSPRINT DD SYSOUT=*\n")
                  .at(1),
              "HPEOD:JOBID=JOB00005 JOBNAME=INLINE");
    EXPECT_EQ(submit("//NOPGM    JOB 1\n//S1 EXEC PGM=NOSUCH\n").at(1), "HPEOD:JOBID=JOB00006 JOBNAME=NOPGM");

    // The completion, readable by machine from the job list.
    std::vector<std::string> jobs = Payloads(m_pc.Ask("PHGDSLSTF", "JES"), "HPDATA:");
    ASSERT_EQ(jobs.size(), 6u);
    auto completion = [](const std::string& line) {
        std::vector<std::string> w = Words(line);
        return w.size() >= 8 ? w[6] + " " + w[7] : line;
    };
    EXPECT_EQ(completion(jobs[0]), "CC 0000");
    EXPECT_EQ(completion(jobs[1]), "CC 0004");
    EXPECT_EQ(completion(jobs[2]), "ABEND S0C7");
    EXPECT_EQ(completion(jobs[3]), "JCL ERROR");
    EXPECT_EQ(completion(jobs[4]), "ABEND U0100");
    EXPECT_EQ(completion(jobs[5]), "ABEND S806");
    EXPECT_EQ(Words(jobs[1])[1], "WARN");
    EXPECT_EQ(Words(jobs[1])[2], "VEXUSR1");
    EXPECT_EQ(m_pc.Ask("PHGDSLST", "JES WA*"),
              (std::vector<std::string>{"HPDATA:JOB00002", "HPEOD:ENTRIES=1", "ACK"}));

    // Its output by DD.
    EXPECT_EQ(m_pc.Ask("PHGPODIR", "JOB00002"),
              (std::vector<std::string>{"HPDATA:JESMSGLG", "HPDATA:JESJCL", "HPDATA:JESYSMSG",
                                        "HPDATA:STEP1.SYSPRINT", "HPEOD:ENTRIES=4", "ACK"}));
    std::vector<std::string> log = Payloads(m_pc.Ask("PHGETFILE", "JOB00002.JESMSGLG"), "HPDATA:");
    ASSERT_FALSE(log.empty());
    EXPECT_NE(log.back().find("$HASP395 WARN ENDED - RC=0004"), std::string::npos) << log.back();
    std::vector<std::string> print = Payloads(m_pc.Ask("PHGETFILE", "JOB00002.SYSPRINT"), "HPDATA:");
    EXPECT_EQ(print, (std::vector<std::string>{"VEXTEST STARTED, PARM='RC=4'", "THIS JOB ENDS WITH A WARNING",
                                               "VEXTEST ENDED WITH RETURN CODE 4"}));
    EXPECT_EQ(Payloads(m_pc.Ask("PHGETFILE", "JOB00002.STEP1.SYSPRINT"), "HPDATA:"), print);
    EXPECT_EQ(Payloads(m_pc.Ask("PHGETFILE", "JOB00002.4"), "HPDATA:"), print);
    std::vector<std::string> jcl = Payloads(m_pc.Ask("PHGETFILE", "JOB00002.JESJCL"), "HPDATA:");
    ASSERT_FALSE(jcl.empty());
    EXPECT_EQ(jcl[0].substr(0, 17), "         1 //WARN");
    std::vector<std::string> sysmsg = Payloads(m_pc.Ask("PHGETFILE", "JOB00004.JESYSMSG"), "HPDATA:");
    bool notFound = false;
    for (const std::string& l : sysmsg)
        notFound = notFound || l.find("IEF212I BADJCL STEP1 SYSUT1 - DATA SET NOT FOUND") != std::string::npos;
    EXPECT_TRUE(notFound);
    // The whole output in one download.
    std::vector<std::string> all = m_pc.Ask("PHGETFILE", "JOB00002");
    EXPECT_EQ(Payloads(all, "HPDATA:").size(),
              log.size() + jcl.size() + Payloads(m_pc.Ask("PHGETFILE", "JOB00002.JESYSMSG"), "HPDATA:").size() +
                  print.size());

    // Purge.
    EXPECT_EQ(m_pc.Ask("PHDELETE", "JOB00002"), (std::vector<std::string>{"HPMSG:RC=0 JOB JOB00002 PURGED", "ACK"}));
    EXPECT_EQ(m_pc.Ask("PHGETFILE", "JOB00002.JESMSGLG"),
              (std::vector<std::string>{"HPMSG:RC=8 JOB JOB00002 NOT FOUND IN THE SPOOL", "ACK"}));
    // A deck that is no job is not accepted into the spool.
    EXPECT_EQ(submit("//S1 EXEC PGM=IEFBR14"),
              (std::vector<std::string>{"HPMSG:RC=8 JOB NOT SUBMITTED: FIRST STATEMENT IS NOT A JOB STATEMENT", "ACK"}));
    EXPECT_EQ(submit("VEXUSR1.JCL(NONE)"),
              (std::vector<std::string>{"HPMSG:RC=8 JOB NOT SUBMITTED: MEMBER NONE NOT FOUND IN VEXUSR1.JCL", "ACK"}));
}

TEST_F(Conversation, JobsChangeTheCatalogue) {
    EXPECT_EQ(m_pc.Ask("PHSUBMIT", "VEXUSR1.JCL(COPY)").at(1), "HPEOD:JOBID=JOB00001 JOBNAME=COPY");
    std::vector<std::string> jobs = Payloads(m_pc.Ask("PHGDSLSTF", "JES JOB00001"), "HPDATA:");
    ASSERT_EQ(jobs.size(), 1u);
    EXPECT_NE(jobs[0].find("CC 0000"), std::string::npos) << jobs[0];
    // The copy is catalogued with the records of the original ...
    EXPECT_EQ(Stored(m_emu.Get(), "VEXUSR1.DEMO.COPY"), Stored(m_emu.Get(), "VEXUSR1.DEMO.DATA"));
    // ... and the second step printed it to SYSOUT.
    std::vector<std::string> out = Payloads(m_pc.Ask("PHGETFILE", "JOB00001.STEP2.SYSUT2"), "HPDATA:");
    EXPECT_EQ(out.size(), SeedLines("VEXUSR1.DEMO.DATA").size());
    // Run again: the new data set now exists, DISP=NEW fails with JCL ERROR.
    m_pc.Ask("PHSUBMIT", "VEXUSR1.JCL(COPY)");
    jobs = Payloads(m_pc.Ask("PHGDSLSTF", "JES JOB00002"), "HPDATA:");
    ASSERT_EQ(jobs.size(), 1u);
    EXPECT_NE(jobs[0].find("JCL ERROR"), std::string::npos) << jobs[0];
}

TEST_F(Conversation, DeleteAndAllocationAnswerWithReturnCodes) {
    EXPECT_EQ(m_pc.Ask("PHBPXWDYN", "alloc da('VEXUSR1.WORK.DATA') new catalog recfm(f,b) lrecl(120)"),
              (std::vector<std::string>{"HPMSG:RC=0 ALLOC DA(VEXUSR1.WORK.DATA) NEW CATALOG - CATALOGED", "ACK"}));
    hostemu::EntryPtr e = m_emu.Get().GetCatalog().Find("VEXUSR1.WORK.DATA");
    ASSERT_TRUE(e);
    EXPECT_EQ(e->attrs.lrecl, 120);
    EXPECT_EQ(e->attrs.blksize, 27960);
    EXPECT_EQ(m_pc.Ask("PHBPXWDYN", "ALLOC DA('VEXUSR1.WORK.DATA') NEW"),
              (std::vector<std::string>{
                  "HPMSG:RC=8 DATA SET VEXUSR1.WORK.DATA NOT ALLOCATED, DUPLICATE NAME EXISTS IN CATALOG", "ACK"}));
    EXPECT_EQ(m_pc.Ask("PHBPXWDYN", "ALLOC FI(IN) DA('VEXUSR1.WORK.DATA') SHR"),
              (std::vector<std::string>{"HPMSG:RC=0 ALLOC FI(IN) DA(VEXUSR1.WORK.DATA) SHR - SHR", "ACK"}));
    EXPECT_EQ(m_pc.Ask("PHBPXWDYN", "FREE FI(IN)"), (std::vector<std::string>{"HPMSG:RC=0 FREE FI(IN)", "ACK"}));
    EXPECT_EQ(m_pc.Ask("PHBPXWDYN", "FREE FI(IN)"),
              (std::vector<std::string>{"HPMSG:RC=8 FILE IN IS NOT ALLOCATED", "ACK"}));
    EXPECT_EQ(m_pc.Ask("PHBPXWDYN", "ALLOC DA('VEXUSR1.LIB') NEW CATALOG DSORG(PO) DIR(5) RECFM(V,B) LRECL(255)")
                  .at(0),
              "HPMSG:RC=0 ALLOC DA(VEXUSR1.LIB) NEW CATALOG - CATALOGED");
    EXPECT_EQ(m_pc.Ask("PHGPODIR", "VEXUSR1.LIB"), (std::vector<std::string>{"HPEOD:ENTRIES=0", "ACK"}));
    EXPECT_EQ(m_pc.Ask("PHBPXWDYN", "CONCAT DDLIST(A,B)"),
              (std::vector<std::string>{"HPMSG:RC=12 BPXWDYN REQUEST NOT UNDERSTOOD: UNKNOWN VERB CONCAT (ALLOC OR FREE)",
                                        "ACK"}));
    EXPECT_EQ(m_pc.Ask("PHBPXWDYN", "ALLOC DA('X.Y) SHR"),
              (std::vector<std::string>{
                  "HPMSG:RC=12 BPXWDYN REQUEST NOT UNDERSTOOD: UNBALANCED PARENTHESES OR QUOTES AFTER DA", "ACK"}));

    EXPECT_EQ(m_pc.Ask("PHDELETE", "VEXUSR1.WORK.DATA"),
              (std::vector<std::string>{"HPMSG:RC=0 IDC0550I ENTRY (A) VEXUSR1.WORK.DATA DELETED", "ACK"}));
    EXPECT_EQ(m_pc.Ask("PHDELETE", "VEXUSR1.WORK.DATA"),
              (std::vector<std::string>{"HPMSG:RC=8 IDC3012I ENTRY VEXUSR1.WORK.DATA NOT FOUND", "ACK"}));
    EXPECT_EQ(m_pc.Ask("PHDELETE", "VEXUSR1.JCL(CRASH)"),
              (std::vector<std::string>{"HPMSG:RC=0 IDC0549I MEMBER CRASH DELETED FROM VEXUSR1.JCL", "ACK"}));
    EXPECT_EQ(Payloads(m_pc.Ask("PHGPODIR", "VEXUSR1.JCL"), "HPDATA:"),
              (std::vector<std::string>{"BADJCL", "COPY", "HELLO", "WARN"}));
    EXPECT_EQ(m_pc.Ask("PHDELETE", "VEXUSR1.JCL(CRASH)"),
              (std::vector<std::string>{"HPMSG:RC=8 IDC3012I MEMBER CRASH NOT FOUND IN VEXUSR1.JCL", "ACK"}));
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
    const std::string cat = dir.Path() + "/cat";
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
