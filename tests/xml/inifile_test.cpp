#include "xml/inifile.h"

#include "scratchdir.h"

using TempDir = ScratchDir;

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include <sys/stat.h>
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

std::vector<std::string> sectionNames(const IniFile& ini)
{
    std::vector<std::string> out;
    for (const Ini::Section* s = ini.firstSection(); s; s = s->next())
        out.push_back(s->name());
    return out;
}

std::string error(const IniFile& ini)
{
    return ini.errorText().c_str();
}

} // namespace

TEST(IniRead, SectionsItemsAndComments)
{
    IniFile ini("test.ini", IniFile::kModeLast);
    ASSERT_TRUE(ini.load("top = 1\n"
                         "# comment\n"
                         "  * star comment\n"
                         "; semicolon\n"
                         "-- dashes\n"
                         "// slashes\n"
                         "\t\n"
                         "[ Global ] anything after the bracket\n"
                         "  MSGLEVEL\t=  3  \n"
                         "path=C:/x/y#comment\n"
                         "[second]\n"
                         "a=b=c\n"
                         "empty=\n"
                         "[GLOBAL]\n"
                         "again = yes"));
    EXPECT_EQ(sectionNames(ini), (std::vector<std::string>{"", "Global", "second"}));
    EXPECT_EQ(value(ini, "", "top"), "1");
    EXPECT_EQ(value(ini, nullptr, "top"), "1");
    EXPECT_EQ(value(ini, "Global", "MSGLEVEL"), "3");
    EXPECT_EQ(value(ini, "global", "msglevel"), "3");
    EXPECT_EQ(value(ini, "Global", "path"), "C:/x/y");
    EXPECT_EQ(value(ini, "second", "a"), "b=c");
    EXPECT_EQ(value(ini, "second", "empty"), "");
    // A second header of the same name (any case) reopens the section.
    EXPECT_EQ(value(ini, "Global", "again"), "yes");
    EXPECT_EQ(value(ini, "*", "again"), "yes");
    EXPECT_EQ(value(ini, "nosuch", "a"), "<none>");
    EXPECT_EQ(error(ini), "");
    // Case-sensitive look-ups.
    EXPECT_EQ(value(ini, "Global", "MSGLEVEL", true), "3");
    EXPECT_EQ(value(ini, "Global", "msglevel", true), "<none>");
    EXPECT_EQ(value(ini, "GLOBAL", "MSGLEVEL", true), "<none>");
}

TEST(IniRead, LookupMarksUse)
{
    IniFile ini("t.ini", IniFile::kModeLast);
    ASSERT_TRUE(ini.load("[a]\nx=1\n[b]\nx=2\ny=3\n"));
    Ini::Item* any = ini.find("*", "x", false);
    ASSERT_NE(any, nullptr);
    EXPECT_STREQ(any->value(), "1"); // first section in file order
    EXPECT_TRUE(any->used());
    Ini::Section* b = ini.firstSection()->next();
    EXPECT_FALSE(b->used());
    ASSERT_NE(ini.find("B", "Y", false), nullptr);
    EXPECT_TRUE(b->used());
    EXPECT_TRUE(b->firstItem()->next()->used());
    EXPECT_FALSE(b->firstItem()->used());
}

TEST(IniRead, QuotedValuesAndTrailingText)
{
    IniFile ini("q.ini", IniFile::kModeLast);
    ASSERT_TRUE(ini.load("a = 'it''s'\n"
                         "b = \"say \"\"hi\"\"\"\n"
                         "c = 'open to the end   \n"
                         "d = x #comment\n"
                         "e = 'q w' # comment\n"
                         "f = \"a # b\"\n"
                         "g = '' \n"
                         "h = 'x'\r\n"));
    EXPECT_EQ(value(ini, "", "a"), "it's");
    EXPECT_EQ(value(ini, "", "b"), "say \"hi\"");
    EXPECT_EQ(value(ini, "", "c"), "open to the end");
    EXPECT_EQ(value(ini, "", "d"), "x");
    EXPECT_EQ(value(ini, "", "e"), "q w");
    EXPECT_EQ(value(ini, "", "f"), "a # b");
    EXPECT_EQ(value(ini, "", "g"), "");
    EXPECT_EQ(value(ini, "", "h"), "x");

    IniFile semicolon("q.ini", IniFile::kModeLast);
    EXPECT_FALSE(semicolon.load("ok = 1\nd = x ;comment\nlater = 2\n"));
    EXPECT_EQ(error(semicolon), "q.ini (2): illegal trailing characters\n");
    // Lines after the first bad one are only counted.
    EXPECT_EQ(value(semicolon, "", "later"), "<none>");
    EXPECT_EQ(value(semicolon, "", "ok"), "1");
    EXPECT_EQ(semicolon.lineNumber(), 3);

    IniFile blank("q.ini", IniFile::kModeLast);
    EXPECT_FALSE(blank.load("v = two words"));
    EXPECT_EQ(error(blank), "q.ini (1): illegal trailing characters\n");
    IniFile quoted("q.ini", IniFile::kModeLast);
    EXPECT_FALSE(quoted.load("v = 'a' b"));
    EXPECT_EQ(error(quoted), "q.ini (1): illegal trailing characters\n");
}

