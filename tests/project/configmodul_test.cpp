#include "configmodul.h"

#include "iniparser.h"
#include "task.h"
#include "args.h"

#if !defined(_WIN32)
#include <sys/prctl.h>
#endif

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

namespace {

std::string Get(ConfigModul& config, const std::string& key)
{
    std::string value;
    return config.GetParm(key, value) ? value : "(absent)";
}

// Parse with the given standard input; its output into *out when given.
int RunParse(ConfigModul& config, const ScratchDir& dir, const std::string& input, std::string* out = nullptr)
{
    StdinFrom in(dir, input);
    testing::internal::CaptureStdout();
    const int r = config.Parse();
    std::fflush(stdout);
    const std::string captured = testing::internal::GetCapturedStdout();
    if (out)
        *out = captured;
    return r;
}

// Reads what is left on a stream.
std::string Rest(std::FILE* f)
{
    std::string rest;
    for (int c = std::fgetc(f); c != EOF; c = std::fgetc(f))
        rest.push_back(static_cast<char>(c));
    return rest;
}

std::string ReadPassword(const std::string& input, std::string* rest = nullptr, bool* line = nullptr)
{
    std::FILE* f = std::tmpfile();
    EXPECT_NE(f, nullptr);
    std::fwrite(input.data(), 1, input.size(), f);
    std::rewind(f);
    bool gotLine = false;
    const std::string password = ConfigModul::ReadPasswordLine(f, gotLine);
    if (line)
        *line = gotLine;
    if (rest)
        *rest = Rest(f);
    std::fclose(f);
    return password;
}

} // namespace

TEST(ConfigModul, SetParmKeepsFirstValueUntilAnIniIsLoadedThenReplaces)
{
    ConfigModul config(0, nullptr);
    std::string value = "stale";
    EXPECT_FALSE(config.GetParm("TCP.USERID", value));
    EXPECT_EQ(value, ""); // emptied on a miss

    config.SetParm("TCP.USERID", "FIRST");
    config.SetParm("TCP.USERID", "SECOND");
    EXPECT_EQ(Get(config, "TCP.USERID"), "FIRST");
    config.SetParm("TCP.EMPTY", "");
    EXPECT_EQ(Get(config, "TCP.EMPTY"), ""); // present, with an empty value

    config.m_bIniLoaded = true;
    config.SetParm("TCP.USERID", "THIRD");
    EXPECT_EQ(Get(config, "TCP.USERID"), "THIRD");
    config.SetParm("TCP.USERID", "");
    EXPECT_EQ(Get(config, "TCP.USERID"), "");
    config.SetParm("TCP.NEW", "N");
    EXPECT_EQ(Get(config, "TCP.NEW"), "N");

    // Keys are exact and case-sensitive.
    EXPECT_EQ(Get(config, "tcp.NEW"), "(absent)");
    EXPECT_EQ(Get(config, "TCP.NEW "), "(absent)");
}

TEST(ConfigModul, PasswordLine)
{
    // Only input that ends before any character is "no line"; a CR inside the text stays; one
    // line is read, the rest left (the trimming as the program shows it: tests/cli).
    const struct {
        std::string input;
        std::string password;
        bool line;
        std::string rest;
    } rows[] = {
        {"", "", false, ""},
        {" \t \n", "", true, ""},
        {"\tcGFzcw==\t\r\nnext line\n", "cGFzcw==", true, "next line\n"},
        {"a\rb\n", "a\rb", true, ""},
        {std::string("a\0b\n", 4), std::string("a\0b", 3), true, ""},
    };
    for (const auto& row : rows) {
        std::string rest;
        bool line = !row.line;
        EXPECT_EQ(ReadPassword(row.input, &rest, &line), row.password) << row.input;
        EXPECT_EQ(line, row.line) << row.input;
        EXPECT_EQ(rest, row.rest) << row.input;
    }

    // The bound: the Base64 text of a 100-character pass phrase fits whole;
    // longer lines are cut, the rest stays unread.
    const size_t max = ConfigModul::kMaxPasswordLength;
    ASSERT_GE(max, 136u);
    std::string rest;
    EXPECT_EQ(ReadPassword(std::string(max - 1, 'x') + "\r\n"), std::string(max - 1, 'x'));
    EXPECT_EQ(ReadPassword(std::string(max, 'x') + "TAIL\n", &rest), std::string(max, 'x'));
    EXPECT_EQ(rest, "TAIL\n");
}

