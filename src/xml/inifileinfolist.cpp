#include "xml/inifileinfolist.h"

namespace Ini {

IniFileInfoList::~IniFileInfoList()
{
    clear();
}

void IniFileInfoList::add(const char* path, int64_t modified)
{
    IniFileInfo* info = new IniFileInfo(path, modified);
    info->m_pNext = m_pFirst;
    m_pFirst = info;
    ++m_iCount;
}

void IniFileInfoList::clear()
{
    while (m_pFirst != nullptr) {
        IniFileInfo* next = m_pFirst->m_pNext;
        delete m_pFirst;
        m_pFirst = next;
    }
    m_iCount = 0;
}

} // namespace Ini
