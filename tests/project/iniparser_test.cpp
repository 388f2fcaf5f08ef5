#include "iniparser.h"

#include "configmodul.h"
#include "tempdir.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>

namespace {

typedef std::map<std::string, std::string> Entries;

// Parses content written to a file; fails the test when the file is not read.
Entries ParseText(const std::string& content)
{
    TempDir dir;
    const std::string path = dir.write("t.ini", content);
    IniParser parser(path.c_str());
    EXPECT_TRUE(parser.Parse());
    return parser.m_mapParms;
}

} // namespace

TEST(IniParser, TrimsNamesAndValuesUnderASection)
{
    const Entries e = ParseText("[TCP]\n"
                                "   USERID   =   ABC   \n"
                                "\tIP_ADDR\t=\t10.0.0.1\r\n"
                                "MEMBER=TLX JOB\n"
                                "EQ=a=b\n");
    EXPECT_EQ(e, (Entries{{"TCP.USERID", "ABC"}, {"TCP.IP_ADDR", "10.0.0.1"},
                          {"TCP.MEMBER", "TLX JOB"}, {"TCP.EQ", "a=b"}}));
}

TEST(IniParser, BeforeAnySectionTheNameKeepsItsBlanks)
{
    const Entries e = ParseText("   USERID   =   ABC   \nX=1\n[ S ]\n Z = 3\n[]\nY = 2\n[ ]\nW=4\n");
    // "[]" empties the section again; a blank section name is not empty but
    // trims to nothing in the key.
    EXPECT_EQ(e, (Entries{{"USERID   ", "ABC"}, {"X", "1"}, {"S.Z", "3"}, {"Y ", "2"}, {".W", "4"}}));
}

TEST(IniParser, EmptyValuesAndQuotes)
{
    const Entries e = ParseText("[GLOBAL]\n"
                                "WORK_DIR=\n"
                                "EMPTY=   \n"
                                "QUOTES=\"\"\"\n"
                                "CODEPAGE=\"Austria, Germany (IBM-1141)\"\n"
                                "INNER=\"\"a\"b\"\"\n"
                                "SPACED=\" x \"\n"
                                "=nameless\n"
                                "no equals sign here\n");
    EXPECT_EQ(e, (Entries{{"GLOBAL.CODEPAGE", "Austria, Germany (IBM-1141)"},
                          {"GLOBAL.INNER", "a\"b"},
                          {"GLOBAL.SPACED", " x "}}));
}

TEST(IniParser, CommentsOnlyAtTheStartOfALine)
{
    const Entries e = ParseText("[GLOBAL]\n"
                                "; A=1\n"
                                "   # B=2\n"
                                "\t* C=3\n"
                                "  // D=4\n"
                                "/E=5\n"
                                "MSGLEVEL=3 ; more output\n"
                                "F=x # y\n");
    EXPECT_EQ(e, (Entries{{"GLOBAL./E", "5"}, {"GLOBAL.MSGLEVEL", "3 ; more output"}, {"GLOBAL.F", "x # y"}}));
}

TEST(IniParser, FirstOccurrenceWinsAndSectionsAreCaseSensitive)
{
    const Entries e = ParseText("[TCP]\nUSERID=FIRST\nUSERID=SECOND\n[tcp]\nUSERID=lower\n[TCP]\nUSERID=THIRD\n");
    EXPECT_EQ(e, (Entries{{"TCP.USERID", "FIRST"}, {"tcp.USERID", "lower"}}));
}

TEST(IniParser, SectionLineWithEqualsSignAlsoMakesAnEntry)
{
    const Entries e = ParseText("[A=B]\nK=V\n[SEC\nL=W\n");
    // "[SEC" is no section line (no closing bracket) and has no "=".
    EXPECT_EQ(e, (Entries{{"A=B.[A", "B]"}, {"A=B.K", "V"}, {"A=B.L", "W"}}));
}

TEST(IniParser, LongLinesAreReadInPiecesOf255)
{
    // 300 characters: one line of 255 and one of 45, each with an entry.
    const std::string first = "K1=" + std::string(252, 'a');
    const std::string second = "K2=" + std::string(42, 'b');
    ASSERT_EQ(first.size() + second.size(), 300u);
    // Exactly 255 characters and then the line end: one line, no leftovers,
    // also with a carriage return that falls into the next piece.
    const std::string exact = "K3=" + std::string(252, 'c');
    const std::string exactCr = "K4=" + std::string(252, 'd');
    const Entries e = ParseText("[S]\n" + first + second + "\n" + exact + "\n" + exactCr + "\r\nK5=e\n");
    EXPECT_EQ(e, (Entries{{"S.K1", std::string(252, 'a')},
                          {"S.K2", std::string(42, 'b')},
                          {"S.K3", std::string(252, 'c')},
                          {"S.K4", std::string(252, 'd')},
                          {"S.K5", "e"}}));

    // A megabyte on one line, then a normal line.
    const Entries big = ParseText("[S]\n" + std::string(1 << 20, 'x') + "\nOK=1");
    EXPECT_EQ(big, (Entries{{"S.OK", "1"}}));
}

