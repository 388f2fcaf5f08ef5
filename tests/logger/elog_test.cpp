// The program log: the pre-scan of the arguments, the log file's name and
// place, the escaped template, ELOG's argument counts and serialisation.

#include "args.h"
#include "logcapture.h"
#include "loggertest.h"

#include "elog.h"
#include "globals.h"
#include "logger/logger.h"
#include "platform/platform.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <regex>
#include <string>
#include <thread>
#include <vector>

namespace {

std::string today()
{
    std::tm tm;
    Platform::localTime(static_cast<std::time_t>(Platform::nowSeconds()), tm);
    char date[32];
    std::snprintf(date, sizeof(date), "%d-%02d-%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
    return date;
}

} // namespace

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

TEST(EventLog, LogFileInAnEscapedPlaceWithPrologueAndEpilogue)
{
    // Paths holding an apostrophe, an ampersand and a less-than sign still
    // give a document that parses, and a log where the paths say.
    ScratchDir dir;
    const std::string place = dir.file("it's & <logs>");
    ASSERT_TRUE(std::filesystem::create_directory(place));
    const std::string ini = place + "/o'k.ini";
    {
        std::ofstream(ini) << "[GLOBAL]\nMSGLEVEL=2\nLOG_PATH=" << place << "\n";
    }
    Args a({"-l", "1", "-d", "work'dir", "-c", ini});
    g_iRC = 0;
    EventLog* log = new EventLog(a.argc(), a.argv());
    log->Start();
    EXPECT_EQ(g_strLogFileName, "vexlink." + today() + ".work'dir.log");
    ELOG(0, 2, 150, "Password is empty!\n");
    ELOG(0, 4, 160, "not at MSGLEVEL 2\n");
    g_iRC = 8;
    delete log;
    g_iRC = 0;
    g_bLogOn = 0;
    Logger::Core::instance()->reset();

    const std::vector<std::string> lines = SplitLines(ReadFile(place + "/" + g_strLogFileName));
    ASSERT_EQ(lines.size(), 15u);
    const std::regex layout(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d vexlink   (.*))");
    std::vector<std::string> texts;
    for (const std::string& line : lines) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(line, m, layout)) << line;
        texts.push_back(m[1]);
    }
    const std::string stars(55, '*');
    EXPECT_EQ(texts[0], stars);
    EXPECT_EQ(texts[2], "VEXLINK: FTP client, x64, supporting TLS");
    EXPECT_FALSE(texts[1].empty());
    EXPECT_TRUE(std::regex_match(texts[3], std::regex(R"(compiled [A-Z][a-z]{2} [ \d]\d \d{4} \d\d:\d\d:\d\d)")))
        << texts[3];
    EXPECT_TRUE(std::regex_match(texts[4], std::regex(R"(started at [A-Z][a-z]{2} [A-Z][a-z]{2} [ \d]\d \d\d:\d\d:\d\d \d{4})")))
        << texts[4];
    EXPECT_EQ(texts[5], stars);
    EXPECT_EQ(texts[6], "VEXLINK: VERSION=07.04.00");
    EXPECT_EQ(texts[7], "VEXLINK: PID=" + std::to_string(Platform::processId()));
    EXPECT_EQ(texts[8], "VEXLINK: PHP_HANDLER=work'dir");
    EXPECT_EQ(texts[9], "VEXLINK: LIBWIRECOMM_VERSION=2.8.1");
    EXPECT_EQ(texts[10], std::string("VEXLINK: SQLITE_VERSION: ") + sqlite3_libversion());
    EXPECT_EQ(texts[11], "Password is empty!");
    EXPECT_EQ(texts[12], stars);
    EXPECT_TRUE(std::regex_match(texts[13], std::regex(R"(Ended at [A-Z][a-z]{2} [A-Z][a-z]{2} [ \d]\d \d\d:\d\d:\d\d \d{4} with RC=8)")))
        << texts[13];
    EXPECT_EQ(texts[14], stars);
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
