#include "simpleoptions.h"

#include "args.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace {

const char kOptions[] = "htgxc:d:l:D:U:A:O:S:";

// The text of the invalid-argument error of the first failing GetNext, or
// "(none)" when the whole line scans.
std::string FirstError(std::vector<std::string> list, bool caseSensitive = true)
{
    Args args(std::move(list));
    CSimpleOptions options(args.argc(), args.argv(), kOptions, caseSensitive);
    try {
        while (options.GetNext() != 0) {
        }
    } catch (const std::invalid_argument& e) {
        return e.what();
    }
    return "(none)";
}

} // namespace

TEST(SimpleOptions, ScansLettersAndValuesInOrder)
{
    Args args({"-c", "my.ini", "-U", "USER1", "/h", "-l", "", "/S", "-d"});
    CSimpleOptions options(args.argc(), args.argv(), kOptions, true);
    EXPECT_EQ(options.NextIndex(), 1);
    EXPECT_EQ(options.CurrentOption(), nullptr);

    EXPECT_EQ(options.GetNext(), 'c');
    EXPECT_STREQ(options.OptionArg(), "my.ini");
    EXPECT_EQ(options.NextIndex(), 3);
    EXPECT_EQ(*options.CurrentOption(), 'c');

    EXPECT_EQ(options.GetNext(), 'U');
    EXPECT_STREQ(options.OptionArg(), "USER1");

    EXPECT_EQ(options.GetNext(), 'h'); // a slash works like a dash
    EXPECT_EQ(options.OptionArg(), nullptr);
    EXPECT_EQ(options.NextIndex(), 6);

    EXPECT_EQ(options.GetNext(), 'l'); // an empty value is still a value
    EXPECT_STREQ(options.OptionArg(), "");

    // A value is taken whatever it looks like, even an option.
    EXPECT_EQ(options.GetNext(), 'S');
    EXPECT_STREQ(options.OptionArg(), "-d");

    EXPECT_EQ(options.GetNext(), 0);
    EXPECT_EQ(options.CurrentOption(), nullptr);
    EXPECT_EQ(options.OptionArg(), nullptr);
    EXPECT_EQ(options.GetNext(), 0); // stays at the end
}

TEST(SimpleOptions, RejectsWhatIsNotAKnownOption)
{
    EXPECT_EQ(FirstError({"-c", "a.ini", "-U", "u"}), "(none)");
    EXPECT_EQ(FirstError({"my.ini"}), "my.ini");   // file name without -c
    EXPECT_EQ(FirstError({"-C", "a.ini"}), "-C");  // letters are case-sensitive
    EXPECT_EQ(FirstError({"-h", "-C"}), "-C");     // only reached when scanned
    EXPECT_EQ(FirstError({"--"}), "--");
    EXPECT_EQ(FirstError({"--c"}), "--c");
    EXPECT_EQ(FirstError({"-ht"}), "-ht");         // no grouped letters
    EXPECT_EQ(FirstError({"-"}), "-");
    EXPECT_EQ(FirstError({"/"}), "/");
    EXPECT_EQ(FirstError({""}), "");
    EXPECT_EQ(FirstError({"-:"}), "-:");            // the value mark is no letter
    EXPECT_EQ(FirstError({"+h"}), "+h");
}

TEST(SimpleOptions, OptionWithoutItsValueNamesTheOption)
{
    EXPECT_EQ(FirstError({"-c"}), "-c");
    EXPECT_EQ(FirstError({"-U", "u", "/D"}), "/D");
    // The options before the failing one have been returned already.
    Args args({"-d", "work", "-A"});
    CSimpleOptions options(args.argc(), args.argv(), kOptions, true);
    EXPECT_EQ(options.GetNext(), 'd');
    EXPECT_STREQ(options.OptionArg(), "work");
    EXPECT_THROW(options.GetNext(), std::invalid_argument);
    EXPECT_EQ(options.CurrentOption(), nullptr);
}

TEST(SimpleOptions, CaseInsensitiveScannerLowersTheLetter)
{
    Args args({"-C", "file", "-H", "-\xC4"});
    CSimpleOptions options(args.argc(), args.argv(), kOptions, false);
    EXPECT_EQ(options.GetNext(), 'c');
    EXPECT_STREQ(options.OptionArg(), "file");
    EXPECT_EQ(options.GetNext(), 'h');
    EXPECT_THROW(options.GetNext(), std::invalid_argument);
    // Upper-case letters of the option string cannot be reached then.
    EXPECT_EQ(FirstError({"-U", "x"}, false), "-U");
}

TEST(SimpleOptions, EmptyCommandLines)
{
    Args args({});
    CSimpleOptions options(args.argc(), args.argv(), kOptions, true);
    EXPECT_EQ(options.GetNext(), 0);

    CSimpleOptions none(0, nullptr, kOptions, true);
    EXPECT_EQ(none.GetNext(), 0);

    // An empty option string knows no option at all.
    Args one({"-h"});
    CSimpleOptions empty(one.argc(), one.argv(), "", true);
    EXPECT_THROW(empty.GetNext(), std::invalid_argument);
}
