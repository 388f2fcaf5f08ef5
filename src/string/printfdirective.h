#pragma once
// PrintfDirective: one conversion of a printf format, read the way printf
// reads it, so that the checks of a format and the formatting that follows
// them agree on where a conversion ends and which arguments it takes.

#include <string>

struct PrintfDirective {
    std::string flags;              // any of "-+ #0'"
    bool widthArgument = false;     // "*": the width is an int argument
    std::string width;              // the digits of a width written in the format
    bool positional = false;        // "n$": an argument chosen by number; the reading stops there
    bool hasPrecision = false;      // a '.' follows the width
    bool precisionArgument = false; // ".*": the precision is an int argument
    std::string precision;          // the digits after the '.'
    std::string length;             // any of "hlLqjzt"
    char conversion = '\0';         // NUL when the format ends first or the argument is positional

    // Reads the directive whose '%' stands just before p. Returns where the
    // conversion character stands, or where the reading stopped without one.
    const char* read(const char* p);

    // Calls accept with each directive of format in turn ("%%" is text)
    // while it returns true; false when it refused one.
    template <typename Accept> static bool all(const char* format, Accept accept)
    {
        for (const char* p = format; *p != '\0'; ++p) {
            if (*p != '%')
                continue;
            if (p[1] == '%') {
                ++p;
                continue;
            }
            PrintfDirective directive;
            p = directive.read(p + 1);
            if (!accept(directive))
                return false;
            if (*p == '\0')
                break; // the format ended inside the directive
        }
        return true;
    }
};
