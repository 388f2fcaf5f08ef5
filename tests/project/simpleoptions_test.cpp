#include "simpleoptions.h"

#include "args.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

const char kOptions[] = "htgxc:d:l:D:U:A:O:S:";

// The letters and values scanned, then "!" and the text of the invalid-argument error, if any.
std::string Scan(std::vector<std::string> list, bool caseSensitive = true, const char* known = kOptions)
{
    Args args(std::move(list));
    CSimpleOptions options(args.argc(), args.argv(), known, caseSensitive);
    std::string out;
    try {
        while (const int letter = options.GetNext()) {
            out += static_cast<char>(letter);
            if (options.OptionArg() != nullptr)
                out += "=" + std::string(options.OptionArg()) + " ";
        }
    } catch (const std::invalid_argument& e) {
        EXPECT_EQ(options.CurrentOption(), nullptr);
        return out + "!" + e.what();
    }
    EXPECT_EQ(options.GetNext(), 0); // stays at the end
    return out;
}

} // namespace

TEST(SimpleOptions, ScansLettersValuesAndRefusesTheRest)
{
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        // A slash works like a dash; an empty value is a value; a value is taken whatever it looks like.
        {{"-c", "my.ini", "-U", "USER1", "/h", "-l", "", "/S", "-d"}, "c=my.ini U=USER1 hl= S=-d "},
        {{}, ""},
        {{"my.ini"}, "!my.ini"},         // a file name without -c
        {{"-h", "-C", "a.ini"}, "h!-C"}, // letters are case-sensitive, reached when scanned
        {{"--"}, "!--"},
        {{"--c"}, "!--c"},
        {{"-ht"}, "!-ht"},
        {{"-"}, "!-"},
        {{"/"}, "!/"},
        {{""}, "!"},
        {{"-:"}, "!-:"},
        {{"+h"}, "!+h"},
        {{"-c"}, "!-c"}, // an option without its value names the option
        {{"-d", "work", "/D"}, "d=work !/D"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Scan(c.first), c.second) << (c.first.empty() ? "" : c.first[0]);
    // The case-insensitive scanner lowers the letter: upper-case letters of the string are unreachable.
    EXPECT_EQ(Scan({"-C", "file", "-H", "-\xC4"}, false), "c=file h!-\xC4");
    EXPECT_EQ(Scan({"-U", "x"}, false), "!-U");
    EXPECT_EQ(Scan({"-h"}, true, ""), "!-h");
    CSimpleOptions none(0, nullptr, kOptions, true);
    EXPECT_EQ(none.GetNext(), 0);
}
