#pragma once
// Xml::IniHook: one hook of a configuration document, declared by an "ini"
// element: the hook text that starts a reference (such as ":INI:"), the INI
// file the references are looked up in, and the element itself, whose child
// elements carry the item rules. The hook keeps a reference to the element,
// so the rules stay readable while the tree around them is rebuilt.

#include "string/string.h"
#include "xml/inifile.h"
#include "xml/node.h"

namespace Xml {

class ConfigFile;

class IniHook {
public:
    IniHook(Node* element, const char* hookText, const char* iniPath);
    ~IniHook();
    IniHook(const IniHook&) = delete;
    IniHook& operator=(const IniHook&) = delete;

    Node* element() const { return m_pElement; }
    const char* hookText() const { return m_strHook.c_str(); }
    const String& hookString() const { return m_strHook; }
    Ini::IniFile* iniFile() const { return m_pIniFile; }
    IniHook* next() const { return m_pNext; }

private:
    friend class ConfigFile;

    Node* m_pElement;
    String m_strHook;
    Ini::IniFile* m_pIniFile;
    IniHook* m_pNext;
};

} // namespace Xml
