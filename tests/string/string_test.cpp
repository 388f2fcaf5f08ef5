#include "string/string.h"

#include "scratchdir.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include <sys/stat.h>

namespace {

std::string text(const String& s)
{
    return s.isNull() ? std::string("<null>") : std::string(s.data(), static_cast<size_t>(s.length()));
}

} // namespace

TEST(StringBasics, NullEmptyAppendAndOwnRanges)
{
    String none, empty("");
    EXPECT_STREQ(none.c_str(), "");
    EXPECT_EQ(empty.size(), 1);
    EXPECT_TRUE(String(none).isNull());
    EXPECT_FALSE(String(empty).isNull());
    String s("abc");
    s = static_cast<const char*>(nullptr);
    EXPECT_EQ(s.capacity(), 0);
    EXPECT_TRUE(String(-3).isNull());
    s = "abc";
    s.assign("x", -1); // a negative count makes the string null
    EXPECT_TRUE(s.isNull());
    // Appending nothing to null stays null; appending to null copies.
    for (const String& nothing : {String(""), String()}) {
        String n;
        n.append(nothing);
        EXPECT_TRUE(n.isNull());
    }
    s.append(String("xyz"));
    EXPECT_EQ(text(s), "xyz");
    s.append('c').append(-42).append(String(""));
    EXPECT_EQ(text(s), "xyzc-42");
    // Its own text and pieces of its own buffer, though growing moves the buffer.
    String self("0123456789");
    self.append(self);
    EXPECT_EQ(text(self), "01234567890123456789");
    self.append(self.data() + 1, 3);
    EXPECT_EQ(text(self), "01234567890123456789123");
    self = self.data();
    self.assign(self.data() + 10, 5);
    EXPECT_EQ(text(self), "01234");
    String full(4); // a range of the whole allocation needs a byte more for the NUL
    std::memcpy(full.data(), "wxyz", 4);
    full.assign(full.data(), full.capacity());
    EXPECT_EQ(text(full), "wxyz");
    full = 'q';
    EXPECT_EQ(full.size(), 2);
}

TEST(StringDeathTest, RangeBeyondCapacityAndTextBeyondSizeAbort)
{
    EXPECT_DEATH(
        {
            String s("abcdef");
            s.assign(s.data() + 3, 10);
        },
        "String out of range");
    EXPECT_DEATH(
        {
            String s("abcdef");
            s.resize(3);
            s.check();
        },
        "Internal: string exceeds allocated memory");
}

TEST(StringText, FitNumberReplaceAndCompare)
{
    const std::vector<std::pair<std::function<void(String&)>, std::string>> cases = {
        {[](String& s) { s = "abc", s.fit(5, ' '); }, "abc  "},
        {[](String& s) { s = "abcdefg", s.fit(5, ' '); }, "abcde"},
        {[](String& s) { s.fit(3, '.'); }, "..."},
        {[](String& s) { s.number(12345, 3); }, "345"},
        {[](String& s) { s.number(-1, 4); }, "0001"},
        {[](String& s) { s.number(5, 0); }, ""},
        {[](String& s) { s.number(42, 150); }, std::string(98, '0') + "42"}, // held at 100
        {[](String& s) { s.replaceFirst("a*b", "*", nullptr); }, "ab"},
        {[](String& s) { s.replaceFirst("abc", "zz", "y"); }, "abc"},
        {[](String& s) { s = "a-b-c", s.replaceFirst(s.data(), "-", "+++"); }, "a+++b-c"},
        {[](String& s) { s = "log_*_*.txt", s.replaceAll("*", "vexlink"); }, "log_vexlink_vexlink.txt"},
        {[](String& s) { s = "xax", s.replaceAll("x", "xx"); }, "xxaxx"}, // no rescan of the replacement
        {[](String& s) { s = "aaaa", s.replaceAll("aa", "a"); }, "aa"},
        {[](String& s) { s = "abc", s.replaceAll("", "x"); }, "abc"},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        String s;
        cases[i].first(s);
        EXPECT_EQ(text(s), cases[i].second) << i;
        s.check();
    }
    EXPECT_EQ(String("ABC").compareNoCase("abc"), 0);
    EXPECT_EQ(String("abd").compareNoCase("ABC"), 1);
    EXPECT_EQ(String("ab").compareNoCase("ABC"), -1);
    EXPECT_EQ(String("a").compareNoCase(static_cast<const char*>(nullptr)), 1);
    EXPECT_EQ(String("\xC4").compareNoCase("\xE4"), -1); // only ASCII capitals fold
    EXPECT_EQ(String("\xE4").compareNoCase("z"), 1);     // bytes above 127 sort above ASCII
}

TEST(StringPrintf, FormatsAtEverySizeAndStaysValidWhenTooLong)
{
    // Around the sizes tried (100 and doublings), with several string arguments so that every
    // try must start again from the first one.
    for (int len : {99, 100, 101, 199, 200, 201, 3000, 51199, 51200}) {
        const std::string a(static_cast<size_t>(len / 3), 'a'), c(static_cast<size_t>(len - 2 * (len / 3)), 'c');
        String out;
        ASSERT_TRUE(out.printf("%s%s%s", a.c_str(), a.c_str(), c.c_str())) << len;
        EXPECT_EQ(text(out), a + a + c) << len;
        out.check();
    }
    const std::string big(60000, 'x');
    String s("before");
    EXPECT_FALSE(s.printf("%s-%d", big.c_str(), 5));
    const size_t len = std::strlen(s.data());
    EXPECT_EQ(static_cast<int32_t>(len), s.length());
    EXPECT_EQ(std::string(s.data()), big.substr(0, len));
    EXPECT_LT(len, 51200u);
    char buf[8];
    EXPECT_EQ(legacySnprintf(buf, 8, "%s", "abcdefgh"), 8); // exactly the size: no room for the NUL
    EXPECT_EQ(buf[7], '\0');
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
    ASSERT_TRUE(s.readFile(dir.write("bin.dat", std::string("x\0y\0", 4)).c_str(), false, nullptr));
    EXPECT_EQ(std::string(s.data(), 4), std::string("x\0y\0", 4));
    ASSERT_TRUE(s.readFile(dir.write("empty.txt", "").c_str(), true, &mtime));
    EXPECT_EQ(text(s), "");
    mtime = 99;
    EXPECT_FALSE(s.readFile(dir.file("missing").c_str(), true, &mtime));
    EXPECT_TRUE(s.isNull());
    EXPECT_EQ(mtime, 0);
    EXPECT_FALSE(s.readFile(dir.path().c_str(), true, &mtime)); // a directory
    EXPECT_FALSE(s.readFile(nullptr, true, &mtime));
}
