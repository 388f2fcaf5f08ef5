#include "configmodul.h"

#include "iniparser.h"
#include "task.h"
#include "tempdir.h"

#if !defined(_WIN32)
#include <sys/prctl.h>
#endif

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

namespace {

// Owns the argument strings of one command line ("vexlink" first).
struct Args {
    explicit Args(std::vector<std::string> list) : strings(std::move(list))
    {
        strings.insert(strings.begin(), "vexlink");
        for (std::string& s : strings)
            pointers.push_back(&s[0]);
        pointers.push_back(nullptr);
    }
    int argc() const { return static_cast<int>(strings.size()); }
    char** argv() { return pointers.data(); }
    std::vector<std::string> strings;
    std::vector<char*> pointers;
};

// Standard input read from a file for one scope, /dev/null afterwards.
class StdinFrom {
public:
    StdinFrom(const TempDir& dir, const std::string& content)
    {
        const std::string path = dir.write("stdin.txt", content);
        EXPECT_NE(std::freopen(path.c_str(), "rb", stdin), nullptr);
    }
    ~StdinFrom() { std::freopen("/dev/null", "rb", stdin); }
};

std::string Get(ConfigModul& config, const std::string& key)
{
    std::string value;
    return config.GetParm(key, value) ? value : "(absent)";
}

// Runs Parse over the arguments with the given standard input; stdout is
// captured into *out when out is given.
int RunParse(ConfigModul& config, const TempDir& dir, const std::string& input, std::string* out = nullptr)
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

TEST(ConfigModul, SecretsAreMaskedForTheLog)
{
    EXPECT_TRUE(IsSecretKey("TCP.PASSWORD"));
    EXPECT_TRUE(IsSecretKey("PASSWORD"));
    EXPECT_TRUE(IsSecretKey("TCP.TCPCRYPTKEY"));
    EXPECT_FALSE(IsSecretKey("TCP.USERID"));
    EXPECT_FALSE(IsSecretKey("tcp.password")); // keys are case-sensitive
    const std::string secret = "c2VjcmV0";
    EXPECT_EQ(std::string(LoggableValue("TCP.TCPCRYPTKEY", secret)).find(secret), std::string::npos);
    EXPECT_EQ(std::string(LoggableValue("PASSWORD", secret)).find(secret), std::string::npos);
    EXPECT_STREQ(LoggableValue("TCP.USERID", "USER1"), "USER1");
}

TEST(ConfigModul, PasswordLine)
{
    // Blanks, tabs and the line end around the text are trimmed; only input
    // that ends before any character is "no line".
    const struct {
        std::string input;
        std::string password;
        bool line;
        std::string rest;
    } rows[] = {
        {"", "", false, ""},
        {"\n", "", true, ""},
        {"\r\n", "", true, ""},
        {" \t \n", "", true, ""},
        {"cGFzcw==\r\nnext line\n", "cGFzcw==", true, "next line\n"},
        {"cGFzcw== \n", "cGFzcw==", true, ""},
        {"\tcGFzcw==\t\r\n", "cGFzcw==", true, ""},
        {"no line end", "no line end", true, ""},
        {"a\rb\n", "a\rb", true, ""},
        {" * \n", "*", true, ""},
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

TEST(ConfigModul, ParseWithoutArguments)
{
    TempDir dir;
    std::string out;
    Args args({});
    ConfigModul config(args.argc(), args.argv());
    EXPECT_EQ(RunParse(config, dir, "", &out), 8);
    EXPECT_EQ(out, "too few entry arguments, use -h for more details\n");

    ConfigModul nothing(0, nullptr);
    EXPECT_EQ(RunParse(nothing, dir, "", &out), 8);
    EXPECT_EQ(out, "too few entry arguments, use -h for more details\n");
}

TEST(ConfigModul, ParseStoresOptionsMergesTheIniAndReadsThePassword)
{
    TempDir dir;
    const std::string ini = dir.write("v.ini", "[GLOBAL]\nWORK_DIR=fromini\nCODEPAGE=\"1\"\n"
                                               "[TCP]\nUSERID=INIUSER\nPASSWORD=INIPASS\nMEMBER=TLXJOBSV\n");
    Args args({"-U", "ARGUSER1", "-U", "ARGUSER2", "-A", "10.1.1.1", "-A", "10.2.2.2", "-c", ini, "-d", "run7",
               "-d", "run8", "-l", "1", "-D", "logs", "-O", "15200", "-S", "3"});
    ConfigModul config(args.argc(), args.argv());
    std::string out;
    EXPECT_EQ(RunParse(config, dir, "cGFzc3dvcmQ=\r\nsecond line\n", &out), 0);
    EXPECT_EQ(out, "");
    EXPECT_TRUE(config.m_bIniLoaded);
    ASSERT_NE(config.m_pIniParser, nullptr);
    EXPECT_TRUE(config.m_pIniParser->m_mapParms.empty()); // moved into the store

    EXPECT_EQ(Get(config, "TCP.USERID"), "INIUSER");    // the file beats options before -c
    EXPECT_EQ(Get(config, "TCP.IP_ADDR"), "10.1.1.1");  // first of two before -c
    EXPECT_EQ(Get(config, "GLOBAL.WORK_DIR"), "run8");  // after -c: every value replaces
    EXPECT_EQ(Get(config, "GLOBAL.LOG"), "1");
    EXPECT_EQ(Get(config, "GLOBAL.LOG_PATH"), "logs");
    EXPECT_EQ(Get(config, "TCP.HOST_PORT"), "15200");
    EXPECT_EQ(Get(config, "TCP.TCPTLSSECLEVEL"), "3");
    EXPECT_EQ(Get(config, "GLOBAL.CODEPAGE"), "1");
    EXPECT_EQ(Get(config, "TCP.MEMBER"), "TLXJOBSV");
    EXPECT_EQ(Get(config, "TCP.PASSWORD"), "cGFzc3dvcmQ="); // standard input beats the file
#if !defined(_WIN32) // Windows has no core dumps to keep out of
    // Holding the password, the process is kept out of core dumps.
    EXPECT_EQ(prctl(PR_GET_DUMPABLE), 0);
#endif
}

TEST(ConfigModul, ParsePasswordEdgeCases)
{
    TempDir dir;
    const std::string ini = dir.write("v.ini", "[TCP]\nPASSWORD=INIPASS\n");
    {
        Args args({"-c", ini});
        ConfigModul config(args.argc(), args.argv());
        EXPECT_EQ(RunParse(config, dir, ""), 0); // input at its end at once
        EXPECT_EQ(Get(config, "TCP.PASSWORD"), "");
        EXPECT_TRUE(config.m_bPasswordLineMissing); // the run is refused later
    }
    {
        Args args({"/c", ini}); // a slash works like the dash
        ConfigModul config(args.argc(), args.argv());
        const std::string longLine(1000, 'L');
        EXPECT_EQ(RunParse(config, dir, longLine + "\n"), 0);
        EXPECT_EQ(Get(config, "TCP.PASSWORD"), longLine.substr(0, ConfigModul::kMaxPasswordLength));
    }
}

TEST(ConfigModul, ParseFailures)
{
    TempDir dir;
    const std::string ini = dir.write("v.ini", "[TCP]\nUSERID=INIUSER\n");
    {
        Args args({"-U", "u1", "-d", "w"}); // no -c at all
        ConfigModul config(args.argc(), args.argv());
        std::string out;
        EXPECT_EQ(RunParse(config, dir, "pw\n", &out), 8);
        EXPECT_EQ(out, "");
        EXPECT_EQ(Get(config, "TCP.USERID"), "u1");
        EXPECT_EQ(Get(config, "TCP.PASSWORD"), "(absent)");
    }
    {
        Args args({"-c", dir.file("missing.ini")});
        ConfigModul config(args.argc(), args.argv());
        EXPECT_EQ(RunParse(config, dir, "pw\n"), 8);
        EXPECT_FALSE(config.m_bIniLoaded);
    }
    {
        Args args({"-c", dir.path()}); // a directory is no INI file
        ConfigModul config(args.argc(), args.argv());
        EXPECT_EQ(RunParse(config, dir, "pw\n"), 8);
    }
    const std::vector<std::vector<std::string>> invalid = {
        {"-U", "u1", "v.ini"}, {"-c", ini, "-C", "x"}, {"-c", ini, "-U"}, {"-c"}, {""}, {"-"}, {"--c", ini},
        {"-c", ini, std::string(100000, 'A')}, {"-c", ini, "\xff\xfe\x01"},
    };
    for (const auto& list : invalid) {
        Args args(list);
        ConfigModul config(args.argc(), args.argv());
        std::string out;
        EXPECT_EQ(RunParse(config, dir, "pw\n", &out), 8) << list.back().substr(0, 20);
        EXPECT_EQ(out, ""); // only the log hears of it
        EXPECT_EQ(Get(config, "TCP.PASSWORD"), "(absent)");
    }
    // Options before the bad one are stored.
    Args args({"-U", "u1", "-c", ini, "-A", "1.2.3.4", "-X"});
    ConfigModul config(args.argc(), args.argv());
    EXPECT_EQ(RunParse(config, dir, "pw\n"), 8);
    EXPECT_EQ(Get(config, "TCP.USERID"), "INIUSER");
    EXPECT_EQ(Get(config, "TCP.IP_ADDR"), "1.2.3.4");
}

TEST(ConfigModul, InformationalOptionsStopTheScan)
{
    TempDir dir;
    const std::string ini = dir.write("v.ini", "[TCP]\nUSERID=INIUSER\n");
    {
        Args args({"-h", "-c", dir.file("missing.ini"), "-C"});
        ConfigModul config(args.argc(), args.argv());
        std::string out;
        EXPECT_EQ(RunParse(config, dir, "pw\n", &out), 1);
        EXPECT_EQ(out.compare(0, 31, "\n vexlink.exe VERSION=07.04.00\n"), 0) << out;
        EXPECT_EQ(config.m_pIniParser, nullptr); // never opened
    }
    {
        Args args({"-U", "ARG", "-c", ini, "-h"});
        ConfigModul config(args.argc(), args.argv());
        StdinFrom in(dir, "pw\n");
        testing::internal::CaptureStdout();
        EXPECT_EQ(config.Parse(), 1);
        testing::internal::GetCapturedStdout();
        EXPECT_EQ(Get(config, "TCP.USERID"), "INIUSER"); // merged before -h
        EXPECT_EQ(Get(config, "TCP.PASSWORD"), "(absent)");
        EXPECT_EQ(Rest(stdin), "pw\n"); // the password line was not read
    }
    {
        ChangeDir cd(dir.path());
        Args gen({"-g", "-x"});
        ConfigModul config(gen.argc(), gen.argv());
        std::string out;
        EXPECT_EQ(RunParse(config, dir, "", &out), 1);
        EXPECT_EQ(out, "\nThe new vexlink.ini file has been generated\n"); // -x not reached
        EXPECT_TRUE(std::filesystem::exists(dir.file("vexlink.ini")));
        EXPECT_FALSE(std::filesystem::exists(dir.file("tcplogger.xml")));
    }
}

TEST(ConfigModul, SecondIniFileMergesOverTheFirst)
{
    TempDir dir;
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

    // A second file that cannot be read fails the step.
    Args bad({"-c", a, "-c", dir.file("gone.ini")});
    ConfigModul failing(bad.argc(), bad.argv());
    EXPECT_EQ(RunParse(failing, dir, "pw\n"), 8);
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
