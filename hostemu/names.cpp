#include "names.h"

namespace hostemu {

namespace {

bool IsAlpha(char c)
{
    return c >= 'A' && c <= 'Z';
}
bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}
bool IsNational(char c)
{
    return c == '@' || c == '#' || c == '$';
}

bool IsWildcardChar(char c)
{
    return c == '*' || c == '%';
}

// A filter qualifier: the characters of a qualifier plus '*' and '%', at
// most 8 characters that are not '*', or exactly "**".
bool IsValidFilterQualifier(const std::string& q)
{
    if (q == "**")
        return true;
    if (q.empty())
        return false;
    size_t fixed = 0;
    for (size_t i = 0; i < q.size(); ++i) {
        char c = q[i];
        if (c == '*')
            continue;
        ++fixed;
        if (c == '%')
            continue;
        if (IsAlpha(c) || IsNational(c))
            continue;
        if ((IsDigit(c) || c == '-') && i > 0)
            continue;
        return false;
    }
    return fixed <= 8;
}

std::vector<std::string> SplitDots(const std::string& text)
{
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t dot = text.find('.', start);
        if (dot == std::string::npos) {
            parts.push_back(text.substr(start));
            return parts;
        }
        parts.push_back(text.substr(start, dot - start));
        start = dot + 1;
    }
}

} // namespace

bool IsValidQualifier(const std::string& q)
{
    if (q.empty() || q.size() > 8)
        return false;
    if (!IsAlpha(q[0]) && !IsNational(q[0]))
        return false;
    for (size_t i = 1; i < q.size(); ++i) {
        char c = q[i];
        if (!IsAlpha(c) && !IsNational(c) && !IsDigit(c) && c != '-')
            return false;
    }
    return true;
}

bool IsValidDsName(const std::string& name)
{
    if (name.empty() || name.size() > 44)
        return false;
    for (const std::string& q : SplitDots(name))
        if (!IsValidQualifier(q))
            return false;
    return true;
}

bool IsValidMemberName(const std::string& name)
{
    if (name.empty() || name.size() > 8)
        return false;
    if (!IsAlpha(name[0]) && !IsNational(name[0]))
        return false;
    for (size_t i = 1; i < name.size(); ++i)
        if (!IsAlpha(name[i]) && !IsNational(name[i]) && !IsDigit(name[i]))
            return false;
    return true;
}

bool IsJobId(const std::string& text)
{
    if (text.size() != 8 || text.compare(0, 3, "JOB") != 0)
        return false;
    for (size_t i = 3; i < 8; ++i)
        if (!IsDigit(text[i]))
            return false;
    return true;
}

std::string UpperAscii(std::string text)
{
    for (char& c : text)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return text;
}

bool ParseDecimal(const std::string& text, uint64_t& value, uint64_t max, size_t maxDigits)
{
    if (text.empty() || text.size() > maxDigits)
        return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    return value <= max;
}

std::string TrimBlanks(const std::string& text)
{
    const char* ws = " \t\r\n";
    size_t b = text.find_first_not_of(ws);
    if (b == std::string::npos)
        return std::string();
    size_t e = text.find_last_not_of(ws);
    return text.substr(b, e - b + 1);
}

bool ParseDsRef(const std::string& input, DsRef& ref, std::string& error)
{
    std::string text = TrimBlanks(input);
    if (text.size() >= 2 && text.front() == '\'' && text.back() == '\'')
        text = text.substr(1, text.size() - 2);
    text = UpperAscii(text);
    ref = DsRef();
    if (text.empty()) {
        error = "NO DATA SET NAME GIVEN";
        return false;
    }
    std::string dsn = text;
    std::string member;
    size_t open = text.find('(');
    if (open != std::string::npos) {
        if (text.back() != ')') {
            error = "MISSING CLOSING PARENTHESIS IN " + text;
            return false;
        }
        dsn = text.substr(0, open);
        member = text.substr(open + 1, text.size() - open - 2);
        if (!IsValidMemberName(member)) {
            error = "INVALID MEMBER NAME " + member;
            return false;
        }
    }
    if (!IsValidDsName(dsn)) {
        error = "INVALID DATA SET NAME " + dsn;
        return false;
    }
    ref.dsn = dsn;
    ref.member = member;
    return true;
}

