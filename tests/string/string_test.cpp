#include "string/string.h"

#include "scratchdir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include <sys/stat.h>

namespace {

std::string text(const String& s)
{
    return s.isNull() ? std::string("<null>") : std::string(s.data(), static_cast<size_t>(s.length()));
}

} // namespace

TEST(StringBasics, NullAndEmptyAreDistinct)
{
    String none;
    EXPECT_TRUE(none.isNull());
    EXPECT_EQ(none.size(), 0);
    EXPECT_EQ(none.capacity(), 0);
    EXPECT_STREQ(none.c_str(), "");

    String fromNull(static_cast<const char*>(nullptr));
    EXPECT_TRUE(fromNull.isNull());

    String empty("");
    EXPECT_FALSE(empty.isNull());
    EXPECT_EQ(empty.size(), 1);
    EXPECT_EQ(empty.length(), 0);

    String s("abc");
    s = "";
    EXPECT_FALSE(s.isNull());
    EXPECT_EQ(s.size(), 1);
    s = static_cast<const char*>(nullptr);
    EXPECT_TRUE(s.isNull());
    EXPECT_EQ(s.size(), 0);
    EXPECT_EQ(s.capacity(), 0);

    // Copies and assignment keep the distinction.
    String copyOfNull(none);
    EXPECT_TRUE(copyOfNull.isNull());
    String copyOfEmpty(empty);
    EXPECT_FALSE(copyOfEmpty.isNull());
    String target("xyz");
    target = none;
    EXPECT_TRUE(target.isNull());

    // Sized construction: n bytes, n below 1 gives null.
    String sized(5);
    EXPECT_EQ(sized.size(), 5);
    EXPECT_EQ(sized.capacity(), 5);
    EXPECT_TRUE(String(0).isNull());
    EXPECT_TRUE(String(-3).isNull());

    // Negative byte count makes the string null.
    String b("abc");
    b.assign("x", -1);
    EXPECT_TRUE(b.isNull());
}

TEST(StringBasics, AppendRules)
{
    String s;
    s.append("abc");
    EXPECT_EQ(text(s), "abc");

    String n;
    n.append(String(""));
    EXPECT_TRUE(n.isNull());
    n.append(String());
    EXPECT_TRUE(n.isNull());
    n.append("");
    EXPECT_TRUE(n.isNull());

    String t("ab");
    t.append(String(""));
    EXPECT_EQ(text(t), "ab");
    t.append('c').append(-42).append(String("!"));
    EXPECT_EQ(text(t), "abc-42!");

    // Appending the string to itself, and a piece of its own buffer, even
    // though growing moves the buffer.
    String self("0123456789");
    self.append(self);
    EXPECT_EQ(text(self), "01234567890123456789");
    String part("hello");
    part.append(part.data() + 1, 3);
    EXPECT_EQ(text(part), "helloell");

    String nullTarget;
    String src("xyz");
    nullTarget.append(src);
    EXPECT_EQ(text(nullTarget), "xyz");
    EXPECT_EQ(nullTarget.size(), src.size());
}

TEST(StringBasics, SelfAssignmentAndOwnRanges)
{
    String s("hello world");
    const String& alias = s;
    s = alias;
    EXPECT_EQ(text(s), "hello world");
    s = s.data();
    EXPECT_EQ(text(s), "hello world");

    s.assign(s.data() + 6, 5);
    EXPECT_EQ(text(s), "world");

    // A range that covers the whole allocation needs one byte more for the
    // NUL: the buffer grows (and may move) before the bytes are moved.
    String full(4);
    ASSERT_EQ(full.capacity(), 4);
    std::memcpy(full.data(), "wxyz", 4);
    full.assign(full.data(), full.capacity());
    EXPECT_EQ(text(full), "wxyz");
    EXPECT_EQ(full.size(), 5);

    String c("long text");
    c = 'q';
    EXPECT_EQ(text(c), "q");
    EXPECT_EQ(c.size(), 2);
}

