#pragma once
// Names of the emulated host: data set names, member names, job ids, and the
// list filters of the data set and member lists.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace hostemu {

// A qualifier: 1 to 8 characters, the first A-Z @ # $, the others also 0-9
// and the hyphen.
bool IsValidQualifier(const std::string& q);
// A data set name: qualifiers joined by dots, at most 44 characters.
bool IsValidDsName(const std::string& name);
// A member name: 1 to 8 characters, the first A-Z @ # $, the others also 0-9.
bool IsValidMemberName(const std::string& name);
// A job id of the spool: JOB followed by exactly five digits.
bool IsJobId(const std::string& text);

// Upper-cases the letters a-z (names are case-insensitive on the host).
std::string UpperAscii(std::string text);
// Removes blanks, tabs, carriage returns and line feeds at both ends.
std::string TrimBlanks(const std::string& text);
// The number that text writes in decimal digits alone (no sign, no blanks),
// of at most maxDigits digits and no larger than max; false otherwise.
bool ParseDecimal(const std::string& text, uint64_t& value, uint64_t max = UINT64_MAX, size_t maxDigits = 19);

// A data set or member reference as the requests write it: USER.DATA,
// 'USER.DATA', USER.PDS(MEMBER). Upper-cased and validated.
struct DsRef {
    std::string dsn;
    std::string member; // empty when no member was named
    bool HasMember() const { return !member.empty(); }
    std::string Text() const { return member.empty() ? dsn : dsn + "(" + member + ")"; }
};
// Parses text into ref; false with a readable reason in error.
bool ParseDsRef(const std::string& text, DsRef& ref, std::string& error);

// Matches a name against a pattern in which '*' stands for any run of
// characters (also none) and '%' for exactly one character.
bool GlobMatch(const std::string& pattern, const std::string& text);

// Filter of the data set lists. Qualifiers are separated by dots; '*' and
// '%' work inside one qualifier, "**" stands for any number of qualifiers
// (also none). A filter without any wildcard names a level: it matches the
// name itself and every name below it (USER.DATA matches USER.DATA and
// USER.DATA.OLD).
class DsFilter {
public:
    // False with a reason when the filter is empty or malformed.
    bool Compile(const std::string& text, std::string& error);
    bool Matches(const std::string& dsn) const;
    // The characters every matching name starts with (before the first
    // wildcard), for a sorted search.
    const std::string& LiteralPrefix() const { return m_prefix; }
    const std::string& Text() const { return m_text; }

private:
    bool MatchFrom(size_t fi, const std::vector<std::string>& name, size_t ni) const;

    std::string m_text;
    std::vector<std::string> m_quals;
    std::string m_prefix;
    bool m_bLevel = false;
};

// Filter of the member lists: a glob over member names; empty matches all.
class MemberFilter {
public:
    bool Compile(const std::string& text, std::string& error);
    bool Matches(const std::string& member) const;
    const std::string& LiteralPrefix() const { return m_prefix; }

private:
    std::string m_pattern;
    std::string m_prefix;
};

} // namespace hostemu
