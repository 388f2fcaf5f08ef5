// CSimpleOptions over random argument vectors. The input's first byte picks
// case sensitivity and whether the option string is the program's own or
// the first piece of the input; the rest, cut at NUL bytes, is the argument
// vector (each argument in a heap block of its own size, so a read past its
// end is caught). Checks: the scan ends within argc steps, each letter
// returned stands in the option string, a value is returned exactly for
// letters marked with ':' and is the argument before the next index, and
// a refusal names an argument of the vector.
#include "fuzzcheck.h"
#include "simpleoptions.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

const char kProgramOptions[] = "htgxc:d:l:D:U:A:O:S:";

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const bool caseSensitive = (data[0] & 1) != 0;
    const bool ownOptions = (data[0] & 2) != 0;

    std::vector<std::string> pieces;
    std::string current;
    for (size_t i = 1; i < size; ++i) {
        if (data[i] == 0) {
            pieces.push_back(current);
            current.clear();
        } else {
            current.push_back(static_cast<char>(data[i]));
        }
    }
    pieces.push_back(current);

    std::string optionString = kProgramOptions;
    size_t first = 0;
    if (ownOptions) {
        optionString = pieces[0];
        first = 1;
    }
    // argv[0] is the program name; then the pieces.
    std::vector<std::unique_ptr<char[]>> storage;
    std::vector<char*> argv;
    auto add = [&](const std::string& s) {
        std::unique_ptr<char[]> block(new char[s.size() + 1]);
        std::memcpy(block.get(), s.c_str(), s.size() + 1);
        argv.push_back(block.get());
        storage.push_back(std::move(block));
    };
    add("vexlink");
    for (size_t i = first; i < pieces.size(); ++i)
        add(pieces[i]);
    const int argc = static_cast<int>(argv.size());
    std::unique_ptr<char[]> options(new char[optionString.size() + 1]);
    std::memcpy(options.get(), optionString.c_str(), optionString.size() + 1);

    CSimpleOptions scanner(argc, argv.data(), options.get(), caseSensitive);
    int steps = 0;
    try {
        for (;;) {
            const int32_t before = scanner.NextIndex();
            const char letter = scanner.GetNext();
            if (letter == 0) {
                if (scanner.OptionArg() != nullptr || scanner.CurrentOption() != nullptr)
                    fail("a value or an option after the end");
                break;
            }
            if (++steps > argc)
                fail("more options than arguments");
            const char* pos = scanner.CurrentOption();
            if (pos == nullptr || *pos != letter || letter == ':')
                fail("the letter does not stand in the option string");
            if (pos < options.get() || pos >= options.get() + optionString.size())
                fail("the option points outside the option string");
            const int32_t after = scanner.NextIndex();
            if (after <= before || after > argc)
                fail("the index does not advance within the vector");
            const char* value = scanner.OptionArg();
            if ((pos[1] == ':') != (value != nullptr))
                fail("a value without ':' or ':' without a value");
            if (value != nullptr && value != argv[after - 1])
                fail("the value is not the argument before the next index");
        }
    } catch (const std::invalid_argument& e) {
        bool known = false;
        for (int i = 1; i < argc && !known; ++i)
            known = std::strcmp(e.what(), argv[i]) == 0;
        if (!known)
            fail("a refusal that names no argument");
    }
    return 0;
}