TEST(StringDeathTest, RangeBeyondOwnCapacityAborts)
{
    EXPECT_DEATH(
        {
            String s("abcdef");
            s.assign(s.data() + 3, 10);
        },
        "String out of range");
}

TEST(StringDeathTest, CheckCatchesTextBeyondSize)
{
    EXPECT_DEATH(
        {
            String s("abcdef");
            s.resize(3); // the text now runs past the used size
            s.check();
        },
        "Internal: string exceeds allocated memory");
    String ok("abc");
    ok.check();
    String none;
    none.check();
}

TEST(StringText, FitAndNumber)
{
    String a("abc");
    a.fit(5, ' ');
    EXPECT_EQ(text(a), "abc  ");
    String b("abcdefg");
    b.fit(5, ' ');
    EXPECT_EQ(text(b), "abcde");
    String c("abc");
    c.fit(0, ' ');
    EXPECT_EQ(text(c), "");
    String d;
    d.fit(3, '.');
    EXPECT_EQ(text(d), "...");

    String n;
    EXPECT_EQ(text(n.number(7, 3)), "007");
    EXPECT_EQ(text(n.number(12345, 3)), "345");
    EXPECT_EQ(text(n.number(-1, 4)), "0001");
    EXPECT_EQ(text(n.number(5, 0)), "");
    n.number(42, 150);
    EXPECT_EQ(n.length(), 100);
    EXPECT_EQ(std::string(n.data()).substr(98), "42");
}

TEST(StringText, ReplaceFirstAndAll)
{
    String s;
    s.replaceFirst("log_*_*.txt", "*", "vexlink");
    EXPECT_EQ(text(s), "log_vexlink_*.txt");
    String all("log_*_*.txt");
    all.replaceAll("*", "vexlink");
    EXPECT_EQ(text(all), "log_vexlink_vexlink.txt");

    s.replaceFirst("a*b", "*", nullptr);
    EXPECT_EQ(text(s), "ab");
    s.replaceFirst("abc", "zz", "y");
    EXPECT_EQ(text(s), "abc");
    s.replaceFirst("abc", nullptr, "y");
    EXPECT_EQ(text(s), "abc");

    // The source may be the string's own text.
    String own("a-b-c");
    own.replaceFirst(own.data(), "-", "+++");
    EXPECT_EQ(text(own), "a+++b-c");

    // A replacement holding the needle is not scanned again.
    String grow("xax");
    grow.replaceAll("x", "xx");
    EXPECT_EQ(text(grow), "xxaxx");
    String shrink("aaaa");
    shrink.replaceAll("aa", "a");
    EXPECT_EQ(text(shrink), "aa");
    String untouched("abc");
    untouched.replaceAll("", "x");
    EXPECT_EQ(text(untouched), "abc");
}

TEST(StringText, TrimAndCompare)
{
    String s(" \t abc \t ");
    s.trim();
    EXPECT_EQ(text(s), "abc");
    String blanks(" \t\t  ");
    blanks.trim();
    EXPECT_FALSE(blanks.isNull());
    EXPECT_EQ(blanks.length(), 0);
    String inner("a b");
    inner.trim();
    EXPECT_EQ(text(inner), "a b");
    String none;
    none.trim();
    EXPECT_TRUE(none.isNull());

    EXPECT_EQ(String("ABC").compareNoCase("abc"), 0);
    EXPECT_EQ(String("abd").compareNoCase("ABC"), 1);
    EXPECT_EQ(String("ab").compareNoCase("ABC"), -1);
    EXPECT_EQ(String().compareNoCase(""), 0);
    EXPECT_EQ(String("a").compareNoCase(static_cast<const char*>(nullptr)), 1);
    // Only ASCII capitals fold: the Latin-1 A umlaut (0xC4) and a umlaut (0xE4) differ.
    EXPECT_EQ(String("\xC4").compareNoCase("\xE4"), -1);
    // Bytes above 127 sort above ASCII (unsigned comparison).
    EXPECT_EQ(String("\xE4").compareNoCase("z"), 1);
}

