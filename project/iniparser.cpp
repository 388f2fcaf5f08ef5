#include "iniparser.h"

#include "configmodul.h"
#include "elog.h"
#include "platform/platform.h"

#include <cstring>

namespace {

const char kWhitespace[] = " \t\n\r\f\v";

std::string Trim(const std::string& text, const char* set)
{
    const std::string::size_type first = text.find_first_not_of(set);
    if (first == std::string::npos)
        return std::string();
    const std::string::size_type last = text.find_last_not_of(set);
    return text.substr(first, last - first + 1);
}

// "contains word at a position after its first character"
bool ContainsAfterFirst(const std::string& key, const char* word)
{
    return key.find(word, 1) != std::string::npos;
}

} // namespace

IniParser::IniParser(const char* fileName) : m_pszFileName(fileName)
{
}

bool IniParser::ReadLineChunk(std::FILE* file, std::string& line)
{
    line.clear();
    bool readAny = false;
    while (line.size() < kMaxLineChunk) {
        int c = std::fgetc(file);
        if (c == EOF)
            break;
        readAny = true;
        if (c == '\r') {
            const int next = std::fgetc(file);
            if (next == '\n')
                c = '\n';
            else if (next != EOF)
                std::ungetc(next, file);
        }
        if (c == '\n')
            break; // the one trailing line feed is not kept
        line.push_back(static_cast<char>(c));
    }
    const std::string::size_type nul = line.find('\0');
    if (nul != std::string::npos)
        line.resize(nul);
    return readAny;
}

bool IniParser::Parse()
{
    m_mapParms.clear();
    const char* name = m_pszFileName ? m_pszFileName : "";

    std::FILE* file = nullptr;
    // Binary, as on Linux: Windows' text mode would end the file at a
    // Ctrl-Z byte and drop the lines after it without a word; carriage
    // returns are trimmed with the other white space.
    if (!Platform::isDirectory(name))
        file = std::fopen(name, "rb");
    if (file == nullptr) {
        ELOG(1, 1, 130, "INI file can't be read, check a file name and path (%s)\n", name);
        return false;
    }
    ELOG(1, 3, 130, "INI file found: %s\n", name);

    std::string section;
    std::string line;
    while (ReadLineChunk(file, line))
        ParseLine(line, section);

    std::fclose(file);
    return true;
}

void IniParser::ParseLine(std::string line, std::string& section)
{
    line = Trim(line, kWhitespace);
    if (line.empty())
        return;

    // Comments only at the start of a line.
    const char first = line[0];
    if (first == ';' || first == '#' || first == '*' || line.compare(0, 2, "//") == 0)
        return;

    // Section line; it may still carry a "=" and so an entry (below).
    if (line.size() >= 2 && first == '[' && line.back() == ']')
        section = line.substr(1, line.size() - 2);

    const std::string::size_type eq = line.find('=');
    if (eq == std::string::npos || eq == 0)
        return;
    const std::string name = line.substr(0, eq);
    std::string value = line.substr(eq + 1);

    std::string key;
    if (section.empty())
        key = name; // no section: the name as written, blanks included
    else
        key = Trim(section, kWhitespace) + "." + Trim(name, kWhitespace);

    value = Trim(value, kWhitespace);
    value = Trim(value, "\"");
    if (value.empty())
        return;

    if (!ContainsAfterFirst(key, "PASSWORD") && !ContainsAfterFirst(key, "T1"))
        ELOG(2, 3, 130, "*** AddNewINIParm Name=Value: %s=%s\n", key.c_str(), LoggableValue(key, value));
    m_mapParms.emplace(key, value); // the first occurrence of a key wins
}
