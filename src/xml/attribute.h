#pragma once
// Xml::Attribute: one name='value' pair of an element. Owned by its node,
// kept in the node's list in insertion order. The value is stored exactly as
// read or set (entity references are decoded only when a caller asks the node
// for the decoded value).

#include "string/string.h"

#include <atomic>
#include <cstdint>

namespace Xml {

class Node;

class Attribute {
public:
    const char* name() const { return m_strName.c_str(); }
    const char* value() const { return m_strValue.c_str(); }
    const String& nameString() const { return m_strName; }
    const String& valueString() const { return m_strValue; }
    Attribute* next() const { return m_pNext; }
    Attribute* prev() const { return m_pPrev; }
    // Non-zero: the value is handed out without entity decoding (values
    // drawn from INI files through hooks).
    uint32_t literal() const { return m_uLiteral; }
    void setLiteral(uint32_t literal) { m_uLiteral = literal; }
    const String& errorText() const { return m_strErrorText; }

    // Live attributes of the process (diagnostics).
    static int32_t liveCount() { return s_iLive.load(); }

private:
    friend class Node;
    Attribute(const char* name, const char* value);
    ~Attribute();
    Attribute(const Attribute&) = delete;
    Attribute& operator=(const Attribute&) = delete;

    String m_strErrorText;
    String m_strName;
    String m_strValue;
    Attribute* m_pPrev;
    Attribute* m_pNext;
    Attribute** m_ppListHead; // the node's slot that holds the first attribute
    uint32_t m_uLiteral;

    static std::atomic<int32_t> s_iLive;
};

} // namespace Xml