TEST(StringPrintf, FormatsAtEverySize)
{
    String s;
    EXPECT_TRUE(s.printf("%s=%d", "level", 3));
    EXPECT_EQ(text(s), "level=3");
    EXPECT_EQ(s.size(), 8);
    EXPECT_GE(s.capacity(), 100);

    // Lengths around the first sizes tried (100 bytes and the doublings),
    // with several string arguments so that every try must start again from
    // the first argument.
    for (int len : {98, 99, 100, 101, 199, 200, 201, 3000, 51199, 51200}) {
        const std::string a(static_cast<size_t>(len / 3), 'a');
        const std::string b(static_cast<size_t>(len / 3), 'b');
        const std::string c(static_cast<size_t>(len - 2 * (len / 3)), 'c');
        String out;
        ASSERT_TRUE(out.printf("%s%s%s", a.c_str(), b.c_str(), c.c_str())) << len;
        EXPECT_EQ(text(out), a + b + c) << len;
        EXPECT_EQ(out.size(), len + 1);
        out.check();
    }
}

TEST(StringPrintf, TooLongLeavesValidText)
{
    const std::string big(60000, 'x');
    String s("before");
    EXPECT_FALSE(s.printf("%s-%d", big.c_str(), 5));
    ASSERT_FALSE(s.isNull());
    const size_t len = std::strlen(s.data());
    EXPECT_EQ(static_cast<int32_t>(len), s.length());
    EXPECT_LT(len, 51200u);
    EXPECT_EQ(std::string(s.data()), big.substr(0, len));
    s.check();
}

TEST(StringPrintf, LegacyBoundedConvention)
{
    char buf[8];
    std::memset(buf, '#', sizeof(buf));
    EXPECT_EQ(legacySnprintf(buf, 8, "%s", "abc"), 3);
    EXPECT_STREQ(buf, "abc");
    // Exactly the size: the size comes back (no room for the NUL) ...
    EXPECT_EQ(legacySnprintf(buf, 8, "%s", "abcdefgh"), 8);
    EXPECT_EQ(buf[7], '\0');
    // ... longer: -1, and the buffer still ends in a NUL.
    EXPECT_EQ(legacySnprintf(buf, 8, "%d%s", 12345, "6789"), -1);
    EXPECT_STREQ(buf, "1234567");
    EXPECT_EQ(legacySnprintf(buf, 0, "%s", "a"), -1);
}

TEST(StringFiles, ReadFileModes)
{
    ScratchDir dir;
    const std::string crlf = dir.write("crlf.txt", "a\r\nb\r\n\rc\r");
    String s;
    int64_t mtime = -1;
    ASSERT_TRUE(s.readFile(crlf.c_str(), false, &mtime));
    EXPECT_EQ(text(s), "a\r\nb\r\n\rc\r");
    struct stat st;
    ASSERT_EQ(stat(crlf.c_str(), &st), 0);
    EXPECT_EQ(mtime, static_cast<int64_t>(st.st_mtime));

    ASSERT_TRUE(s.readFile(crlf.c_str(), true, nullptr));
    EXPECT_EQ(text(s), "a\nb\n\rc\r"); // only CRs before LFs go

    const std::string binary = dir.write("bin.dat", std::string("x\0y\0", 4));
    ASSERT_TRUE(s.readFile(binary.c_str(), false, nullptr));
    EXPECT_EQ(s.size(), 5);
    EXPECT_EQ(std::string(s.data(), 4), std::string("x\0y\0", 4));

    const std::string empty = dir.write("empty.txt", "");
    ASSERT_TRUE(s.readFile(empty.c_str(), true, &mtime));
    EXPECT_FALSE(s.isNull());
    EXPECT_EQ(s.length(), 0);

    mtime = 99;
    EXPECT_FALSE(s.readFile((dir.path() + "/missing").c_str(), true, &mtime));
    EXPECT_TRUE(s.isNull());
    EXPECT_EQ(mtime, 0);
    EXPECT_FALSE(s.readFile(dir.path().c_str(), true, &mtime)); // a directory
    EXPECT_TRUE(s.isNull());
    EXPECT_FALSE(s.readFile(nullptr, true, &mtime));
}
