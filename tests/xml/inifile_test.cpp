#include "xml/inifile.h"

#include "scratchdir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include <unistd.h>

using Ini::IniFile;

namespace {

std::string value(IniFile& ini, const char* section, const char* item, bool caseSensitive = false)
{
    const Ini::Item* i = ini.find(section, item, caseSensitive);
    return i ? std::string(i->value()) : std::string("<none>");
}

std::vector<std::string> values(IniFile& ini, const char* section, const char* item)
{
    std::vector<std::string> out;
    for (const Ini::Item* i = ini.find(section, item, false); i; i = i->nextDuplicate())
        out.push_back(i->value());
    return out;
}

std::string error(const IniFile& ini)
{
    return ini.errorText().c_str();
}

} // namespace

TEST(IniRead, SectionsCommentsQuotesAndLookup)
{
    IniFile ini("test.ini", IniFile::kModeLast);
    ASSERT_TRUE(ini.load("top = 1\n# c\n  * c\n; c\n-- c\n// c\n\t\n[ Global ] anything after the bracket\n"
                         "  MSGLEVEL\t=  3  \npath=C:/x/y#comment\n[second]\na=b=c\nempty=\n[GLOBAL]\nagain = yes\n"
                         "q1 = 'it''s'\nq2 = \"say \"\"hi\"\"\"\nq3 = 'open to the end   \nq4 = 'q w' # c\n"
                         "q5 = \"a # b\"\nq6 = 'x'\r\n"));
    const std::vector<std::vector<const char*>> cases = {
        {"", "top", "1"},
        {"global", "msglevel", "3"},
        {"Global", "path", "C:/x/y"},
        {"second", "a", "b=c"},
        {"second", "empty", ""},
        {"Global", "again", "yes"},
        {"*", "again", "yes"},
        {"nosuch", "a", "<none>"},
        {"Global", "q1", "it's"},
        {"Global", "q2", "say \"hi\""},
        {"Global", "q3", "open to the end"},
        {"Global", "q4", "q w"},
        {"Global", "q5", "a # b"},
        {"Global", "q6", "x"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(value(ini, c[0], c[1]), c[2]) << c[0] << "/" << c[1];
    EXPECT_EQ(value(ini, "Global", "MSGLEVEL", true), "3");
    EXPECT_EQ(value(ini, "Global", "msglevel", true), "<none>");
    // "*" searches the sections in file order.
    IniFile order("t.ini", IniFile::kModeLast);
    ASSERT_TRUE(order.load("[a]\nx=1\n[b]\nx=2\n"));
    EXPECT_STREQ(order.find("*", "x", false)->value(), "1");
}

TEST(IniRead, LineErrorsStopReading)
{
    const std::vector<std::pair<const char*, const char*>> cases = {
        {"[a]\njust text\n", "e.ini (2): no assignment\n"},
        {"\n\n = 5\n", "e.ini (3): empty item name\n"},
        {"[open\nx=1\n", "e.ini (1): unclosed section name\n"},
        {"__include__ = \n", "e.ini (1): empty path for inclusion\n"},
        {"ok = 1\nd = x ;comment\nlater = 2\n", "e.ini (2): illegal trailing characters\n"},
        {"v = two words", "e.ini (1): illegal trailing characters\n"},
        {"v = 'a' b", "e.ini (1): illegal trailing characters\n"},
    };
    for (const auto& c : cases) {
        IniFile ini("e.ini", IniFile::kModeLast);
        EXPECT_FALSE(ini.load(c.first)) << c.first;
        EXPECT_EQ(error(ini), c.second) << c.first;
        EXPECT_EQ(value(ini, "", "later"), "<none>"); // lines after the first bad one are not read
    }
}

TEST(IniRead, DuplicateModes)
{
    const char* text = "[s]\nk=first\nK=second\nk = third\n[t]\nk=other\n";
    const std::vector<std::pair<int, std::vector<std::string>>> cases = {
        {IniFile::kModeFirst, {"first"}},
        {IniFile::kModeLast, {"third"}},
        {IniFile::kModeError, {"first"}},
        {IniFile::kModeList, {"first", "second", "third"}},
    };
    for (const auto& c : cases) {
        IniFile ini("d.ini", c.first);
        EXPECT_EQ(ini.load(text), c.first != IniFile::kModeError);
        EXPECT_EQ(values(ini, "s", "k"), c.second) << c.first;
        EXPECT_EQ(value(ini, "t", "k"), c.first == IniFile::kModeError ? "<none>" : "other");
    }
    IniFile err("d.ini", IniFile::kModeError);
    err.load(text);
    EXPECT_EQ(error(err), "d.ini (3): duplicate item or section\n");
    IniFile list("d.ini", IniFile::kModeList);
    ASSERT_TRUE(list.load(text));
    EXPECT_EQ(value(list, "s", "K", true), "second");
    ASSERT_TRUE(list.load("[s]\nk=only\n")); // a reload starts from scratch
    EXPECT_EQ(values(list, "s", "k"), (std::vector<std::string>{"only"}));
    EXPECT_EQ(value(list, "t", "k"), "<none>");
}

TEST(IniFiles, IncludesByteOrderMarkAndMissingFiles)
{
    ScratchDir dir;
    const std::string inc = dir.write("inc.ini", "inherited = 1\n[New]\nfromInclude = 2\n");
    const std::string main =
        dir.write("main.ini", "\xEF\xBB\xBF[Old]\r\nbefore = a\r\n__INCLUDE__ = " + inc + "\r\nafter = b\r\n");
    IniFile ini(main.c_str(), IniFile::kModeLast);
    ASSERT_TRUE(ini.load()) << error(ini);
    EXPECT_EQ(value(ini, "Old", "before"), "a");
    EXPECT_EQ(value(ini, "Old", "inherited"), "1"); // continues the current section
    EXPECT_EQ(value(ini, "New", "after"), "b");     // and the include's section goes on
    {
        ChangeDir cd(dir.path()); // a relative include is taken against the current directory
        IniFile relative(dir.write("rel.ini", "__include__ = inc.ini\n").c_str(), IniFile::kModeLast);
        ASSERT_TRUE(relative.load()) << error(relative);
        EXPECT_EQ(value(relative, "New", "fromInclude"), "2");
    }
    const std::string missing = dir.file("missing.ini");
    IniFile none(missing.c_str(), IniFile::kModeList);
    EXPECT_FALSE(none.load());
    EXPECT_EQ(error(none), missing + " (0): file not found\n");
    IniFile inc2(dir.write("m.ini", "a=1\n__INCLUDE__=" + missing + "\nb=2\n").c_str(), IniFile::kModeList);
    EXPECT_FALSE(inc2.load());
    EXPECT_EQ(error(inc2), missing + " (0): file not found\n");
    EXPECT_EQ(value(inc2, "", "a"), "1");
    EXPECT_EQ(value(inc2, "", "b"), "<none>");
    IniFile empty(dir.write("empty.ini", "").c_str(), IniFile::kModeList);
    EXPECT_TRUE(empty.load());
}

TEST(IniFiles, IncludeCyclesAndDepthAreRefused)
{
    ScratchDir dir;
    const std::string a = dir.file("a.ini"), b = dir.file("b.ini");
    dir.write("a.ini", "[A]\nx=1\n__INCLUDE__=" + b + "\ny=2\n");
    dir.write("b.ini", "[B]\nz=3\n\n__INCLUDE__=" + a + "\nw=4\n");
    IniFile ini(a.c_str(), IniFile::kModeList);
    EXPECT_FALSE(ini.load());
    EXPECT_EQ(error(ini), b + " (4): include cycle\n");
    EXPECT_EQ(value(ini, "B", "z"), "3");
    EXPECT_EQ(value(ini, "*", "y"), "<none>");
    {
        ChangeDir cd(dir.path());
        const std::string self = dir.write("self.ini", "__INCLUDE__ = self.ini\n");
        IniFile s(self.c_str(), IniFile::kModeList);
        EXPECT_FALSE(s.load());
        EXPECT_EQ(error(s), self + " (1): include cycle\n");
    }
    const std::string target = dir.write("target.ini", "__INCLUDE__ = " + dir.file("linked.ini") + "\n");
    std::filesystem::create_hard_link(target, dir.file("linked.ini")); // the same file under two names
    IniFile l(target.c_str(), IniFile::kModeList);
    EXPECT_FALSE(l.load());
    EXPECT_EQ(error(l), target + " (1): include cycle\n");
    dir.write("b.ini", "k=v\n"); // the same file twice in a row, not nested, is no cycle
    IniFile t(dir.write("twice.ini", "__INCLUDE__=" + b + "\n__INCLUDE__=" + b + "\n").c_str(), IniFile::kModeList);
    EXPECT_TRUE(t.load()) << error(t);
    EXPECT_EQ(values(t, "", "k"), (std::vector<std::string>{"v", "v"}));

    const int files = IniFile::kMaxIncludeDepth + 5;
    for (int i = 0; i < files; ++i)
        dir.write("f" + std::to_string(i) + ".ini",
                  "v" + std::to_string(i) + "=1\n__INCLUDE__=" + dir.file("f" + std::to_string(i + 1) + ".ini") + "\n");
    IniFile deep(dir.file("f0.ini").c_str(), IniFile::kModeList);
    EXPECT_FALSE(deep.load());
    EXPECT_EQ(error(deep), dir.file("f" + std::to_string(IniFile::kMaxIncludeDepth - 1) + ".ini") +
                               " (2): include nesting too deep\n");
}

TEST(IniRobustness, HugeInputWithManyDuplicates)
{
    std::string big = "[s]\n";
    for (int i = 0; i < 100000; ++i)
        big += "k" + std::to_string(i) + " = v\ndup = " + std::to_string(i) + "\n";
    IniFile ini("big.ini", IniFile::kModeList);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(ini.load(big.c_str()));
    // A hang guard against quadratic duplicate handling, not a speed target.
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 60.0);
    EXPECT_EQ(values(ini, "s", "dup").size(), 100000u);
    EXPECT_EQ(value(ini, "S", "K99999"), "v");
}