TEST(ConfigModul, ParseStoresOptionsMergesTheIniAndReadsThePassword)
{
    ScratchDir dir;
    const std::string ini = dir.write("v.ini", "[GLOBAL]\nWORK_DIR=fromini\nCODEPAGE=\"1\"\n"
                                               "[TCP]\nUSERID=INIUSER\nPASSWORD=INIPASS\nMEMBER=TLXJOBSV\n");
    Args args({"-U",   "ARGUSER1", "-U",   "ARGUSER2", "-A", "10.1.1.1", "-A",   "10.2.2.2", "-c",    ini,  "-d",
               "run7", "-d",       "run8", "-l",       "1",  "-D",       "logs", "-O",       "15200", "-S", "3"});
    ConfigModul config(args.argc(), args.argv());
    std::string out;
    EXPECT_EQ(RunParse(config, dir, "cGFzc3dvcmQ=\r\nsecond line\n", &out), 0);
    EXPECT_EQ(out, "");
    EXPECT_TRUE(config.m_bIniLoaded);
    ASSERT_NE(config.m_pIniParser, nullptr);
    EXPECT_TRUE(config.m_pIniParser->m_mapParms.empty()); // moved into the store

    EXPECT_EQ(Get(config, "TCP.USERID"), "INIUSER");   // the file beats options before -c
    EXPECT_EQ(Get(config, "TCP.IP_ADDR"), "10.1.1.1"); // first of two before -c
    EXPECT_EQ(Get(config, "GLOBAL.WORK_DIR"), "run8"); // after -c: every value replaces
    EXPECT_EQ(Get(config, "GLOBAL.LOG"), "1");
    EXPECT_EQ(Get(config, "GLOBAL.LOG_PATH"), "logs");
    EXPECT_EQ(Get(config, "TCP.HOST_PORT"), "15200");
    EXPECT_EQ(Get(config, "TCP.TCPTLSSECLEVEL"), "3");
    EXPECT_EQ(Get(config, "GLOBAL.CODEPAGE"), "1");
    EXPECT_EQ(Get(config, "TCP.MEMBER"), "TLXJOBSV");
    EXPECT_EQ(Get(config, "TCP.PASSWORD"), "cGFzc3dvcmQ="); // standard input beats the file
#if !defined(_WIN32)                                        // Windows has no core dumps to keep out of
    // Holding the password, the process is kept out of core dumps.
    EXPECT_EQ(prctl(PR_GET_DUMPABLE), 0);
#endif
}

// A failed scan or an informational option stops before the password line; what came before
// is stored (which command lines fail is tests/cli's).
TEST(ConfigModul, FailedOrInformationalScanLeavesThePasswordUnread)
{
    ScratchDir dir;
    const std::string ini = dir.write("v.ini", "[TCP]\nUSERID=INIUSER\n");
    for (const char* last : {"-X", "-h"}) {
        Args args({"-U", "u1", "-c", ini, "-A", "1.2.3.4", last});
        ConfigModul config(args.argc(), args.argv());
        StdinFrom in(dir, "pw\n");
        testing::internal::CaptureStdout();
        EXPECT_EQ(config.Parse(), last[1] == 'h' ? 1 : 8);
        testing::internal::GetCapturedStdout();
        EXPECT_EQ(Get(config, "TCP.USERID"), "INIUSER") << last;
        EXPECT_EQ(Get(config, "TCP.IP_ADDR"), "1.2.3.4") << last;
        EXPECT_EQ(Get(config, "TCP.PASSWORD"), "(absent)") << last;
        EXPECT_EQ(Rest(stdin), "pw\n") << last;
    }
}

TEST(ConfigModul, SecondIniFileMergesOverTheFirst)
{
    ScratchDir dir;
    const std::string a = dir.write("a.ini", "[TCP]\nUSERID=A\nMEMBER=MA\n");
    const std::string b = dir.write("b.ini", "[TCP]\nUSERID=B\n[FTP]\nT0=5\n");
    Args args({"-c", a, "-U", "ARG", "-c", b});
    ConfigModul config(args.argc(), args.argv());
    EXPECT_EQ(RunParse(config, dir, "pw\n"), 0);
    EXPECT_EQ(Get(config, "TCP.USERID"), "B");
    EXPECT_EQ(Get(config, "TCP.MEMBER"), "MA");
    EXPECT_EQ(Get(config, "FTP.T0"), "5");
    ASSERT_NE(config.m_pIniParser, nullptr);
    EXPECT_STREQ(config.m_pIniParser->m_pszFileName, b.c_str());
}

namespace {
struct Reader {
    ConfigModul* config;
    std::atomic<int32_t> mismatches{0};
};

void ReadManyTimes(void* arg)
{
    Reader* r = static_cast<Reader*>(arg);
    std::string value;
    for (int i = 0; i < 5000; ++i) {
        if (!r->config->GetParm("TCP.USERID", value) || value != "SHARED")
            r->mismatches++;
        if (r->config->GetParm("TCP.NONE", value) || !value.empty())
            r->mismatches++;
    }
}
} // namespace

TEST(ConfigModul, GetParmFromSeveralThreads)
{
    ConfigModul config(0, nullptr);
    config.SetParm("TCP.USERID", "SHARED");
    Reader reader;
    reader.config = &config;
    Task tasks[3];
    for (Task& t : tasks)
        ASSERT_TRUE(t.CreateTask(ReadManyTimes, "reader", &reader));
    for (Task& t : tasks)
        t.WaitForEnd();
    EXPECT_EQ(reader.mismatches.load(), 0);
}
