#pragma once
// Ini::IniFile: reads an INI file (sections, items, comments, quoted values,
// nested "__INCLUDE__" files, a UTF-8 byte order mark, four rules for
// repeated item names) and answers look-ups by section and item.
//
// Reading stops accepting lines at the first bad one; errorText then holds
// "%s (%d): %s\n" with the file, the line and the reason. An include chain
// that leads back to a file already being read is refused with the reason
// "include cycle"; includes nested deeper than kMaxIncludeDepth files are
// refused with "include nesting too deep".

#include "string/string.h"
#include "xml/inifileinfolist.h"
#include "xml/iniitem.h"
#include "xml/inisection.h"

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace Ini {

class IniFile {
public:
    // Rules for an item name repeated within a section.
    static constexpr int32_t kModeFirst = 0; // the first value stays
    static constexpr int32_t kModeLast = 1;  // a later value replaces it
    static constexpr int32_t kModeError = 2; // "duplicate item or section"
    static constexpr int32_t kModeList = 3;  // every value is kept, chained as duplicates
    static constexpr int32_t kMaxIncludeDepth = 32;

    IniFile(const char* path, int32_t mode);
    ~IniFile();
    IniFile(const IniFile&) = delete;
    IniFile& operator=(const IniFile&) = delete;

    // Empties the sections and the file list, then reads text, or the file
    // at path when text is null. True when every line was accepted.
    bool load(const char* text = nullptr);

    // A section "*" means any section (the first item of that name in file
    // order). Otherwise the section (marked used) is searched for the item:
    // in the modes last and error the last of its duplicates is returned, in
    // the modes first and list the first. The item found is marked used.
    // A null section names the unnamed section before the first header.
    Item* find(const char* section, const char* item, bool caseSensitive);

    const String& errorText() const { return m_strErrorText; }
    const String& path() const { return m_strPath; }
    int32_t lineNumber() const { return m_iLineNumber; }
    int32_t mode() const { return m_iMode; }
    Section* firstSection() const { return m_pFirstSection; }
    const IniFileInfoList& fileInfo() const { return m_fileInfo; }

private:
    void clearSections();
    bool readFile(const char* path);
    bool readText(const char* text, size_t length);
    bool readLine(const char* p, const char* end);
    bool include(const std::string& path);
    bool addItem(const char* name, size_t nameLength, const std::string& value);
    Section* findSection(const char* name, size_t length) const;
    Section* findOrAddSection(const char* name, size_t length);
    bool fail(const char* reason);

    String m_strErrorText;
    String m_strPath;
    int32_t m_iLineNumber;
    Section* m_pFirstSection;
    Section* m_pLastSection;
    Section* m_pCurrentSection;
    int32_t m_iMode;
    IniFileInfoList m_fileInfo;
    std::unordered_map<std::string, Section*> m_sectionIndex; // folded name -> section
    std::vector<std::string> m_includeChain;                  // files being read, outermost first
};

} // namespace Ini