TEST(IniRead, LineErrors)
{
    struct Case {
        const char* text;
        const char* error;
    };
    const Case cases[] = {
        {"[a]\njust text\n", "e.ini (2): no assignment\n"},
        {"\n\n = 5\n", "e.ini (3): empty item name\n"},
        {"[open\nx=1\n", "e.ini (1): unclosed section name\n"},
        {"__include__ = \n", "e.ini (1): empty path for inclusion\n"},
        {"a=1\n[s]\nbad\nalso bad =\n", "e.ini (3): no assignment\n"},
    };
    for (const Case& c : cases) {
        IniFile ini("e.ini", IniFile::kModeLast);
        EXPECT_FALSE(ini.load(c.text)) << c.text;
        EXPECT_EQ(error(ini), c.error) << c.text;
    }
}

TEST(IniRead, DuplicateModes)
{
    const char* text = "[s]\nk=first\nK=second\nk = third\n[t]\nk=other\n";
    IniFile first("d.ini", IniFile::kModeFirst);
    ASSERT_TRUE(first.load(text));
    EXPECT_EQ(value(first, "s", "k"), "first");
    EXPECT_EQ(values(first, "s", "k"), (std::vector<std::string>{"first"}));

    IniFile last("d.ini", IniFile::kModeLast);
    ASSERT_TRUE(last.load(text));
    EXPECT_EQ(value(last, "s", "k"), "third");
    EXPECT_EQ(value(last, "*", "k"), "third");

    IniFile err("d.ini", IniFile::kModeError);
    EXPECT_FALSE(err.load(text));
    EXPECT_EQ(error(err), "d.ini (3): duplicate item or section\n");
    EXPECT_EQ(value(err, "s", "k"), "first");

    IniFile list("d.ini", IniFile::kModeList);
    ASSERT_TRUE(list.load(text));
    EXPECT_EQ(value(list, "s", "k"), "first");
    EXPECT_EQ(values(list, "s", "k"), (std::vector<std::string>{"first", "second", "third"}));
    EXPECT_EQ(values(list, "t", "k"), (std::vector<std::string>{"other"}));
    // Every duplicate is also an item of the section, in file order.
    int items = 0;
    for (const Ini::Item* i = list.firstSection()->firstItem(); i; i = i->next())
        ++items;
    EXPECT_EQ(items, 3);
    // Case-sensitive: the duplicate written that way.
    EXPECT_EQ(value(list, "s", "K", true), "second");

    // A reload starts from scratch.
    ASSERT_TRUE(list.load("[s]\nk=only\n"));
    EXPECT_EQ(values(list, "s", "k"), (std::vector<std::string>{"only"}));
    EXPECT_EQ(value(list, "t", "k"), "<none>");
}

TEST(IniFiles, IncludesByteOrderMarkAndFileList)
{
    TempDir dir;
    const std::string inc = dir.write("inc.ini", "inherited = 1\n[New]\nfromInclude = 2\n");
    const std::string main = dir.write("main.ini", "\xEF\xBB\xBF[Old]\r\nbefore = a\r\n__INCLUDE__ = " + inc +
                                                       "\r\nafter = b\r\n");
    IniFile ini(main.c_str(), IniFile::kModeLast);
    ASSERT_TRUE(ini.load()) << error(ini);
    EXPECT_EQ(sectionNames(ini), (std::vector<std::string>{"Old", "New"}));
    EXPECT_EQ(value(ini, "Old", "before"), "a");
    EXPECT_EQ(value(ini, "Old", "inherited"), "1"); // continues the current section
    EXPECT_EQ(value(ini, "New", "fromInclude"), "2");
    EXPECT_EQ(value(ini, "New", "after"), "b"); // and the include's section goes on
    EXPECT_STREQ(ini.path().c_str(), main.c_str());

    // Newest first, each with its modification time.
    ASSERT_EQ(ini.fileInfo().count(), 2);
    const auto* newest = ini.fileInfo().first();
    EXPECT_STREQ(newest->path(), inc.c_str());
    EXPECT_STREQ(newest->next()->path(), main.c_str());
    struct stat st;
    ASSERT_EQ(stat(inc.c_str(), &st), 0);
    EXPECT_EQ(newest->modified(), static_cast<int64_t>(st.st_mtime));

    // A relative include is taken against the current directory.
    const std::string rel = dir.write("rel.ini", "__include__ = inc.ini\n");
    {
        ChangeDir cd(dir.path());
        IniFile relative(rel.c_str(), IniFile::kModeLast);
        ASSERT_TRUE(relative.load()) << error(relative);
        EXPECT_EQ(value(relative, "New", "fromInclude"), "2");
    }
}

