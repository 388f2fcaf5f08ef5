// The logger core: configuration (templates, ids, filters, logger
// selection), acceptance of types, pending partial lines, message
// formatting bounds, received records and streams, reset, threads.

#include "loggertest.h"

#include "logger/logger.h"
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <thread>
#include <vector>

using namespace Logger;

namespace {

// Logs one message of type with the local time.
#define LOGT(core, type, ...) \
    (core).log((type), nullptr, nullptr, -1, __FILE__, __LINE__, nullptr, "Test::method", nullptr, nullptr, 0, 7, __VA_ARGS__)

// Logs with a fixed date and time, so that a line can be compared whole.
#define LOGFIX(core, type, ...)                                                                                       \
    (core).log((type), "node1", "prog", 5, "src\\file.cpp", 42, nullptr, "Cls::meth", "2026-12-04", "04:49:23", 9, 100, \
               __VA_ARGS__)

std::string out(const Core& core)
{
    const String s = core.testOutput();
    return std::string(s.c_str(), static_cast<size_t>(s.length()));
}

int32_t startText(Core& core, const std::string& text, const char* program = "vexlink")
{
    return core.start("", program, -1, "", text.c_str(), nullptr, false, "");
}

// A target that shows only the message text.
const char* const kTestTarget = "<target formatter='line' sender='test' level='5'/>";

} // namespace

TEST(Core, ProgramLogConfigurationWritesLayoutAndFiltersLevels)
{
    ScratchDir dir;
    const std::string ini = dir.write("prog.ini", "[GLOBAL]\nMSGLEVEL=1\n");
    const std::string config =
        "<talverix>   <ini path='" + ini +
        "' hook=':INI:'><item name='[*]MSGLEVEL' default='1' /></ini>   <logger>       "
        "<target level=':INI:[*]MSGLEVEL' include='date;time;program' formatter='line' sender='test'>"
        "       </target>   </logger></talverix>";
    Core core;
    ASSERT_EQ(startText(core, config), 1);
    ASSERT_EQ(core.targetCount(), 1);

    LOGT(core, 1, "error %d\n", 1);
    LOGT(core, 2, "warning\n");
    LOGT(core, 3, "VEXLINK: PID=%d\n", 4711);
    LOGT(core, 4, "detail\n");
    LOGT(core, 5, "trace\n");
    const std::vector<std::string> lines = SplitLines(out(core));
    ASSERT_EQ(lines.size(), 2u);
    const std::regex layout(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d vexlink   (.*))");
    std::smatch m;
    ASSERT_TRUE(std::regex_match(lines[0], m, layout)) << lines[0];
    EXPECT_EQ(m[1], "error 1");
    ASSERT_TRUE(std::regex_match(lines[1], m, layout)) << lines[1];
    EXPECT_EQ(m[1], "VEXLINK: PID=4711");
    EXPECT_TRUE(core.accepts(1));
    EXPECT_FALSE(core.accepts(2));
    EXPECT_TRUE(core.accepts(3));

    // MSGLEVEL 2 admits warnings; 3 adds level 4; 4 adds level 5.
    for (const auto& level : {std::make_pair(2, 3u), std::make_pair(3, 4u), std::make_pair(4, 5u)}) {
        dir.write("prog.ini", "[GLOBAL]\nMSGLEVEL=" + std::to_string(level.first) + "\n");
        ASSERT_EQ(startText(core, config), 1);
        for (int type = 1; type <= 5; ++type)
            LOGT(core, type, "type %d\n", type);
        EXPECT_EQ(SplitLines(out(core)).size(), level.second) << "MSGLEVEL " << level.first;
    }

    // Without the INI item the default level 1 holds.
    dir.write("prog.ini", "[GLOBAL]\nOTHER=1\n");
    ASSERT_EQ(startText(core, config), 1);
    for (int type = 1; type <= 5; ++type)
        LOGT(core, type, "type %d\n", type);
    const std::vector<std::string> defaults = SplitLines(out(core));
    ASSERT_EQ(defaults.size(), 2u);
    EXPECT_NE(defaults[0].find("type 1"), std::string::npos);
    EXPECT_NE(defaults[1].find("type 3"), std::string::npos);
}

