// The file senders: path masks, directories, truncation and append, flushing, the cyclic ring.

#include "scratchdir.h"
#include "testplatform.h"

#include "logger/logger.h"
#include "platform/platform.h"
#include "xml/xml.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <regex>

using namespace Logger;

namespace {

#define LOGT(core, type, ...)                                                                                          \
    (core).log((type), nullptr, nullptr, -1, __FILE__, __LINE__, nullptr, nullptr, nullptr, nullptr, 0, 7, __VA_ARGS__)

int32_t startIn(Core& core, const ScratchDir& dir, const std::string& targets, int32_t runNr = -1, const char* tag = "",
                bool append = false)
{
    const std::string text = "<talverix><logger>" + targets + "</logger></talverix>";
    const int32_t r = core.start("", "vexlink", runNr, "", text.c_str(), nullptr, append, tag);
    core.setBaseDir(dir.path().c_str());
    return r;
}

std::string fileTarget(const std::string& sender, const std::string& element)
{
    return "<target formatter='line' sender='" + sender + "' level='5'>" + element + "</target>";
}

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
    ScratchDir dir;
    Core core;
    ASSERT_EQ(startIn(core, dir, "", -1, "TAG"), 1);
    testos::setEnv("LOG_STARTTIME_EXT", "A");
    testos::setEnv("LOG_STARTTIME", "B");
    // "#" without a run number is yymmdd_hhmmss; only the first of each placeholder is replaced.
    const std::vector<std::pair<const char*, const char*>> cases = {
        {"log/*_#.txt", R"(log/vexlink_\d{6}_\d{6}\.txt)"},
        {"**??", R"(vexlink\*TAG\?)"},
        {"x%%y%z", "xAyBz"},
        {"t@@.log", R"(t\d{4}-\d\d-\d\dT\d\d\.\d\d\.\d\d,\d{6}\.log)"},
        {"t@.log", R"(t\d{17}\.log)"},
    };
    for (const auto& c : cases) {
        Sender2File sender(&core);
        sender.pathMask = c.first;
        EXPECT_TRUE(std::regex_match(sender.fileName().c_str(), std::regex(c.second))) << sender.fileName().c_str();
    }
    testos::setEnv("LOG_STARTTIME_EXT", nullptr);
    testos::setEnv("LOG_STARTTIME", nullptr);
    ASSERT_EQ(startIn(core, dir, "", 7), 1);
    Sender2File sender(&core);
    sender.pathMask = "x%%y%z/*_#.txt";
    EXPECT_STREQ(sender.fileName().c_str(), "xyz/vexlink_007.txt");
    sender.path = "fixed.log"; // a path wins over the mask
    EXPECT_STREQ(sender.fileName().c_str(), "fixed.log");
}

TEST(Sender2File, OpensAtFirstLineTruncatesAppendsFlushesAndDropsUnwritable)
{
    ScratchDir dir;
    Core core;
    const std::string sep(1, Platform::pathSeparator);
    const std::string target = fileTarget("file", "<file pathMask='sub" + sep + "deeper" + sep + "*_#.log'/>");
    const std::string log = dir.file("sub" + sep + "deeper" + sep + "vexlink_003.log");
    ASSERT_EQ(startIn(core, dir, target, 3), 1);
    EXPECT_FALSE(FileExists(dir.file("sub"))); // nothing opened before the first line
    LOGT(core, 1, "first run\n");
    ASSERT_EQ(startIn(core, dir, target, 3), 1);
    EXPECT_EQ(ReadTextFile(log), "first run\n"); // emptied with the first line, not before
    LOGT(core, 1, "second run\n");
    EXPECT_EQ(ReadTextFile(log), "second run\n");
    ASSERT_EQ(startIn(core, dir, target, 3, "", true), 1);
    LOGT(core, 1, "appended\n");
    EXPECT_EQ(ReadTextFile(log), "second run\nappended\n");
    // flush='enabled' writes through at once, any other value at reset; entities in paths are decoded.
    ASSERT_EQ(startIn(core, dir,
                      fileTarget("file", "<file path='" + dir.file("it&apos;s.log") + "' flush='enabled'/>") +
                          fileTarget("file", "<file path='off.log' flush='Enabled'/>")),
              1);
    LOGT(core, 1, "line\n");
    EXPECT_EQ(ReadTextFile(dir.file("it's.log")), "line\n");
#if !defined(_WIN32) // the Windows C runtime may write a short line through unasked
    EXPECT_EQ(ReadTextFile(dir.file("off.log")), "");
#endif
    core.reset();
    EXPECT_EQ(ReadTextFile(dir.file("off.log")), "line\n");
    // A file in place of a directory, no name, a missing base directory: lines are dropped.
    dir.write("blocker", "x");
    ASSERT_EQ(startIn(core, dir, fileTarget("file", "<file path='blocker/x.log'/>") + fileTarget("file", "")), 1);
    LOGT(core, 1, "dropped\n");
    EXPECT_EQ(ReadTextFile(dir.file("blocker")), "x");
    ASSERT_EQ(startIn(core, dir, fileTarget("file", "<file path='y.log'/>")), 1);
    core.setBaseDir(dir.file("missing").c_str());
    LOGT(core, 1, "dropped\n");
    EXPECT_FALSE(FileExists(dir.file("y.log")));
    EXPECT_FALSE(FileExists(dir.file("missing")));
}

