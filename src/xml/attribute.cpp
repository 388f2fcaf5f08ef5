#include "xml/attribute.h"

namespace Xml {

std::atomic<int32_t> Attribute::s_iLive{0};

Attribute::Attribute(const char* name, const char* value)
    : m_strName(name), m_strValue(value), m_pPrev(nullptr), m_pNext(nullptr), m_ppListHead(nullptr), m_uLiteral(0)
{
    ++s_iLive;
}

Attribute::~Attribute()
{
    --s_iLive;
}

} // namespace Xml