TEST(IniFiles, MissingFiles)
{
    TempDir dir;
    const std::string missing = dir.path() + "/missing.ini";
    IniFile ini(missing.c_str(), IniFile::kModeList);
    EXPECT_FALSE(ini.load());
    EXPECT_EQ(error(ini), missing + " (0): file not found\n");
    ASSERT_EQ(ini.fileInfo().count(), 1);
    EXPECT_EQ(ini.fileInfo().first()->modified(), 0);
    EXPECT_EQ(ini.firstSection(), nullptr);

    const std::string main = dir.write("m.ini", "a=1\n__INCLUDE__=" + missing + "\nb=2\n");
    IniFile inc(main.c_str(), IniFile::kModeList);
    EXPECT_FALSE(inc.load());
    EXPECT_EQ(error(inc), missing + " (0): file not found\n");
    EXPECT_EQ(value(inc, "", "a"), "1");
    EXPECT_EQ(value(inc, "", "b"), "<none>");
    EXPECT_STREQ(inc.path().c_str(), main.c_str());

    // An empty file has no items but is no error.
    const std::string empty = dir.write("empty.ini", "");
    IniFile e(empty.c_str(), IniFile::kModeList);
    EXPECT_TRUE(e.load());
}

TEST(IniFiles, IncludeCyclesAreRefused)
{
    TempDir dir;
    const std::string a = dir.file("a.ini");
    const std::string b = dir.file("b.ini");
    dir.write("a.ini", "[A]\nx=1\n__INCLUDE__=" + b + "\ny=2\n");
    dir.write("b.ini", "[B]\nz=3\n\n__INCLUDE__=" + a + "\nw=4\n");
    IniFile ini(a.c_str(), IniFile::kModeList);
    EXPECT_FALSE(ini.load());
    EXPECT_EQ(error(ini), b + " (4): include cycle\n");
    EXPECT_EQ(value(ini, "A", "x"), "1");
    EXPECT_EQ(value(ini, "B", "z"), "3");
    EXPECT_EQ(value(ini, "B", "w"), "<none>");
    EXPECT_EQ(value(ini, "*", "y"), "<none>");

    // A file that includes itself, and one reached through a hard link.
    const std::string self = dir.write("self.ini", "__INCLUDE__ = self.ini\n");
    {
        ChangeDir cd(dir.path());
        IniFile s(self.c_str(), IniFile::kModeList);
        EXPECT_FALSE(s.load());
        EXPECT_EQ(error(s), self + " (1): include cycle\n");
    }
    const std::string target = dir.file("target.ini");
    const std::string linked = dir.file("linked.ini");
    dir.write("target.ini", "__INCLUDE__ = " + linked + "\n");
    ASSERT_EQ(link(target.c_str(), linked.c_str()), 0);
    IniFile l(target.c_str(), IniFile::kModeList);
    EXPECT_FALSE(l.load());
    EXPECT_EQ(error(l), target + " (1): include cycle\n");

    // Reading the same file twice in a row (not nested) is no cycle.
    const std::string twice = dir.write("twice.ini", "__INCLUDE__=" + b + "\n__INCLUDE__=" + b + "\n");
    dir.write("b.ini", "k=v\n");
    IniFile t(twice.c_str(), IniFile::kModeList);
    EXPECT_TRUE(t.load()) << error(t);
    EXPECT_EQ(values(t, "", "k"), (std::vector<std::string>{"v", "v"}));
}

TEST(IniFiles, IncludeDepthIsBounded)
{
    TempDir dir;
    const int files = IniFile::kMaxIncludeDepth + 5;
    std::vector<std::string> paths;
    for (int i = 0; i < files; ++i)
        paths.push_back(dir.file("f" + std::to_string(i) + ".ini"));
    for (int i = 0; i < files; ++i) {
        const std::string body = "v" + std::to_string(i) + "=1\n" +
                                 (i + 1 < files ? "__INCLUDE__=" + paths[static_cast<size_t>(i) + 1] + "\n" : "");
        std::ofstream(paths[static_cast<size_t>(i)]) << body;
    }
    IniFile ini(paths[0].c_str(), IniFile::kModeList);
    EXPECT_FALSE(ini.load());
    EXPECT_EQ(error(ini), paths[static_cast<size_t>(IniFile::kMaxIncludeDepth) - 1] + " (2): include nesting too deep\n");
    EXPECT_EQ(value(ini, "", "v0"), "1");
}

TEST(IniRobustness, HugeInputWithManyDuplicates)
{
    // Many items and many duplicates stay fast (a hang guard, not a speed target).
    std::string big = "[s]\n";
    for (int i = 0; i < 100000; ++i)
        big += "k" + std::to_string(i) + " = v\ndup = " + std::to_string(i) + "\n";
    IniFile ini("big.ini", IniFile::kModeList);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(ini.load(big.c_str()));
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 60.0);
    const std::vector<std::string> dups = values(ini, "s", "dup");
    ASSERT_EQ(dups.size(), 100000u);
    EXPECT_EQ(dups.back(), "99999");
    EXPECT_EQ(value(ini, "S", "K99999"), "v");
}
