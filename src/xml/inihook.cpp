#include "xml/inihook.h"

namespace Xml {

IniHook::IniHook(Node* element, const char* hookText, const char* iniPath)
    : m_pElement(element), m_strHook(hookText ? hookText : ""),
      m_pIniFile(new Ini::IniFile(iniPath, Ini::IniFile::kModeList)), m_pNext(nullptr)
{
    if (m_pElement != nullptr)
        m_pElement->addRef();
}

IniHook::~IniHook()
{
    delete m_pIniFile;
    if (m_pElement != nullptr)
        m_pElement->del();
}

} // namespace Xml