TEST(IniParser, ReadLineChunkFollowsTextMode)
{
    TempDir dir;
    const std::string path = dir.write("c.txt", std::string("ab\r\ncd\re\r\r\nlast\r") + std::string(300, 'z'));
    std::FILE* f = std::fopen(path.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    std::string line;
    ASSERT_TRUE(IniParser::ReadLineChunk(f, line));
    EXPECT_EQ(line, "ab");
    ASSERT_TRUE(IniParser::ReadLineChunk(f, line));
    EXPECT_EQ(line, "cd\re\r"); // only the CR right before the LF goes
    ASSERT_TRUE(IniParser::ReadLineChunk(f, line));
    EXPECT_EQ(line, "last\r" + std::string(250, 'z'));
    ASSERT_TRUE(IniParser::ReadLineChunk(f, line));
    EXPECT_EQ(line, std::string(50, 'z'));
    EXPECT_FALSE(IniParser::ReadLineChunk(f, line));
    EXPECT_EQ(line, "");
    std::fclose(f);
}

TEST(IniParser, BinaryBytesDoNotBreakTheReader)
{
    std::string content = "[S]\nA=1\n";
    content += std::string("B=2\0hidden=3\n", 13); // the text ends at the NUL
    content += "\xff\xfe=\x80\x81\n";
    content += "C=\x01\x02\x1a\x7f\n";
    for (int i = 0; i < 4096; ++i)
        content.push_back(static_cast<char>((i * 151 + 7) & 0xff));
    content += "\nZ=26\n";
    const Entries e = ParseText(content);
    EXPECT_EQ(e.at("S.A"), "1");
    EXPECT_EQ(e.at("S.B"), "2");
    EXPECT_EQ(e.count("S.hidden"), 0u);
    EXPECT_EQ(e.at("S.\xff\xfe"), "\x80\x81");
    EXPECT_EQ(e.at("S.C"), "\x01\x02\x1a\x7f");
    // The noise may open sections of its own; the last line lands somewhere.
    bool foundZ = false;
    for (const auto& kv : e)
        foundZ = foundZ || (kv.second == "26" && kv.first.size() >= 1 && kv.first.back() == 'Z');
    EXPECT_TRUE(foundZ);
}

TEST(IniParser, FilesThatCannotBeReadAndEmptyFiles)
{
    TempDir dir;
    // The parser keeps only the pointer to the name.
    const std::string missingName = dir.file("missing.ini");
    IniParser missing(missingName.c_str());
    EXPECT_FALSE(missing.Parse());

    IniParser directory(dir.path().c_str());
    EXPECT_FALSE(directory.Parse());

    IniParser emptyName("");
    EXPECT_FALSE(emptyName.Parse());

    EXPECT_TRUE(ParseText("").empty());
    EXPECT_TRUE(ParseText("\n\n   \r\n\t\f\v\n[S]\n").empty());

    // Parse empties the map first.
    const std::string path = dir.write("a.ini", "[S]\nA=1\n");
    IniParser parser(path.c_str());
    parser.m_mapParms["OLD"] = "x";
    ASSERT_TRUE(parser.Parse());
    EXPECT_EQ(parser.m_mapParms, (Entries{{"S.A", "1"}}));
    dir.write("a.ini", "[S]\nB=2\n");
    ASSERT_TRUE(parser.Parse());
    EXPECT_EQ(parser.m_mapParms, (Entries{{"S.B", "2"}}));
}

TEST(IniParser, ReadsTheGeneratedDefaultFile)
{
    TempDir dir;
    {
        ChangeDir cd(dir.path());
        ConfigModul config(0, nullptr);
        testing::internal::CaptureStdout();
        config.GenerateIni();
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "\nThe new vexlink.ini file has been generated\n");
    }
    const std::string path = dir.file("vexlink.ini");
    IniParser parser(path.c_str());
    ASSERT_TRUE(parser.Parse());
    const Entries& e = parser.m_mapParms;
    EXPECT_EQ(e, (Entries{
                     {"GLOBAL.MSGLEVEL", "1"},
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
                     {"SQLITE.DBNAME", "phpqueue.db"},
                 }));
}