TEST(Sender2CyclicFiles, RotatesThroughTheRingAndStartsAfterTheNewest)
{
    ScratchDir dir;
    Core core;
    // Absolute: the first index is chosen at configuration, before a base directory is set.
    const std::string target =
        fileTarget("cyclicFiles", "<cyclicFiles pathMask='" + dir.file("c%d.log") + "' maxFiles='3' maxLines='2'/>");
    ASSERT_EQ(startIn(core, dir, target), 1);
    for (int i = 1; i <= 7; ++i)
        LOGT(core, 3, "line %d\n", i);
    EXPECT_EQ(ReadTextFile(dir.file("c1.log")), "line 3\nline 4\n");
    EXPECT_EQ(ReadTextFile(dir.file("c2.log")), "line 5\nline 6\n");
    EXPECT_EQ(ReadTextFile(dir.file("c0.log")), "line 7\n");
    EXPECT_EQ(filesIn(dir.path()), (std::vector<std::string>{"c0.log", "c1.log", "c2.log"}));
    ASSERT_EQ(startIn(core, dir, target), 1);
    LOGT(core, 3, "next run\n");
    EXPECT_EQ(ReadTextFile(dir.file("c1.log")), "next run\n");

    // First index after the newest file; on equal times the lowest index counts as newest.
    const auto now = std::filesystem::file_time_type::clock::now();
    std::filesystem::remove(dir.file("c2.log"));
    std::filesystem::last_write_time(dir.file("c0.log"), now);
    std::filesystem::last_write_time(dir.file("c1.log"), now - std::chrono::hours(1));
    Xml::Node* element = Xml::Node::make("cyclicFiles");
    element->setAttribute("pathMask", "c%d.log");
    element->setAttribute("maxFiles", "3");
    const auto firstIndex = [&]() {
        Sender2CyclicFiles ring(&core);
        ring.configure(0, element, nullptr);
        return ring.fileIndex;
    };
    EXPECT_EQ(firstIndex(), 1);
    std::filesystem::last_write_time(dir.file("c1.log"), now);
    EXPECT_EQ(firstIndex(), 1);
    dir.write("c2.log", "old2\n");
    std::filesystem::last_write_time(dir.file("c2.log"), now + std::chrono::hours(1));
    EXPECT_EQ(firstIndex(), 0);
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
    for (const char* good : {"c%d.log", "c%02d.log", "100%%_%-3x", "%hhu"})
        EXPECT_TRUE(isSingleIntFormat(good)) << good;
    for (const char* bad :
         {"c.log", "c%s.log", "c%d%d.log", "c%ld.log", "c%*d.log", "c%.*d.log", "c%'d.log", "c%n.log", "c%", "%1$d"})
        EXPECT_FALSE(isSingleIntFormat(bad)) << bad;
    ScratchDir dir;
    Core core;
    ASSERT_EQ(
        startIn(core, dir,
                fileTarget("cyclicFiles", "<cyclicFiles pathMask='c%s%s%s.log'/>") + fileTarget("cyclicFiles", "")),
        1);
    LOGT(core, 3, "nowhere\n");
    EXPECT_TRUE(filesIn(dir.path()).empty());
    // Placeholders come first; a wide conversion is cut to the bounded buffer, never written past it.
    ASSERT_EQ(startIn(core, dir,
                      fileTarget("cyclicFiles", "<cyclicFiles pathMask='*_%03d' maxLines='1'/>") +
                          fileTarget("cyclicFiles", "<cyclicFiles pathMask='w%040d'/>")),
              1);
    LOGT(core, 3, "a\n");
    LOGT(core, 3, "b\n");
    EXPECT_EQ(ReadTextFile(dir.file("vexlink_001")), "b\n");
    EXPECT_EQ(ReadTextFile(dir.file("w" + std::string(24, '0'))), "a\nb\n");
}
