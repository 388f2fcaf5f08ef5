// The program log: the arguments' pre-scan, ELOG's argument counts, levels, assertions and
// serialisation (the log file itself: tests/cli).

#include "args.h"
#include "logcapture.h"

#include "elog.h"
#include "globals.h"
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <regex>
#include <thread>

TEST(EventLog, PreScanOfTheArguments)
{
    ScratchDir dir;
    const std::string ini = dir.write("v.ini", "[TCP]\nUSERID=x\n[GLOBAL]\nLOG_PATH=/logs\nMSGLEVEL=3\n");
    struct Case {
        std::vector<std::string> args;
        std::string logPath, iniFile, workDir;
        int logOn;
    };
    const std::vector<Case> cases = {
        {{"-D", "/x", "-c", ini, "-d", "wd", "-l", "1"}, std::string("/logs") + Platform::pathSeparator, ini, "wd", 1},
        {{"-c", ini, "-D", "/x", "-l", "0"}, "/x", ini, "", 0},          // the later of -c and -D wins
        {{"-c", dir.file("no.ini"), "-l", "yes", "-h"}, ".", "", "", 1}, // unreadable INI forgotten
        {{"-d", "wd", "bogus", "-l", "1"}, ".", "", "wd", 0},            // an invalid argument ends the scan
        {{"-c", dir.path()}, ".", "", "", 0},                            // a directory is no INI file
    };
    for (const Case& c : cases) {
        Args a(c.args);
        EventLog log(a.argc(), a.argv());
        SCOPED_TRACE(c.args[1]);
        EXPECT_EQ(log.m_strLogPath, c.logPath);
        EXPECT_EQ(log.m_strIniFile, c.iniFile);
        EXPECT_EQ(log.m_strWorkDir, c.workDir);
        EXPECT_EQ(g_bLogOn, c.logOn);
    }
    g_bLogOn = 0;
}

TEST(ELOG, ArgumentCountsLevelsAndAssertions)
{
    {
        LogCapture log("5", "msgNr");
        const char* literal = "100% literal %s %d\n"; // count 0: the format is text
        ELOG(0, 3, 150, literal);
        ELOG(6, 3, 120, "%d%d%d%d%d%s\n", 1, 2, 3, 4, 5, "6");
        ELOG(7, 3, 120, "%d%d%d%d%d%d%d\n", 1, 2, 3, 4, 5, 6, 7);
        const char* twoWanted = "%s and %s\n"; // reads more arguments than given: not printed
        ELOG(1, 1, 160, twoWanted, "a");
        const char* writes = "count %n\n";
        int n = 0;
        ELOG(1, 1, 160, writes, &n);
        const char* onlyOne = "only %d\n";
        ELOG(2, 3, 100, onlyOne, 1, 2);
        // A "*" takes an argument of its own, the width's before the precision's.
        const char* stars = "[%*.*d|%'d]\n";
        ELOG(4, 3, 120, stars, 5, 3, 7, 42);
        const char* starTooMany = "%*d %d\n";
        ELOG(2, 1, 160, starTooMany, 5, 7);
        const char* positional = "%1$d\n";
        ELOG(1, 1, 160, positional, 1);
        EXPECT_EQ(log.Text(), "150 100% literal %s %d\n120 123456\n160 CANNOT PRINTF, format=%s and %s\n"
                              "160 CANNOT PRINTF, format=count %n\n100 only 1\n120 [  007|42]\n"
                              "160 CANNOT PRINTF, format=%*d %d\n160 CANNOT PRINTF, format=%1$d\n");
        EXPECT_EQ(n, 0);
    }
    LogCapture log("1", "msgNr");
    ELOG(0, 2, 150, "warning\n");
    ELOG(0, 4, 150, "detail\n");
    ELOG(0, 1, 150, "error\n");
    ELOG_ASSERT(1 + 1 == 3);
    ELOG_ASSERT(2 + 2 == 4);
    const int line = __LINE__ - 2;
    g_bLogOn = 0;
    ELOG(0, 1, 150, "logging off\n");
    EXPECT_EQ(log.Text(), "150 error\n110 Assertion failed: 1 + 1 == 3 (" + std::string(__FILE__) + ", " +
                              std::to_string(line) + ")\n");
}

TEST(ELOG, ThreadsWriteWholeMessages)
{
    LogCapture log("5", "msgNr");
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t]() {
            for (int i = 0; i < 300; ++i) {
                if (i % 50 == 0)
                    ELOG_ASSERT(i < 0);
                ELOG(2, 3, 120, "t%d first %d\nsecond\n", t, i);
            }
        });
    for (std::thread& th : threads)
        th.join();
    const std::vector<std::string> lines = log.Lines();
    ASSERT_EQ(lines.size(), 4u * (600 + 6));
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].rfind("110 Assertion failed: i < 0", 0) == 0)
            continue;
        ASSERT_TRUE(std::regex_match(lines[i], std::regex(R"(120 t\d first \d+)"))) << lines[i];
        ASSERT_LT(i + 1, lines.size());
        EXPECT_EQ(lines[++i], "120 second");
    }
}
