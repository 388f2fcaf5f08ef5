#pragma once
// Ini::Section: a named group of items of an INI file. Item names are unique
// within a section without regard to ASCII case; repeated names either
// replace, keep or chain (see IniFile), which the section's index makes a
// constant-time step even for very large files.

#include "string/string.h"
#include "xml/iniitem.h"

#include <string>
#include <unordered_map>

namespace Ini {

class Section {
public:
    const char* name() const { return m_strName.c_str(); }
    const String& nameString() const { return m_strName; }
    // Set by a look-up that named this section.
    bool used() const { return m_bUsed; }
    void setUsed(bool used) { m_bUsed = used; }
    Item* firstItem() const { return m_pFirstItem; }
    Section* next() const { return m_pNext; }

    // The first item of that name (ASCII case ignored), or null.
    Item* find(const char* name, size_t length) const;
    Item* find(const char* name) const;

    // Folds ASCII capitals to small letters (the key of every index).
    static std::string foldCase(const char* text, size_t length);

private:
    friend class IniFile;
    Section(const char* name, int32_t length) : m_strName(name, length) {}
    ~Section();
    Section(const Section&) = delete;
    Section& operator=(const Section&) = delete;

    // Appends a new item at the end of the section.
    Item* append(const char* name, int32_t nameLength, const char* value, int32_t valueLength);
    // Appends a new item and links it as the last duplicate of first.
    Item* appendDuplicate(Item* first, const char* name, int32_t nameLength, const char* value, int32_t valueLength);
    void link(Item* item);

    String m_strName;
    bool m_bUsed = false;
    Item* m_pFirstItem = nullptr;
    Item* m_pLastItem = nullptr;
    Section* m_pNext = nullptr;
    std::unordered_map<std::string, Item*> m_index; // folded name -> first item
};

} // namespace Ini
