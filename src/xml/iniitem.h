#pragma once
// Ini::Item: one "name = value" line of an INI file, kept in its section in
// file order. In the list mode of repeated names the first item of a name
// heads a chain of its duplicates (nextDuplicate).

#include "string/string.h"

namespace Ini {

class Section;
class IniFile;

class Item {
public:
    const char* name() const { return m_strName.c_str(); }
    const char* value() const { return m_strValue.c_str(); }
    const String& nameString() const { return m_strName; }
    const String& valueString() const { return m_strValue; }
    // Set by a look-up that found this item.
    bool used() const { return m_bUsed; }
    void setUsed(bool used) { m_bUsed = used; }
    // The next item of the section.
    Item* next() const { return m_pNext; }
    // The next item of the section with the same name (list mode).
    Item* nextDuplicate() const { return m_pNextDuplicate; }

private:
    friend class Section;
    friend class IniFile;
    Item(const char* name, int32_t nameLength, const char* value, int32_t valueLength)
        : m_strName(name, nameLength), m_strValue(value, valueLength)
    {
    }
    Item(const Item&) = delete;
    Item& operator=(const Item&) = delete;

    String m_strName;
    String m_strValue;
    bool m_bUsed = false;
    Item* m_pNext = nullptr;
    Item* m_pNextDuplicate = nullptr;
    Item* m_pLastDuplicate = nullptr; // kept on the first item of a chain
};

} // namespace Ini