bool GlobMatch(const std::string& pattern, const std::string& text)
{
    // Iterative match with one back-tracking point for the last '*'.
    size_t p = 0, t = 0, starP = std::string::npos, starT = 0;
    while (t < text.size()) {
        if (p < pattern.size() && (pattern[p] == '%' || pattern[p] == text[t])) {
            ++p;
            ++t;
        } else if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starT = t;
        } else if (starP != std::string::npos) {
            p = starP + 1;
            t = ++starT;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

bool DsFilter::Compile(const std::string& input, std::string& error)
{
    std::string text = TrimBlanks(input);
    if (text.size() >= 2 && text.front() == '\'' && text.back() == '\'')
        text = text.substr(1, text.size() - 2);
    text = UpperAscii(text);
    m_text = text;
    m_quals.clear();
    m_prefix.clear();
    m_bLevel = false;
    if (text.empty()) {
        error = "NO FILTER GIVEN";
        return false;
    }
    if (text.size() > 44) {
        error = "FILTER LONGER THAN 44 CHARACTERS";
        return false;
    }
    m_quals = SplitDots(text);
    for (const std::string& q : m_quals) {
        if (!IsValidFilterQualifier(q)) {
            error = "INVALID FILTER " + text;
            m_quals.clear();
            return false;
        }
    }
    size_t wild = text.find_first_of("*%");
    m_bLevel = wild == std::string::npos;
    m_prefix = m_bLevel ? text : text.substr(0, wild);
    return true;
}

bool DsFilter::Matches(const std::string& dsn) const
{
    if (m_quals.empty())
        return false;
    if (m_bLevel)
        return dsn == m_text ||
               (dsn.size() > m_text.size() && dsn.compare(0, m_text.size(), m_text) == 0 && dsn[m_text.size()] == '.');
    if (dsn.compare(0, m_prefix.size(), m_prefix) != 0)
        return false;
    return MatchFrom(0, SplitDots(dsn), 0);
}

bool DsFilter::MatchFrom(size_t fi0, const std::vector<std::string>& name, size_t ni0) const
{
    // ok[f][n]: filter qualifiers from f on match name qualifiers from n on.
    // Filled from the end, so "**" costs no back-tracking.
    const size_t F = m_quals.size(), N = name.size();
    std::vector<std::vector<char>> ok(F + 1, std::vector<char>(N + 1, 0));
    ok[F][N] = 1;
    for (size_t f = F; f-- > 0;) {
        for (size_t n = N + 1; n-- > 0;) {
            if (m_quals[f] == "**")
                ok[f][n] = ok[f + 1][n] || (n < N && ok[f][n + 1]);
            else
                ok[f][n] = n < N && ok[f + 1][n + 1] && GlobMatch(m_quals[f], name[n]);
        }
    }
    return ok[fi0][ni0] != 0;
}

bool MemberFilter::Compile(const std::string& input, std::string& error)
{
    std::string text = UpperAscii(TrimBlanks(input));
    m_pattern = text;
    m_prefix.clear();
    if (text.empty())
        return true;
    if (text.size() > 8 && text.find('*') == std::string::npos) {
        error = "INVALID MEMBER PATTERN " + text;
        return false;
    }
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (IsWildcardChar(c) || IsAlpha(c) || IsNational(c) || (IsDigit(c) && i > 0))
            continue;
        error = "INVALID MEMBER PATTERN " + text;
        return false;
    }
    size_t wild = text.find_first_of("*%");
    m_prefix = wild == std::string::npos ? text : text.substr(0, wild);
    return true;
}

bool MemberFilter::Matches(const std::string& member) const
{
    return m_pattern.empty() || GlobMatch(m_pattern, member);
}

} // namespace hostemu
