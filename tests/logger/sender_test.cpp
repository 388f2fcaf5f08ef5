// The senders: path masks and their placeholders, directory creation, the
// append flag, flushing, the cyclic ring and its first index, the callback.

#include "loggertest.h"

#include "logger/logger.h"
#include "xml/xml.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <regex>
#include <string>

using namespace Logger;

namespace {

#define LOGT(core, type, ...) \
    (core).log((type), nullptr, nullptr, -1, __FILE__, __LINE__, nullptr, nullptr, nullptr, nullptr, 0, 7, __VA_ARGS__)

// A core whose program is vexlink, with tag and run number, working in dir.
int32_t startIn(Core& core, const ScratchDir& dir, const std::string& targets, int32_t runNr = -1,
                const char* tag = "", bool append = false)
{
    const std::string text = loggerConfig(targets);
    const int32_t r = core.start("", "vexlink", runNr, "", text.c_str(), nullptr, append, tag);
    core.setBaseDir(dir.path().c_str());
    return r;
}

// The file name a Sender2File of the core makes from mask.
std::string maskName(Core& core, const std::string& mask)
{
    Sender2File sender(&core);
    sender.pathMask = mask.c_str();
    return sender.fileName().c_str();
}

class EnvVar {
public:
    EnvVar(const char* name, const char* value) : m_name(name)
    {
        if (value != nullptr)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~EnvVar() { unsetenv(m_name); }

private:
    const char* m_name;
};

std::vector<std::string> filesIn(const std::string& dir)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

TEST(Sender2File, MaskPlaceholders)
{
    Core core;
    ASSERT_EQ(core.start("", "vexlink", -1, "", loggerConfig("").c_str(), nullptr, false, "TAG"), 1);
    // "#" without a run number is the local time yymmdd_hhmmss.
    EXPECT_TRUE(std::regex_match(maskName(core, "log/*_#.txt"), std::regex(R"(log/vexlink_\d{6}_\d{6}\.txt)")));
    // Only the first of each placeholder is replaced.
    EXPECT_EQ(maskName(core, "**??"), "vexlink*TAG?");
    {
        EnvVar ext("LOG_STARTTIME_EXT", "A");
        EnvVar start("LOG_STARTTIME", "B");
        EXPECT_EQ(maskName(core, "x%%y%z"), "xAyBz");
    }
    {
        EnvVar ext("LOG_STARTTIME_EXT", nullptr);
        EnvVar start("LOG_STARTTIME", nullptr);
        EXPECT_EQ(maskName(core, "x%%y%z"), "xyz");
    }
    EXPECT_TRUE(std::regex_match(maskName(core, "t@@.log"),
                                 std::regex(R"(t\d{4}-\d\d-\d\dT\d\d\.\d\d\.\d\d,\d{6}\.log)")));
    EXPECT_TRUE(std::regex_match(maskName(core, "t@.log"), std::regex(R"(t\d{17}\.log)")));
    EXPECT_EQ(maskName(core, "plain.log"), "plain.log");

    ASSERT_EQ(core.start("", "vexlink", 7, "", loggerConfig("").c_str(), nullptr, false, ""), 1);
    EXPECT_EQ(maskName(core, "log/*_#.txt"), "log/vexlink_007.txt");

    // A path wins over the mask.
    Sender2File sender(&core);
    sender.pathMask = "mask.log";
    sender.path = "fixed.log";
    EXPECT_STREQ(sender.fileName().c_str(), "fixed.log");
}

TEST(Sender2File, OpensAtFirstLineCreatesDirectoriesAndTruncates)
{
    ScratchDir dir;
    Core core;
    const std::string target =
        "<target formatter='line' sender='file' level='5'><file pathMask='sub/deeper/*_#.log'/></target>";
    ASSERT_EQ(startIn(core, dir, target, 3), 1);
    // Nothing is opened before the first line.
    EXPECT_FALSE(std::filesystem::exists(dir.file("sub")));
    LOGT(core, 1, "first run\n");
    EXPECT_EQ(ReadFile(dir.file("sub/deeper/vexlink_003.log")), "first run\n");

    // A second run to the same name empties the file with its first line,
    // not before.
    ASSERT_EQ(startIn(core, dir, target, 3), 1);
    EXPECT_EQ(ReadFile(dir.file("sub/deeper/vexlink_003.log")), "first run\n");
    LOGT(core, 1, "second run\n");
    EXPECT_EQ(ReadFile(dir.file("sub/deeper/vexlink_003.log")), "second run\n");

    // With the append flag the file grows.
    ASSERT_EQ(startIn(core, dir, target, 3, "", true), 1);
    LOGT(core, 1, "appended\n");
    EXPECT_EQ(ReadFile(dir.file("sub/deeper/vexlink_003.log")), "second run\nappended\n");

    // An absolute path ignores the base directory.
    ScratchDir other;
    ASSERT_EQ(startIn(core, dir, "<target formatter='line' sender='file' level='5'><file path='" +
                                     other.file("abs/x.log") + "'/></target>"),
              1);
    LOGT(core, 1, "absolute\n");
    EXPECT_EQ(ReadFile(other.file("abs/x.log")), "absolute\n");
}

TEST(Sender2File, FlushAttributeAndUnwritablePlaces)
{
    ScratchDir dir;
    Core core;
    // flush='enabled' writes through at once; any other value does not
    // flush, and the text is complete once the core is reset.
    ASSERT_EQ(startIn(core, dir,
                      "<target formatter='line' sender='file' level='5'><file path='on.log' flush='enabled'/></target>"
                      "<target formatter='line' sender='file' level='5'><file path='off.log' flush='Enabled'/>"
                      "</target>"),
              1);
    LOGT(core, 1, "line\n");
    EXPECT_EQ(ReadFile(dir.file("on.log")), "line\n");
    EXPECT_EQ(ReadFile(dir.file("off.log")), "");
    core.reset();
    EXPECT_EQ(ReadFile(dir.file("off.log")), "line\n");

    Xml::Node* element = Xml::Node::make("file");
    Sender2File s(&core);
    s.configure(1, element, nullptr);
    EXPECT_TRUE(s.flushAfterWrite);
    element->setAttribute("flush", "disabled");
    s.configure(1, element, nullptr);
    EXPECT_FALSE(s.flushAfterWrite);
    // Entity references in paths are decoded.
    element->setAttribute("path", "it&apos;s &amp; &lt;.log");
    s.configure(1, element, nullptr);
    EXPECT_STREQ(s.path.c_str(), "it's & <.log");
    element->del();

    // A directory that cannot be made, a file in place of a directory,
    // a missing base directory, no name at all: every line is dropped.
    dir.write("blocker", "x");
    ASSERT_EQ(startIn(core, dir,
                      "<target formatter='line' sender='file' level='5'><file path='blocker/x.log'/></target>"
                      "<target formatter='line' sender='file' level='5'/>"),
              1);
    LOGT(core, 1, "dropped\n");
    EXPECT_EQ(ReadFile(dir.file("blocker")), "x");
    ASSERT_EQ(startIn(core, dir, "<target formatter='line' sender='file' level='5'><file path='y.log'/></target>"), 1);
    core.setBaseDir(dir.file("missing").c_str());
    LOGT(core, 1, "dropped\n");
    EXPECT_FALSE(std::filesystem::exists(dir.file("y.log")));
    EXPECT_FALSE(std::filesystem::exists(dir.file("missing")));
}

TEST(Sender2CyclicFiles, RotatesThroughTheRing)
{
    ScratchDir dir;
    Core core;
    // The path is absolute: the first index is chosen while the target is
    // configured, before a base directory can be set.
    const std::string target = "<target formatter='line' sender='cyclicFiles' level='5'>"
                               "<cyclicFiles pathMask='" +
                               dir.file("c%d.log") + "' maxFiles='3' maxLines='2'/></target>";
    ASSERT_EQ(startIn(core, dir, target), 1);
    for (int i = 1; i <= 5; ++i)
        LOGT(core, 3, "line %d\n", i);
    EXPECT_EQ(ReadFile(dir.file("c0.log")), "line 1\nline 2\n");
    EXPECT_EQ(ReadFile(dir.file("c1.log")), "line 3\nline 4\n");
    EXPECT_EQ(ReadFile(dir.file("c2.log")), "line 5\n");
    LOGT(core, 3, "line 6\n");
    LOGT(core, 3, "line 7\n");
    EXPECT_EQ(ReadFile(dir.file("c2.log")), "line 5\nline 6\n");
    EXPECT_EQ(ReadFile(dir.file("c0.log")), "line 7\n");
    EXPECT_EQ(filesIn(dir.path()), (std::vector<std::string>{"c0.log", "c1.log", "c2.log"}));

    // A new start goes on after the newest file of the ring (c0.log).
    ASSERT_EQ(startIn(core, dir, target), 1);
    LOGT(core, 3, "next run\n");
    EXPECT_EQ(ReadFile(dir.file("c1.log")), "next run\n");
}

TEST(Sender2CyclicFiles, FirstIndexFollowsTheNewestFile)
{
    ScratchDir dir;
    dir.write("c0.log", "old0\n");
    dir.write("c1.log", "old1\n");
    const auto now = std::filesystem::file_time_type::clock::now();
    std::filesystem::last_write_time(dir.file("c0.log"), now);
    std::filesystem::last_write_time(dir.file("c1.log"), now - std::chrono::hours(1));

    Core core;
    ASSERT_EQ(core.start("", "vexlink", -1, "", loggerConfig("").c_str(), nullptr, false, ""), 1);
    core.setBaseDir(dir.path().c_str());
    Xml::Node* element = Xml::Node::make("cyclicFiles");
    element->setAttribute("pathMask", "c%d.log");
    element->setAttribute("maxFiles", "3");

    Sender2CyclicFiles ring(&core);
    ring.configure(0, element, nullptr);
    EXPECT_EQ(ring.fileIndex, 1);
    // Equal times: the lowest index counts as the last one written.
    std::filesystem::last_write_time(dir.file("c1.log"), now);
    Sender2CyclicFiles tie(&core);
    tie.configure(0, element, nullptr);
    EXPECT_EQ(tie.fileIndex, 1);
    // The newest at the highest index: back to 0.
    dir.write("c2.log", "old2\n");
    std::filesystem::last_write_time(dir.file("c2.log"), now + std::chrono::hours(1));
    Sender2CyclicFiles wrap(&core);
    wrap.configure(0, element, nullptr);
    EXPECT_EQ(wrap.fileIndex, 0);

    // maxFiles 1 still gives two files; maxLines below 1 gives 1.
    element->setAttribute("maxFiles", "1");
    element->setAttribute("maxLines", "0");
    Sender2CyclicFiles two(&core);
    two.configure(0, element, nullptr);
    EXPECT_EQ(two.maxIndex, 1);
    EXPECT_EQ(two.maxLines, 1);
    element->del();
}

TEST(Sender2CyclicFiles, MaskNeedsExactlyOneIntConversion)
{
    EXPECT_TRUE(isSingleIntFormat("c%d.log"));
    EXPECT_TRUE(isSingleIntFormat("c%02d.log"));
    EXPECT_TRUE(isSingleIntFormat("100%%_%-3x"));
    EXPECT_TRUE(isSingleIntFormat("%hhu"));
    EXPECT_FALSE(isSingleIntFormat("c.log"));
    EXPECT_FALSE(isSingleIntFormat("c%s.log"));
    EXPECT_FALSE(isSingleIntFormat("c%d%d.log"));
    EXPECT_FALSE(isSingleIntFormat("c%ld.log"));
    EXPECT_FALSE(isSingleIntFormat("c%*d.log"));
    EXPECT_FALSE(isSingleIntFormat("c%n.log"));
    EXPECT_FALSE(isSingleIntFormat("c%"));
    EXPECT_FALSE(isSingleIntFormat("%1$d"));

    // A mask that is refused names no file: nothing is written, nothing read.
    ScratchDir dir;
    Core core;
    ASSERT_EQ(startIn(core, dir, "<target formatter='line' sender='cyclicFiles' level='5'>"
                                 "<cyclicFiles pathMask='c%s%s%s.log'/></target>"
                                 "<target formatter='line' sender='cyclicFiles' level='5'/>"),
              1);
    LOGT(core, 3, "nowhere\n");
    EXPECT_TRUE(filesIn(dir.path()).empty());

    // The program name is part of the mask; placeholders come first. A wide
    // conversion is cut to the bounded buffer, never written past it.
    ASSERT_EQ(startIn(core, dir, "<target formatter='line' sender='cyclicFiles' level='5'>"
                                 "<cyclicFiles pathMask='*_%03d' maxLines='1'/></target>"
                                 "<target formatter='line' sender='cyclicFiles' level='5'>"
                                 "<cyclicFiles pathMask='w%040d'/></target>"),
              1);
    LOGT(core, 3, "a\n");
    LOGT(core, 3, "b\n");
    EXPECT_EQ(ReadFile(dir.file("vexlink_000")), "a\n");
    EXPECT_EQ(ReadFile(dir.file("vexlink_001")), "b\n");
    EXPECT_EQ(ReadFile(dir.file("w" + std::string(24, '0'))), "a\nb\n");
}

TEST(Sender2Stdout, WritesLinesToTheStreams)
{
    Core core;
    ASSERT_EQ(core.start("", "vexlink", -1, "",
                         loggerConfig("<target formatter='line' sender='stdout' level='5'/>"
                                      "<target formatter='line' sender='stderr' level='5'/>"
                                      "<target formatter='null' sender='stdout' level='5'/>")
                             .c_str(),
                         nullptr, false, ""),
              1);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    LOGT(core, 3, "to both\n");
    std::fflush(stdout);
    std::fflush(stderr);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "to both\n");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "to both\n");
}