TEST(Core, LevelAndMaskAttributes)
{
    Core core;
    // mask replaces level (A: types 2 and 4); a target without either
    // accepts errors only.
    ASSERT_EQ(startText(core, loggerConfig("<target formatter='line' sender='test' level='5' mask='A'/>"
                                           "<target formatter='line' sender='test' id='3'/>")),
              1);
    for (int type = 1; type <= 5; ++type)
        LOGT(core, type, "t%d\n", type);
    EXPECT_EQ(out(core), "t1\nt2\nt4\n");

    // Type 0 reaches only targets that include the field "0" or have bit 31.
    ASSERT_EQ(startText(core, loggerConfig("<target formatter='line' sender='test' level='5'/>")), 1);
    EXPECT_FALSE(core.accepts(0));
    LOGT(core, 0, "zero\n");
    EXPECT_EQ(out(core), "");
    ASSERT_EQ(startText(core, loggerConfig("<target formatter='line' sender='test' include='0'/>")), 1);
    EXPECT_TRUE(core.accepts(0));
    LOGT(core, 0, "zero\n");
    EXPECT_EQ(out(core), "zero\n");
    ASSERT_EQ(startText(core, loggerConfig("<target formatter='line' sender='test' mask='80000000'/>")), 1);
    LOGT(core, 0, "zero\n");
    LOGT(core, 32, "thirty-two\n");
    LOGT(core, 1, "one\n");
    EXPECT_EQ(out(core), "zero\nthirty-two\n");
}

TEST(Core, TemplatesApplyOnlyToLaterMatchingTargets)
{
    Core core;
    // A template before the target passes its include and level.
    ASSERT_EQ(startText(core, loggerConfig("<target include='msgNr' level='2'/>"
                                           "<target formatter='line' sender='test'/>")),
              1);
    LOGFIX(core, 2, "warn\n");
    EXPECT_EQ(out(core), "100 warn\n");

    // Placed after it, it has no effect.
    ASSERT_EQ(startText(core, loggerConfig("<target formatter='line' sender='test'/>"
                                           "<target include='msgNr' level='2'/>")),
              1);
    LOGFIX(core, 2, "warn\n");
    LOGFIX(core, 1, "err\n");
    EXPECT_EQ(out(core), "err\n");

    // A template that names another formatter or sender does not apply; one
    // naming the same sender does; the target's own attributes come last.
    ASSERT_EQ(startText(core, loggerConfig("<target formatter='xml' include='type' level='5'/>"
                                           "<target sender='test' include='msgNr;node' level='3'/>"
                                           "<target formatter='line' sender='test' exclude='node'/>")),
              1);
    LOGFIX(core, 4, "detail\n");
    LOGFIX(core, 5, "trace\n");
    EXPECT_EQ(out(core), "100 detail\n");
}

TEST(Core, SameIdReconfiguresTheTarget)
{
    Core core;
    ASSERT_EQ(startText(core, loggerConfig("<target id='1' formatter='xml' sender='test' include='type'/>"
                                           "<target include='node' level='5'/>"
                                           "<target id='1' formatter='line' sender='test' include='msgNr' level='2'/>")),
              1);
    EXPECT_EQ(core.targetCount(), 1);
    // The second element made a line formatter; the template did not apply;
    // the fields of the first stay on.
    LOGFIX(core, 2, "warn\n");
    EXPECT_EQ(out(core), "W100 warn\n");

    // Different ids make two targets; newest first.
    ASSERT_EQ(startText(core, loggerConfig("<target id='1' formatter='line' sender='test' level='5'/>"
                                           "<target id='2' formatter='line' sender='test' level='5' include='msgNr'/>")),
              1);
    EXPECT_EQ(core.targetCount(), 2);
    LOGFIX(core, 3, "x\n");
    EXPECT_EQ(out(core), "100 x\nx\n");
}

