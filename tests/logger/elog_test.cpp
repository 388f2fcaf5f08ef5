// The program log: the pre-scan of the arguments, ELOG's argument counts,
// levels, assertions and serialisation. The log file itself (name, place,
// escaped paths, prologue and epilogue) is checked on the running program
// by tests/logcli.

#include "args.h"
#include "logcapture.h"
#include "loggertest.h"

#include "elog.h"
#include "globals.h"
#include "logger/logger.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <thread>
#include <vector>

TEST(EventLog, PreScanOfTheArguments)
{
    ScratchDir dir;
    const std::string ini = dir.write("v.ini", "[TCP]\nUSERID=x\n[GLOBAL]\nLOG_PATH=/logs\nMSGLEVEL=3\n");
    {
        Args a({"-D", "/x", "-c", ini, "-d", "wd", "-l", "1"});
        EventLog log(a.argc(), a.argv());
        EXPECT_EQ(log.m_strLogPath, "/logs/");
        EXPECT_EQ(log.m_strIniFile, ini);
        EXPECT_EQ(log.m_strWorkDir, "wd");
        EXPECT_EQ(g_bLogOn, 1);
    }
    {
        // The later of -c and -D wins; -l 0 leaves logging off.
        Args a({"-c", ini, "-D", "/x", "-l", "0"});
        EventLog log(a.argc(), a.argv());
        EXPECT_EQ(log.m_strLogPath, "/x");
        EXPECT_EQ(g_bLogOn, 0);
    }
    {
        // Without LOG_PATH and -D the log lies in "."; an unreadable INI
        // file is forgotten; any -l text other than "0" switches logging on.
        Args a({"-c", dir.file("missing.ini"), "-l", "yes", "-h"});
        EventLog log(a.argc(), a.argv());
        EXPECT_EQ(log.m_strLogPath, ".");
        EXPECT_EQ(log.m_strIniFile, "");
        EXPECT_EQ(g_bLogOn, 1);
    }
    {
        // An invalid argument ends the scan; what came before it counts.
        Args a({"-d", "wd", "bogus", "-l", "1"});
        EventLog log(a.argc(), a.argv());
        EXPECT_EQ(log.m_strWorkDir, "wd");
        EXPECT_EQ(g_bLogOn, 0);
    }
    {
        // A directory is no INI file; no -l at all: off.
        Args a({"-c", dir.path()});
        EventLog log(a.argc(), a.argv());
        EXPECT_EQ(log.m_strIniFile, "");
        EXPECT_EQ(g_bLogOn, 0);
    }
    g_bLogOn = 0;
}

TEST(ELOG, ArgumentCounts)
{
    LogCapture log("5", "msgNr");
    // With count 0 the format is text (held in a variable: the compiler
    // would check it as a format).
    const char* literal = "100% literal %s %d\n";
    ELOG(0, 3, 150, literal);
    ELOG(1, 3, 130, "one %s\n", "arg");
    ELOG(6, 3, 120, "%d%d%d%d%d%s\n", 1, 2, 3, 4, 5, "6");
    ELOG(7, 3, 120, "%d%d%d%d%d%d%d\n", 1, 2, 3, 4, 5, 6, 7);
    // A format that reads more arguments than the call gives is not printed.
    const char* twoWanted = "%s and %s\n";
    ELOG(1, 1, 160, twoWanted, "a");
    const char* writes = "count %n\n";
    int n = 0;
    ELOG(1, 1, 160, writes, &n);
    // More arguments than the format reads are harmless.
    const char* onlyOne = "only %d\n";
    ELOG(2, 3, 100, onlyOne, 1, 2);
    EXPECT_EQ(log.Text(), "150 100% literal %s %d\n130 one arg\n120 123456\n"
                          "160 CANNOT PRINTF, format=%s and %s\n160 CANNOT PRINTF, format=count %n\n100 only 1\n");
    EXPECT_EQ(n, 0);
}

TEST(ELOG, OffLevelsAndAssertions)
{
    {
        LogCapture log("1", "msgNr");
        ELOG(0, 2, 150, "warning\n");
        ELOG(0, 4, 150, "detail\n");
        ELOG(0, 1, 150, "error\n");
        ELOG_ASSERT(1 + 1 == 3);
        ELOG_ASSERT(2 + 2 == 4);
        const int line = __LINE__ - 2;
        EXPECT_EQ(log.Text(), "150 error\n110 Assertion failed: 1 + 1 == 3 (" + std::string(__FILE__) + ", " +
                                  std::to_string(line) + ")\n");
        g_bLogOn = 0;
        ELOG(0, 1, 150, "logging off\n");
        EXPECT_EQ(log.Text().find("logging off"), std::string::npos);
    }
}

TEST(ELOG, ThreadsWriteWholeMessages)
{
    LogCapture log("5", "msgNr");
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t]() {
            for (int i = 0; i < 300; ++i) {
                if (i % 50 == 0)
                    ELOG_ASSERT(i < 0);
                ELOG(2, 3, 120, "t%d first %d\nsecond\n", t, i);
            }
        });
    }
    for (std::thread& th : threads)
        th.join();
    const std::vector<std::string> lines = SplitLines(log.Text());
    ASSERT_EQ(lines.size(), 4u * (600 + 6));
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].rfind("110 Assertion failed: i < 0", 0) == 0)
            continue;
        ASSERT_TRUE(std::regex_match(lines[i], std::regex(R"(120 t\d first \d+)"))) << lines[i];
        ASSERT_LT(i + 1, lines.size());
        EXPECT_EQ(lines[++i], "120 second");
    }
}
