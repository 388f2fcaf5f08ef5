#include "xml/inifile.h"

#include <cstring>
#include <filesystem>
#include <system_error>

namespace Ini {

namespace {

bool isBlankOrTab(char c)
{
    return c == ' ' || c == '\t';
}

void trim(const char*& begin, const char*& end)
{
    while (begin < end && isBlankOrTab(*begin))
        ++begin;
    while (end > begin && isBlankOrTab(end[-1]))
        --end;
}

bool equalsNoCase(const char* a, size_t length, const char* b)
{
    if (std::strlen(b) != length)
        return false;
    for (size_t i = 0; i < length; ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z')
            x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = static_cast<char>(y - 'A' + 'a');
        if (x != y)
            return false;
    }
    return true;
}

bool sameFile(const std::string& a, const std::string& b)
{
    std::error_code ec;
    return std::filesystem::equivalent(a, b, ec) && !ec;
}

} // namespace

IniFile::IniFile(const char* path, int32_t mode)
    : m_strPath(path ? path : ""), m_iLineNumber(0), m_pFirstSection(nullptr), m_pLastSection(nullptr),
      m_pCurrentSection(nullptr), m_iMode(mode)
{
}

IniFile::~IniFile()
{
    clearSections();
}

void IniFile::clearSections()
{
    Section* s = m_pFirstSection;
    while (s != nullptr) {
        Section* next = s->m_pNext;
        delete s;
        s = next;
    }
    m_pFirstSection = nullptr;
    m_pLastSection = nullptr;
    m_pCurrentSection = nullptr;
    m_sectionIndex.clear();
}

bool IniFile::load(const char* text)
{
    clearSections();
    m_fileInfo.clear();
    m_includeChain.clear();
    m_strErrorText = "";
    m_iLineNumber = 0;
    if (text != nullptr)
        return readText(text, std::strlen(text));
    const std::string path(m_strPath.c_str());
    const bool ok = readFile(path.c_str());
    m_strPath = path.c_str();
    return ok;
}

bool IniFile::fail(const char* reason)
{
    // Only the first error of a load is kept.
    if (m_strErrorText.isEmpty())
        m_strErrorText.printf("%s (%d): %s\n", m_strPath.c_str(), m_iLineNumber, reason);
    return false;
}

bool IniFile::readFile(const char* path)
{
    m_strPath = path;
    m_iLineNumber = 0;
    String content;
    int64_t modified = 0;
    const bool readable = content.readFile(path, true, &modified);
    m_fileInfo.add(path, readable ? modified : 0);
    if (!readable)
        return fail("file not found");
    m_includeChain.emplace_back(path);
    const bool ok = readText(content.data(), static_cast<size_t>(content.length()));
    m_includeChain.pop_back();
    return ok;
}

bool IniFile::readText(const char* text, size_t length)
{
    const char* p = text;
    const char* const end = text + length;
    if (length >= 3 && std::memcmp(text, "\xEF\xBB\xBF", 3) == 0)
        p += 3;
    bool ok = true;
    while (p < end) {
        const char* nl = static_cast<const char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
        const char* lineEnd = nl ? nl : end;
        ++m_iLineNumber;
        // After the first bad line the rest is only counted.
        if (ok)
            ok = readLine(p, lineEnd);
        if (nl == nullptr)
            break;
        p = nl + 1;
    }
    return ok;
}

bool IniFile::readLine(const char* p, const char* end)
{
    if (end > p && end[-1] == '\r') // a CR-LF line end of a text given in memory
        --end;
    while (p < end && (*p == ' ' || *p == '\t' || *p == '\r'))
        ++p;
    if (p == end || *p == '#' || *p == '*' || *p == ';')
        return true;
    if (end - p >= 2 && ((p[0] == '-' && p[1] == '-') || (p[0] == '/' && p[1] == '/')))
        return true;

    if (*p == '[') {
        const char* close = static_cast<const char*>(std::memchr(p + 1, ']', static_cast<size_t>(end - p - 1)));
        if (close == nullptr)
            return fail("unclosed section name");
        const char* nameBegin = p + 1;
        const char* nameEnd = close;
        trim(nameBegin, nameEnd);
        m_pCurrentSection = findOrAddSection(nameBegin, static_cast<size_t>(nameEnd - nameBegin));
        return true;
    }

    if (m_pCurrentSection == nullptr)
        m_pCurrentSection = findOrAddSection("", 0);
    const char* eq = static_cast<const char*>(std::memchr(p, '=', static_cast<size_t>(end - p)));
    if (eq == nullptr)
        return fail("no assignment");
    const char* nameBegin = p;
    const char* nameEnd = eq;
    trim(nameBegin, nameEnd);
    if (nameBegin == nameEnd)
        return fail("empty item name");

    const char* v = eq + 1;
    while (v < end && isBlankOrTab(*v))
        ++v;
    std::string value;
    const char* rest = end;
    if (v < end && (*v == '"' || *v == '\'')) {
        const char quote = *v++;
        bool closed = false;
        while (v < end) {
            if (*v == quote) {
                if (v + 1 < end && v[1] == quote) { // two quotes stand for one
                    value += quote;
                    v += 2;
                    continue;
                }
                ++v;
                closed = true;
                break;
            }
            value += *v++;
        }
        if (closed) {
            rest = v;
        } else {
            // No closing quote: the rest of the line, without trailing blanks.
            while (!value.empty() && isBlankOrTab(value.back()))
                value.pop_back();
        }
    } else {
        const char* s = v;
        while (v < end && !isBlankOrTab(*v) && *v != '#')
            ++v;
        value.assign(s, v);
        rest = v;
    }
    const char* restEnd = end;
    trim(rest, restEnd);
    if (rest < restEnd && *rest != '#' && *rest != '\r')
        return fail("illegal trailing characters");

    const size_t nameLength = static_cast<size_t>(nameEnd - nameBegin);
    if (equalsNoCase(nameBegin, nameLength, "__INCLUDE__")) {
        if (value.empty())
            return fail("empty path for inclusion");
        return include(value);
    }
    return addItem(nameBegin, nameLength, value);
}

bool IniFile::include(const std::string& path)
{
    if (m_includeChain.size() >= static_cast<size_t>(kMaxIncludeDepth))
        return fail("include nesting too deep");
    for (const std::string& open : m_includeChain) {
        if (sameFile(path, open))
            return fail("include cycle");
    }
    // The included file goes into the same sections and continues the
    // current one; where it leaves off is where this file goes on.
    const String savedPath(m_strPath);
    const int32_t savedLine = m_iLineNumber;
    const bool ok = readFile(path.c_str());
    m_strPath = savedPath;
    m_iLineNumber = savedLine;
    return ok;
}

bool IniFile::addItem(const char* name, size_t nameLength, const std::string& value)
{
    Section* section = m_pCurrentSection;
    const int32_t valueLength = static_cast<int32_t>(value.size());
    Item* existing = section->find(name, nameLength);
    if (existing == nullptr) {
        section->append(name, static_cast<int32_t>(nameLength), value.data(), valueLength);
        return true;
    }
    switch (m_iMode) {
    case kModeFirst:
        return true;
    case kModeError:
        return fail("duplicate item or section");
    case kModeList:
        section->appendDuplicate(existing, name, static_cast<int32_t>(nameLength), value.data(), valueLength);
        return true;
    case kModeLast:
    default:
        existing->m_strValue.assign(value.data(), valueLength);
        return true;
    }
}

Section* IniFile::findSection(const char* name, size_t length) const
{
    auto it = m_sectionIndex.find(Section::foldCase(name, length));
    return it == m_sectionIndex.end() ? nullptr : it->second;
}

Section* IniFile::findOrAddSection(const char* name, size_t length)
{
    Section* s = findSection(name, length);
    if (s != nullptr)
        return s;
    s = new Section(name, static_cast<int32_t>(length));
    if (m_pLastSection != nullptr)
        m_pLastSection->m_pNext = s;
    else
        m_pFirstSection = s;
    m_pLastSection = s;
    m_sectionIndex.emplace(Section::foldCase(name, length), s);
    return s;
}

Item* IniFile::find(const char* section, const char* item, bool caseSensitive)
{
    if (item == nullptr)
        return nullptr;
    // With case: the first of the duplicates whose name matches exactly.
    auto exact = [&](Item* first) -> Item* {
        if (!caseSensitive)
            return first;
        for (Item* i = first; i; i = i->m_pNextDuplicate) {
            if (std::strcmp(i->name(), item) == 0)
                return i;
        }
        return nullptr;
    };
    if (section != nullptr && std::strcmp(section, "*") == 0) {
        for (Section* s = m_pFirstSection; s; s = s->m_pNext) {
            Item* found = exact(s->find(item));
            if (found != nullptr) {
                found->m_bUsed = true;
                return found;
            }
        }
        return nullptr;
    }
    const char* name = section ? section : "";
    Section* s = findSection(name, std::strlen(name));
    if (s == nullptr || (caseSensitive && std::strcmp(s->name(), name) != 0))
        return nullptr;
    s->m_bUsed = true;
    Item* found = exact(s->find(item));
    if (found == nullptr)
        return nullptr;
    if (m_iMode == kModeLast || m_iMode == kModeError) {
        while (found->m_pNextDuplicate != nullptr)
            found = found->m_pNextDuplicate;
    }
    found->m_bUsed = true;
    return found;
}

} // namespace Ini