TEST(Core, LoggerElementSelection)
{
    Core core;
    // Another program: skipped. An empty program attribute: applies.
    ASSERT_EQ(startText(core, loggerConfig(kTestTarget, " program='other'")), 1);
    EXPECT_EQ(core.targetCount(), 0);
    ASSERT_EQ(startText(core, loggerConfig(kTestTarget, " program=''")), 1);
    EXPECT_EQ(core.targetCount(), 1);
    ASSERT_EQ(startText(core, loggerConfig(kTestTarget, " program='vexlink' type='' maxMsgLength='300'")), 1);
    EXPECT_EQ(core.targetCount(), 1);
    EXPECT_EQ(core.maxMsgLength(), 300);
    ASSERT_EQ(startText(core, loggerConfig(kTestTarget, " node='no-such-node-name'")), 1);
    EXPECT_EQ(core.targetCount(), 0);
    // Children other than target are ignored, so are other root children.
    ASSERT_EQ(startText(core, "<talverix><other/><logger><x/>" + std::string(kTestTarget) + "</logger></talverix>"), 1);
    EXPECT_EQ(core.targetCount(), 1);
}

TEST(Core, StartResultsAndBadConfigurations)
{
    ScratchDir dir;
    Core core;
    const std::string good = loggerConfig(kTestTarget);
    const std::string file = dir.write("logger.xml", good);
    EXPECT_EQ(core.start("", "vexlink", -1, file.c_str(), nullptr, nullptr, false, ""), 0);
    EXPECT_EQ(core.targetCount(), 1);
    // A file without text falls back to the text.
    const std::string empty = dir.write("empty.xml", "");
    EXPECT_EQ(core.start("", "vexlink", -1, empty.c_str(), good.c_str(), nullptr, false, ""), 1);
    EXPECT_EQ(core.start("", "vexlink", -1, dir.file("missing.xml").c_str(), good.c_str(), nullptr, false, ""), 1);
    EXPECT_EQ(core.start("", "vexlink", -1, nullptr, nullptr, nullptr, false, ""), 2);
    EXPECT_EQ(core.targetCount(), 0);

    // A document that does not load: result 3 and the message on stderr;
    // a file that does not load falls back to the text.
    testing::internal::CaptureStderr();
    // Elements left open at the end are no error.
    EXPECT_EQ(startText(core, "<talverix><logger>"), 1);
    EXPECT_EQ(startText(core, "<other/>"), 3);
    const std::string bad = dir.write("bad.xml", "<talverix><a x=1/></talverix>");
    EXPECT_EQ(core.start("", "vexlink", -1, bad.c_str(), good.c_str(), nullptr, false, ""), 1);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.rfind("Logger: ", 0), 0u) << err;
    EXPECT_NE(err.find("No TALVERIX XML file"), std::string::npos) << err;

    // Unknown formatter or sender: a message, that target never writes, the
    // rest of the document is still read.
    testing::internal::CaptureStderr();
    EXPECT_EQ(startText(core, loggerConfig("<target formatter='fancy' sender='test' level='5'/>"
                                           "<target formatter='line' sender='printer' level='5'/>" +
                                           std::string(kTestTarget))),
              1);
    err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, "Unknown formatter\nUnknown sender: printer\n");
    EXPECT_EQ(core.targetCount(), 3);
    LOGT(core, 1, "only once\n");
    EXPECT_EQ(out(core), "only once\n");

    // A root that vanishes in hook resolution: result 2.
    const std::string ini = dir.write("empty.ini", "[A]\nB=1\n");
    EXPECT_EQ(startText(core, "<talverix x=':I:MISSING'><ini path='" + ini +
                                  "' hook=':I:'><item name='MISSING' duplicate='list'/></ini>" + kTestTarget +
                                  "</talverix>"),
              2);
}

