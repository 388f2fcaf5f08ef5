#include "string/printfdirective.h"

#include <cstring>

namespace {

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Appends the run of characters of set that starts at p; returns its end.
const char* takeRun(const char* p, const char* set, std::string& out)
{
    while (*p != '\0' && std::strchr(set, *p) != nullptr)
        out += *p++;
    return p;
}

const char* takeDigits(const char* p, std::string& out)
{
    while (isDigit(*p))
        out += *p++;
    return p;
}

} // namespace

const char* PrintfDirective::read(const char* p)
{
    p = takeRun(p, "-+ #0'", flags);
    if (*p == '*') {
        widthArgument = true;
        ++p;
    } else {
        p = takeDigits(p, width);
        if (*p == '$') {
            positional = true;
            return p;
        }
    }
    if (*p == '.') {
        hasPrecision = true;
        ++p;
        if (*p == '*') {
            precisionArgument = true;
            ++p;
        } else {
            p = takeDigits(p, precision);
        }
    }
    p = takeRun(p, "hlLqjzt", length);
    conversion = *p;
    return p;
}
