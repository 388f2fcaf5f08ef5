// CSimpleOptions over argument vectors cut at NULs (each in a heap block of its size); the first byte
// picks case sensitivity and whether the first piece is the option string. Checks: at most argc
// steps, each letter in the option string, a value exactly for ':' letters, refusals name an argument.
#include "fuzzcheck.h"
#include "simpleoptions.h"

#include <memory>
#include <stdexcept>

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

    const std::string optionString = ownOptions ? pieces[0] : "htgxc:d:l:D:U:A:O:S:";
    std::vector<std::unique_ptr<char[]>> storage;
    std::vector<char*> argv;
    auto block = [&](const std::string& s) {
        storage.emplace_back(new char[s.size() + 1]);
        std::memcpy(storage.back().get(), s.c_str(), s.size() + 1);
        return storage.back().get();
    };
    argv.push_back(block("vexlink"));
    for (size_t i = ownOptions ? 1 : 0; i < pieces.size(); ++i)
        argv.push_back(block(pieces[i]));
    const int argc = static_cast<int>(argv.size());
    const char* options = block(optionString);

    CSimpleOptions scanner(argc, argv.data(), options, caseSensitive);
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
            if (pos < options || pos >= options + optionString.size())
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