TEST(Core, PendingTextAndEmptyLines)
{
    Core core;
    ASSERT_EQ(startText(core, loggerConfig("<target formatter='line' sender='test' level='5' "
                                           "include='time;line'/>")),
              1);
    // "a\nb" then "c\n": lines a and bc; bc keeps the time and line of the
    // message that began it.
    core.log(3, nullptr, nullptr, -1, "f", 10, nullptr, nullptr, "2026-01-01", "01:01:01", 0, 1, "a\nb");
    core.log(3, nullptr, nullptr, -1, "f", 20, nullptr, nullptr, "2026-01-01", "02:02:02", 0, 1, "c\n");
    core.log(3, nullptr, nullptr, -1, "f", 30, nullptr, nullptr, "2026-01-01", "03:03:03", 0, 1, "x\n\ny\n");
    EXPECT_EQ(out(core), "01:01:01 0010 a\n01:01:01 0010 bc\n03:03:03 0030 x\n03:03:03 0030 y\n");

    // reset writes what is pending as a last line.
    core.clearTestOutput();
    core.log(3, nullptr, nullptr, -1, "f", 40, nullptr, nullptr, "2026-01-01", "04:04:04", 0, 1, "unfinished");
    EXPECT_EQ(out(core), "");
    String captured;
    {
        // The test output is emptied by reset: read it through a second
        // target that writes to a file instead.
        ScratchDir dir;
        const std::string config = loggerConfig("<target formatter='line' sender='file' level='5'><file path='" +
                                                dir.file("p.log") + "'/></target>");
        ASSERT_EQ(startText(core, config), 1);
        LOGT(core, 3, "first\nsecond");
        EXPECT_EQ(ReadFile(dir.file("p.log")), "first\n");
        core.reset();
        EXPECT_EQ(ReadFile(dir.file("p.log")), "first\nsecond\n");
    }
}

TEST(Core, ClassAndMethodFromQualifiedMethod)
{
    Core core;
    ASSERT_EQ(startText(core, loggerConfig("<target formatter='line' sender='test' level='5' include='class;method'>"
                                           "<line classLength='8' methodLength='8'/></target>")),
              1);
    core.log(3, nullptr, nullptr, -1, nullptr, 0, nullptr, "Logger::proLog", nullptr, nullptr, 0, 3, "a\n");
    core.log(3, nullptr, nullptr, -1, nullptr, 0, nullptr, "a::b::c", nullptr, nullptr, 0, 3, "b\n");
    core.log(3, nullptr, nullptr, -1, nullptr, 0, "K", "x::y", nullptr, nullptr, 0, 3, "c\n");
    core.log(3, nullptr, nullptr, -1, nullptr, 0, nullptr, "plain", nullptr, nullptr, 0, 3, "d\n");
    EXPECT_EQ(out(core), "Logger   proLog   a\na::b     c        b\nK        x::y     c\n         plain    d\n");
}

TEST(Core, MessageFormattingBounds)
{
    Core core;
    ASSERT_EQ(startText(core, loggerConfig(kTestTarget, " maxMsgLength='1024'")), 1);

    // Growth from 128 to 1024: a text of 1023 bytes fits with its NUL.
    const std::string fits(1022, 'x');
    LOGT(core, 3, "%s\n", fits.c_str());
    EXPECT_EQ(out(core), fits + "\n");

    // 1024 bytes do not fit (no room for the NUL): the message is replaced,
    // never cut.
    core.clearTestOutput();
    const std::string tooLong(1023, 'y');
    LOGT(core, 3, "%s\n", tooLong.c_str());
    EXPECT_EQ(out(core), "CANNOT PRINTF, format=%s\n");

    // A small bound holds below 128 too; the format is inserted literally.
    ASSERT_EQ(startText(core, loggerConfig(kTestTarget, " maxMsgLength='16'")), 1);
    LOGT(core, 3, "%d %s\n", 12, "abcdefghijklmnop");
    LOGT(core, 3, "%d%%\n", 99);
    EXPECT_EQ(out(core), "CANNOT PRINTF, format=%d %s\n99%\n");

    // Backslashes arrive single in the line (doubled by the core, undone by
    // the formatter); a NUL byte printed with %c survives as a byte.
    ASSERT_EQ(startText(core, loggerConfig(kTestTarget)), 1);
    LOGT(core, 3, "C:\\dir\\%s %c|\n", "f\\\\g", 0);
    EXPECT_EQ(out(core), std::string("C:\\dir\\f\\\\g \0|\n", 15));
}

