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
};
