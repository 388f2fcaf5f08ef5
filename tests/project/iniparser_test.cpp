#include "iniparser.h"

#include "configmodul.h"
#include "scratchdir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <map>

namespace {

typedef std::map<std::string, std::string> Entries;

Entries ParseText(const std::string& content)
{
    ScratchDir dir;
    const std::string path = dir.write("t.ini", content); // the parser keeps only the pointer
    IniParser parser(path.c_str());
    EXPECT_TRUE(parser.Parse());
    return parser.m_mapParms;
}

} // namespace

TEST(IniParser, ParsingRules)
{
    const std::string longKey(252, 'a');
    const std::vector<std::pair<std::string, Entries>> cases = {
        // Names and values trimmed under a section; the first "=" splits.
        {"[TCP]\n   USERID   =   ABC   \n\tIP_ADDR\t=\t10.0.0.1\r\nMEMBER=TLX JOB\nEQ=a=b\n",
         {{"TCP.USERID", "ABC"}, {"TCP.IP_ADDR", "10.0.0.1"}, {"TCP.MEMBER", "TLX JOB"}, {"TCP.EQ", "a=b"}}},
        // Before any section (and after "[]") the name keeps its blanks; "[ ]" trims to nothing.
        {"   USERID   =   ABC   \nX=1\n[ S ]\n Z = 3\n[]\nY = 2\n[ ]\nW=4\n",
         {{"USERID   ", "ABC"}, {"X", "1"}, {"S.Z", "3"}, {"Y ", "2"}, {".W", "4"}}},
        // Empty values and names are dropped; quotes around a value go, inner ones stay.
        {"[G]\nWORK_DIR=\nEMPTY=   \nQUOTES=\"\"\"\nCODEPAGE=\"Austria, Germany (IBM-1141)\"\nINNER=\"\"a\"b\"\"\n"
         "SPACED=\" x \"\n=nameless\nno equals sign here\n",
         {{"G.CODEPAGE", "Austria, Germany (IBM-1141)"}, {"G.INNER", "a\"b"}, {"G.SPACED", " x "}}},
        // Comments only at the start of a line.
        {"[G]\n; A=1\n   # B=2\n\t* C=3\n  // D=4\n/E=5\nMSGLEVEL=3 ; more output\nF=x # y\n",
         {{"G./E", "5"}, {"G.MSGLEVEL", "3 ; more output"}, {"G.F", "x # y"}}},
        // The first occurrence wins; sections are case-sensitive.
        {"[TCP]\nUSERID=FIRST\nUSERID=SECOND\n[tcp]\nUSERID=lower\n[TCP]\nUSERID=THIRD\n",
         {{"TCP.USERID", "FIRST"}, {"tcp.USERID", "lower"}}},
        // A section line with "=" is also an entry; "[SEC" is neither.
        {"[A=B]\nK=V\n[SEC\nL=W\n", {{"A=B.[A", "B]"}, {"A=B.K", "V"}, {"A=B.L", "W"}}},
        // Lines are read in pieces of 255, a CR falling into the next piece included.
        {"[S]\nK1=" + longKey + "K2=" + std::string(42, 'b') + "\nK3=" + longKey + "\nK4=" + longKey + "\r\nK5=e\n",
         {{"S.K1", longKey}, {"S.K2", std::string(42, 'b')}, {"S.K3", longKey}, {"S.K4", longKey}, {"S.K5", "e"}}},
        {"[S]\n" + std::string(1 << 20, 'x') + "\nOK=1", {{"S.OK", "1"}}},
        {"\n\n   \r\n\t\f\v\n[S]\n", {}},
        // Binary bytes: the text ends at a NUL, other bytes are kept.
        {std::string("[S]\nB=2\0hidden=3\n", 17) + "\xff\xfe=\x80\x81\nC=\x01\x02\x1a\x7f\n",
         {{"S.B", "2"}, {"S.\xff\xfe", "\x80\x81"}, {"S.C", "\x01\x02\x1a\x7f"}}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ParseText(c.first), c.second) << c.first.substr(0, 80);
}

TEST(IniParser, ReadLineChunkFollowsTextMode)
{
    ScratchDir dir;
    std::FILE* f = std::fopen(dir.write("c.txt", "ab\r\ncd\re\r\r\nlast\r" + std::string(300, 'z')).c_str(), "rb");
    ASSERT_NE(f, nullptr);
    std::string line;
    // Only the CR right before the LF goes; pieces of 255.
    for (const std::string& want :
         {std::string("ab"), std::string("cd\re\r"), "last\r" + std::string(250, 'z'), std::string(50, 'z')}) {
        ASSERT_TRUE(IniParser::ReadLineChunk(f, line));
        EXPECT_EQ(line, want);
    }
    EXPECT_FALSE(IniParser::ReadLineChunk(f, line));
    EXPECT_EQ(line, "");
    std::fclose(f);
}

TEST(IniParser, UnreadableFilesRereadingAndTheGeneratedDefaultFile)
{
    ScratchDir dir;
    const std::string missing = dir.file("missing.ini");
    for (const char* name : {missing.c_str(), dir.path().c_str(), ""})
        EXPECT_FALSE(IniParser(name).Parse()) << name;
    const std::string path = dir.write("a.ini", "[S]\nA=1\n");
    IniParser parser(path.c_str());
    parser.m_mapParms["OLD"] = "x";
    ASSERT_TRUE(parser.Parse()); // empties the map first
    EXPECT_EQ(parser.m_mapParms, (Entries{{"S.A", "1"}}));
    {
        ChangeDir cd(dir.path());
        ConfigModul config(0, nullptr);
        testing::internal::CaptureStdout();
        config.GenerateIni();
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "\nThe new vexlink.ini file has been generated\n");
    }
    const std::string generatedPath = dir.file("vexlink.ini");
    IniParser generated(generatedPath.c_str());
    ASSERT_TRUE(generated.Parse());
    EXPECT_EQ(generated.m_mapParms, (Entries{{"GLOBAL.MSGLEVEL", "1"},
                                             {"GLOBAL.VEXLINK_PATH", "c:\\TALVERIX\\vexlink\\bin"},
                                             {"GLOBAL.TEMP_PATH", "c:\\TALVERIX\\vexlink\\log"},
                                             {"GLOBAL.LOG_PATH", "c:\\TALVERIX\\vexlink\\log"},
                                             {"GLOBAL.CODEPAGE", "Austria, Germany (IBM-1141)"},
                                             {"TCP.TCPDEBUG", "NO"},
                                             {"TCP.TCPTLSSECLEVEL", "1"},
                                             {"TCP.MEMBER", "TLXJOBSV"},
                                             {"TCP.USERISSTEPNAME", "YES"},
                                             {"TCP.TCPCRYPT", "1"},
                                             {"TCP.TCPCOMMONNAME", "*"},
                                             {"TCP.TCPPEMCA", "tlx-ca-store.pem"},
                                             {"TCP.PASCHK", "YES"},
                                             {"FTP.T0", "30"},
                                             {"FTP.T1", "60"},
                                             {"FTP.LISTLIMIT", "0"},
                                             {"SQLITE.T0", "30"},
                                             {"SQLITE.DBNAME", "phpqueue.db"}}));
}