TEST(Core, XmlRecordsReadBackInOrder)
{
    Core sender;
    ASSERT_EQ(startText(sender, loggerConfig("<target formatter='xml' sender='test' level='5' "
                                             "include='type;node;program;runNr;file;line;class;method;date;time;"
                                             "order;msgNr'/>"),
                        "remote"),
              1);
    for (int i = 0; i < 5; ++i)
        sender.log(3 + i % 2, nullptr, nullptr, 12, "dir\\item.cpp", 100 + i, nullptr, "Item::send", "2026-12-04",
                   "04:49:23", i, 200 + i, "record %d: it's <%s> a\\b\n", i, "x&y");
    const std::vector<std::string> records = SplitLines(out(sender));
    ASSERT_EQ(records.size(), 5u);

    Core receiver;
    ASSERT_EQ(startText(receiver, loggerConfig("<target formatter='line' sender='test' level='5' "
                                               "include='program;type;msgNr;runNr;file;line;method;date;time;order'/>")),
              1);
    for (const std::string& r : records)
        receiver.routeLogLine("ignored", "ignored", 1, r.c_str());
    const std::vector<std::string> lines = SplitLines(out(receiver));
    ASSERT_EQ(lines.size(), 5u);
    for (int i = 0; i < 5; ++i) {
        char want[256];
        std::snprintf(want, sizeof(want),
                      "2026-12-04 04:49:23 remote    %c%d 012 item.cpp:%04d         send             "
                      "record %d: it's <x&y> a\\b",
                      i % 2 == 0 ? 'I' : 'X', 200 + i, 100 + i, i);
        EXPECT_EQ(lines[static_cast<size_t>(i)], want);
    }

    // The order travels with the record; without one the receiver counts.
    Core orders;
    ASSERT_EQ(startText(orders, loggerConfig("<target formatter='xml' sender='test' level='5' include='order;time'/>")),
              1);
    orders.routeLogLine(nullptr, nullptr, -1, "<log order='7' date='d' time='t' msg='a'/>");
    orders.routeLogLine(nullptr, nullptr, -1, "<log node='n' date='d' time='t' msg='b'/>");
    orders.routeLogLine(nullptr, nullptr, -1, "<log node='n' date='d' time='t' msg='c'/>");
    orders.routeLogLine(nullptr, nullptr, -1, "<log node='n' date='d' time='u' msg='d'/>");
    EXPECT_EQ(out(orders), "<log time='t' order='7' msg='a'/>\n<log time='t' order='0' msg='b'/>\n"
                           "<log time='t' order='1' msg='c'/>\n<log time='u' order='0' msg='d'/>\n");
}

TEST(Core, ReceivedPlainLinesStreamsAndInvalidRecords)
{
    ScratchDir dir;
    Core core;
    ASSERT_EQ(startText(core, loggerConfig("<target formatter='line' sender='file' level='5' "
                                           "include='type;msgNr;program;node'><line nodeLength='4' programLength='6' "
                                           "msgNrLength='1' typeLength='1'/><file path='" +
                                           dir.file("r.log") + "'/></target>")),
              1);
    std::string host = Platform::hostName();
    host.resize(4, ' ');

    // A plain line is an X message numbered 2 of the given node and of the
    // program name without path and arguments.
    core.routeLogLine("nd", "C:\\bin\\tool.exe -v", -1, "plain text\n");
    // Text that is too short, or does not end in ">", is a plain line too.
    core.routeLogLine("nd", nullptr, -1, "<log >\n");
    EXPECT_EQ(ReadFile(dir.file("r.log")), "tool.e X2 nd   plain text\nvexlin X2 nd   <log >\n");

    // A stream in pieces: lines end at CR or LF, records at ">"; the line
    // feeds after a piece are dropped.
    core.routeLogText("nd", "p", -1, "one\r\ntw");
    core.routeLogText("nd", "p", -1, "o\n<log type='1' msgNr='5' ");
    core.routeLogText("nd", "p", -1, "program='rem' msg='three'/>\r\n\nfour");
    // A record that does not parse gives a warning of the core.
    core.routeLogLine("nd", "p", -1, "<log msg='unclosed>");
    // reset ends the stream's last line.
    core.reset();
    EXPECT_EQ(ReadFile(dir.file("r.log")),
              "tool.e X2 nd   plain text\nvexlin X2 nd   <log >\n"
              "p      X2 nd   one\np      X2 nd   two\n"
              "rem    E5 " + host + " three\n"
              "vexlin W3 " + host + " Invalid log message received: <log msg='unclosed>\n"
              "p      X2 nd   four\n");
}

