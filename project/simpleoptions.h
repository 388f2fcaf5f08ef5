#pragma once
// A small command-line scanner: single-letter options after "-" or "/",
// some of which take their value from the next argument.

#include "cobject.h"

#include <cstdint>

class CSimpleOptions : public CObject {
public:
    // optionString lists the option letters; a letter followed by ':' takes
    // a value. The arguments are not copied and must outlive the scanner.
    // With caseSensitive false the letter of an argument is lower-cased
    // before the lookup.
    CSimpleOptions(int argc, char** argv, const char* optionString, bool caseSensitive);
    ~CSimpleOptions() override = default;

    // The next option letter, or 0 when every argument has been examined.
    // Throws std::invalid_argument whose what() is the offending argument:
    // an argument that is not of the form "-x" or "/x", a letter that is not
    // in the option string, or (with the option's own text) an option that
    // needs a value but stands last.
    char GetNext();

    // The value of the option returned by the last GetNext (the argument
    // just before the next index), or null when it takes no value or when
    // there is no current option.
    const char* OptionArg() const;
    // The position of the last option letter in the option string, or null.
    const char* CurrentOption() const { return m_pCurrent; }
    // Index of the next argument to examine (starts at 1).
    int32_t NextIndex() const { return m_iNext; }

private:
    int32_t m_iArgc;
    char** m_ppArgv;
    const char* m_pszOptions;
    bool m_bCaseSensitive;
    const char* m_pCurrent = nullptr;
    int32_t m_iNext = 1;
};
