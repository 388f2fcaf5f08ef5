// The logger core: configuration, level rules, templates and ids, pending lines, message bounds,
// re-entry, threads.

#include "scratchdir.h"

#include "logger/logger.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <thread>
#include <vector>

using namespace Logger;

namespace {

#define LOGT(core, type, ...)                                                                                          \
    (core).log((type), nullptr, nullptr, -1, __FILE__, __LINE__, nullptr, "Test::method", nullptr, nullptr, 0, 7,      \
               __VA_ARGS__)

std::string out(const Core& core)
{
    const String s = core.testOutput();
    return std::string(s.c_str(), static_cast<size_t>(s.length()));
}

int32_t startText(Core& core, const std::string& targets, const std::string& loggerAttrs = "",
                  const char* program = "vexlink")
{
    const std::string text = "<talverix><logger" + loggerAttrs + ">" + targets + "</logger></talverix>";
    return core.start("", program, -1, "", text.c_str(), nullptr, false, "");
}

const char* const kTestTarget = "<target formatter='line' sender='test' level='5'/>";

} // namespace

TEST(Core, ProgramLogLayoutAndMsgLevelFromIni)
{
    ScratchDir dir;
    const std::string config = "<talverix><ini path='" + dir.file("prog.ini") +
                               "' hook=':INI:'><item name='[*]MSGLEVEL' default='1' /></ini><logger>"
                               "<target level=':INI:[*]MSGLEVEL' include='date;time;program' formatter='line' "
                               "sender='test'/></logger></talverix>";
    Core core;
    // MSGLEVEL n admits types 1 and 3 from 1 on, 2 from 2, 4 from 3, 5 from 4; no item: 1.
    for (const auto& level : {std::make_pair("1", "13"), std::make_pair("2", "123"), std::make_pair("3", "1234"),
                              std::make_pair("4", "12345"), std::make_pair("", "13")}) {
        dir.write("prog.ini", std::string("[GLOBAL]\n") + (*level.first ? "MSGLEVEL=" : "X=") + level.first + "\n");
        ASSERT_EQ(core.start("", "vexlink", -1, "", config.c_str(), nullptr, false, ""), 1);
        for (int type = 1; type <= 5; ++type)
            LOGT(core, type, "%d\n", type);
        std::string types;
        for (const std::string& line : SplitLines(out(core))) {
            ASSERT_TRUE(std::regex_match(line, std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d vexlink   \d)"))) << line;
            types += line.back();
        }
        EXPECT_EQ(types, level.second) << "MSGLEVEL " << level.first;
    }
}

TEST(Core, MaskTypeZeroTemplatesAndIds)
{
    Core core;
    const std::vector<std::pair<std::string, std::string>> cases = {
        // mask replaces level (A: types 2 and 4); no level at all: errors only.
        {"<target formatter='line' sender='test' level='5' mask='A'/><target formatter='line' sender='test'/>",
         "t1\nt2\nt4\n"},
        // Type 0 and 32 only with the field "0" or bit 31.
        {kTestTarget, "t1\nt2\nt3\nt4\n"},
        {"<target formatter='line' sender='test' include='0'/>", "t0\nt1\n"},
        {"<target formatter='line' sender='test' mask='80000000'/>", "t0\nt32\n"},
        // A template before a matching target passes include and level; after it, nothing;
        // one for another formatter does not apply.
        {"<target include='msgNr' level='2'/><target formatter='line' sender='test'/>", "100 t1\n100 t2\n100 t3\n"},
        {"<target formatter='line' sender='test'/><target include='msgNr' level='2'/>", "t1\n"},
        {"<target formatter='xml' include='type' level='5'/><target sender='test' include='msgNr;node' level='3'/>"
         "<target formatter='line' sender='test' exclude='node'/>",
         "100 t1\n100 t2\n100 t3\n100 t4\n"},
        // The same id reconfigures one target (fields stay, the template between does not apply);
        // different ids make two, newest first.
        {"<target id='1' formatter='xml' sender='test' include='type'/><target include='node' level='5'/>"
         "<target id='1' formatter='line' sender='test' include='msgNr' level='1'/>",
         "E100 t1\nI100 t3\n"},
        {"<target id='1' formatter='line' sender='test' level='1'/>"
         "<target id='2' formatter='line' sender='test' level='1' include='msgNr'/>",
         "100 t1\nt1\n100 t3\nt3\n"},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(startText(core, c.first), 1) << c.first;
        for (int type : {0, 1, 2, 3, 4, 32})
            core.log(type, "node1", "prog", 5, "f", 42, nullptr, "C::m", "d", "t", 9, 100, "t%d\n", type);
        EXPECT_EQ(out(core), c.second) << c.first;
    }
}

TEST(Core, LoggerSelectionStartResultsAndBadConfigurations)
{
    Core core;
    const std::vector<std::pair<std::string, int>> selection = {
        {" program='other'", 0},
        {" program=''", 1},
        {" program='vexlink' type='' maxMsgLength='300'", 1},
        {" node='no-such-node-name'", 0},
    };
    for (const auto& s : selection) {
        ASSERT_EQ(startText(core, kTestTarget, s.first), 1);
        EXPECT_EQ(core.targetCount(), s.second) << s.first;
        if (s.first.find("300") != std::string::npos) {
            EXPECT_EQ(core.maxMsgLength(), 300);
        }
    }
    ScratchDir dir;
    const std::string good = "<talverix><other/><logger><x/>" + std::string(kTestTarget) + "</logger></talverix>";
    EXPECT_EQ(core.start("", "vexlink", -1, dir.write("l.xml", good).c_str(), nullptr, nullptr, false, ""), 0);
    EXPECT_EQ(core.targetCount(), 1);
    // A file without text, missing or not loading falls back to the text; nothing at all gives 2.
    for (const std::string& file :
         {dir.write("e.xml", ""), dir.file("missing.xml"), dir.write("bad.xml", "<talverix><a x=1/></talverix>")})
        EXPECT_EQ(core.start("", "vexlink", -1, file.c_str(), good.c_str(), nullptr, false, ""), 1) << file;
    EXPECT_EQ(core.start("", "vexlink", -1, nullptr, nullptr, nullptr, false, ""), 2);
    EXPECT_EQ(core.targetCount(), 0);
    testing::internal::CaptureStderr();
    EXPECT_EQ(core.start("", "vexlink", -1, "", "<other/>", nullptr, false, ""), 3);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("Logger: No TALVERIX XML file"), std::string::npos);
    // Unknown formatter or sender: a message, that target never writes, the rest is read.
    testing::internal::CaptureStderr();
    EXPECT_EQ(startText(core, "<target formatter='fancy' sender='test' level='5'/>"
                              "<target formatter='line' sender='printer' level='5'/>" +
                                  std::string(kTestTarget)),
              1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Unknown formatter\nUnknown sender: printer\n");
    LOGT(core, 1, "only once\n");
    EXPECT_EQ(out(core), "only once\n");
    // A root that vanishes in hook resolution: 2.
    EXPECT_EQ(core.start("", "vexlink", -1, "",
                         ("<talverix x=':I:M'><ini path='" + dir.write("e.ini", "[A]\nB=1\n") +
                          "' hook=':I:'><item name='M' duplicate='list'/></ini></talverix>")
                             .c_str(),
                         nullptr, false, ""),
              2);
}

TEST(Core, PendingLinesClassMethodAndMessageBounds)
{
    Core core;
    ASSERT_EQ(startText(core, "<target formatter='line' sender='test' level='5' include='time;line'/>"), 1);
    // "a\nb" then "c\n": lines a and bc; bc keeps the time and line of the message that began it.
    core.log(3, nullptr, nullptr, -1, "f", 10, nullptr, nullptr, "d", "01:01:01", 0, 1, "a\nb");
    core.log(3, nullptr, nullptr, -1, "f", 20, nullptr, nullptr, "d", "02:02:02", 0, 1, "c\n");
    core.log(3, nullptr, nullptr, -1, "f", 30, nullptr, nullptr, "d", "03:03:03", 0, 1, "x\n\ny\n");
    EXPECT_EQ(out(core), "01:01:01 0010 a\n01:01:01 0010 bc\n03:03:03 0030 x\n03:03:03 0030 y\n");
    ASSERT_EQ(startText(core, "<target formatter='line' sender='test' level='5' include='class;method'>"
                              "<line classLength='8' methodLength='8'/></target>"),
              1);
    for (const auto& m : {std::make_pair("", "Logger::proLog"), std::make_pair("", "a::b::c"),
                          std::make_pair("K", "x::y"), std::make_pair("", "plain")})
        core.log(3, nullptr, nullptr, -1, nullptr, 0, *m.first ? m.first : nullptr, m.second, nullptr, nullptr, 0, 3,
                 "m\n");
    EXPECT_EQ(out(core), "Logger   proLog   m\na::b     c        m\nK        x::y     m\n         plain    m\n");
    // 1023 bytes fit with the NUL, 1024 are replaced, never cut; a small bound holds below 128.
    ASSERT_EQ(startText(core, kTestTarget, " maxMsgLength='1024'"), 1);
    LOGT(core, 3, "%s\n", std::string(1022, 'x').c_str());
    LOGT(core, 3, "%s\n", std::string(1023, 'y').c_str());
    EXPECT_EQ(out(core), std::string(1022, 'x') + "\nCANNOT PRINTF, format=%s\n");
    ASSERT_EQ(startText(core, kTestTarget, " maxMsgLength='16'"), 1);
    LOGT(core, 3, "%d %s\n", 12, "abcdefghijklmnop");
    LOGT(core, 3, "%d%%\n", 99);
    EXPECT_EQ(out(core), "CANNOT PRINTF, format=%d %s\n99%\n");
    // Backslashes arrive single (doubled by the core, undone by the formatter); a NUL survives.
    ASSERT_EQ(startText(core, kTestTarget), 1);
    LOGT(core, 3, "C:\\dir\\%s %c|\n", "f\\\\g", 0);
    EXPECT_EQ(out(core), std::string("C:\\dir\\f\\\\g \0|\n", 15));
    // reset writes what is pending as a last line (seen in a file: reset empties the test output).
    ScratchDir dir;
    ASSERT_EQ(startText(core, "<target formatter='line' sender='file' level='5'><file path='" + dir.file("p.log") +
                                  "'/></target>"),
              1);
    LOGT(core, 3, "first\nsecond");
    EXPECT_EQ(ReadTextFile(dir.file("p.log")), "first\n");
    core.reset();
    EXPECT_EQ(ReadTextFile(dir.file("p.log")), "first\nsecond\n");
}

TEST(Core, CallsFromInsideTheCoreAreDropped)
{
    struct Reporter : public Callback {
        Core* core = nullptr;
        std::vector<std::string> texts;
        int32_t restart = -1;
        void call(int32_t targetId, const char* text) override
        {
            texts.push_back(std::to_string(targetId) + ":" + text);
            core->log(1, nullptr, nullptr, -1, nullptr, 0, nullptr, nullptr, nullptr, nullptr, 0, 0, "inside\n");
            core->routeLogLine(nullptr, nullptr, -1, "<log type='1' msg='routed'/>");
            restart = core->start("", "x", -1, "", "<talverix/>", nullptr, false, ""); // would free the target in use
            core->reset();
        }
    };
    ScratchDir dir;
    Core core;
    Reporter reporter;
    reporter.core = &core;
    const std::string config =
        "<talverix><logger><target id='4' formatter='line' sender='file' level='5'><file path='" + dir.file("cb.log") +
        "'/></target></logger></talverix>";
    ASSERT_EQ(core.start("", "vexlink", -1, "", config.c_str(), &reporter, false, ""), 1);
    EXPECT_TRUE(reporter.texts.empty()); // nothing opened before the first line
    LOGT(core, 1, "outside\n");
    ASSERT_EQ(reporter.texts.size(), 1u);
    EXPECT_EQ(reporter.texts[0],
              "4:<loggerCallback type='sender2File'><sender2File path='" + dir.file("cb.log") + "'/></loggerCallback>");
    EXPECT_EQ(reporter.restart, 2);
    LOGT(core, 1, "after\n");
    EXPECT_EQ(ReadTextFile(dir.file("cb.log")), "outside\nafter\n");
}

TEST(Core, ThreadsLogWholeLines)
{
    ScratchDir dir;
    Core core;
    ASSERT_EQ(startText(core, "<target formatter='line' sender='file' level='5'><file path='" + dir.file("t.log") +
                                  "' flush='no'/></target>"),
              1);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&core, t]() {
            for (int i = 0; i < 500; ++i)
                LOGT(core, 3, "thread %d line %d\nthread %d more %d\n", t, i, t, i); // two lines stay together
        });
    for (std::thread& th : threads)
        th.join();
    core.reset();
    const std::vector<std::string> lines = SplitLines(ReadTextFile(dir.file("t.log")));
    ASSERT_EQ(lines.size(), 4000u);
    const std::regex first(R"(thread (\d) line (\d+))");
    for (size_t i = 0; i + 1 < lines.size(); i += 2) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(lines[i], m, first)) << lines[i];
        EXPECT_EQ(lines[i + 1], "thread " + m[1].str() + " more " + m[2].str());
    }
}