TEST(Core, CallsFromInsideTheCoreAreDropped)
{
    // A callback that logs while the core opens a file finds it busy.
    struct Reporter : public Callback {
        Core* core = nullptr;
        std::vector<std::string> texts;
        void call(int32_t targetId, const char* text) override
        {
            texts.push_back(std::to_string(targetId) + ":" + text);
            core->log(1, nullptr, nullptr, -1, nullptr, 0, nullptr, nullptr, nullptr, nullptr, 0, 0, "inside\n");
            core->routeLogLine(nullptr, nullptr, -1, "<log type='1' msg='routed'/>");
            // Reconfiguring from inside would destroy the target in use.
            restart = core->start("", "x", -1, "", "<talverix/>", nullptr, false, "");
            core->reset();
        }
        int32_t restart = -1;
    };
    ScratchDir dir;
    Core core;
    Reporter reporter;
    reporter.core = &core;
    const std::string config = loggerConfig("<target id='4' formatter='line' sender='file' level='5'><file path='" +
                                            dir.file("cb.log") + "'/></target>");
    ASSERT_EQ(core.start("", "vexlink", -1, "", config.c_str(), &reporter, false, ""), 1);
    EXPECT_TRUE(reporter.texts.empty()) << "nothing is opened before the first line";
    LOGT(core, 1, "outside\n");
    ASSERT_EQ(reporter.texts.size(), 1u);
    EXPECT_EQ(reporter.texts[0], "4:<loggerCallback type='sender2File'><sender2File path='" + dir.file("cb.log") +
                                     "'/></loggerCallback>");
    EXPECT_EQ(reporter.restart, 2);
    EXPECT_EQ(core.targetCount(), 1);
    LOGT(core, 1, "after\n");
    EXPECT_EQ(ReadFile(dir.file("cb.log")), "outside\nafter\n");
}

TEST(Core, RecordCallbackGetsEveryField)
{
    Core core;
    ASSERT_EQ(startText(core, loggerConfig("<target formatter='line' sender='db' level='5'/>")), 1);
    std::vector<std::string> calls;
    core.setRecordCallback([&calls](const char* name, const char* value) {
        calls.push_back(name == nullptr ? std::string("<end>") : std::string(name) + "=" + value);
    });
    LOGFIX(core, 3, "a\\b\nsecond\n");
    const std::vector<std::string> want = {
        "type=3", "typeCode=I", "node=node1", "program=prog", "runNr=5", "file=file.cpp", "line=42",
        "className=Cls", "methodName=meth", "date=2026-12-04", "time=04:49:23", "order=9", "msgNr=100",
        "msg=a\\\\b", "<end>"};
    ASSERT_EQ(calls.size(), 2 * want.size());
    for (size_t i = 0; i < want.size(); ++i)
        EXPECT_EQ(calls[i], want[i]) << i;
    EXPECT_EQ(calls[want.size() + 13], "msg=second");
}

TEST(Core, ThreadsLogWholeLines)
{
    ScratchDir dir;
    Core core;
    ASSERT_EQ(startText(core, loggerConfig("<target formatter='line' sender='file' level='5'><file path='" +
                                           dir.file("t.log") + "' flush='no'/></target>")),
              1);
    const int kThreads = 4;
    const int kLines = 500;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&core, t]() {
            for (int i = 0; i < kLines; ++i) {
                // The two lines of one message must stay together.
                LOGT(core, 3, "thread %d line %d\nthread %d more %d\n", t, i, t, i);
            }
        });
    }
    for (std::thread& th : threads)
        th.join();
    core.reset();
    const std::vector<std::string> lines = SplitLines(ReadFile(dir.file("t.log")));
    ASSERT_EQ(lines.size(), static_cast<size_t>(2 * kThreads * kLines));
    const std::regex first(R"(thread (\d) line (\d+))");
    for (size_t i = 0; i + 1 < lines.size(); i += 2) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(lines[i], m, first)) << lines[i];
        EXPECT_EQ(lines[i + 1], "thread " + m[1].str() + " more " + m[2].str());
    }
}
