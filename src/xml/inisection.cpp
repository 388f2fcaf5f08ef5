#include "xml/inisection.h"

#include <cstring>

namespace Ini {

Section::~Section()
{
    Item* item = m_pFirstItem;
    while (item != nullptr) {
        Item* next = item->m_pNext;
        delete item;
        item = next;
    }
}

std::string Section::foldCase(const char* text, size_t length)
{
    std::string key(text, length);
    for (char& c : key) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return key;
}

Item* Section::find(const char* name, size_t length) const
{
    if (name == nullptr)
        return nullptr;
    auto it = m_index.find(foldCase(name, length));
    return it == m_index.end() ? nullptr : it->second;
}

Item* Section::find(const char* name) const
{
    return name ? find(name, std::strlen(name)) : nullptr;
}

void Section::link(Item* item)
{
    if (m_pLastItem != nullptr)
        m_pLastItem->m_pNext = item;
    else
        m_pFirstItem = item;
    m_pLastItem = item;
}

Item* Section::append(const char* name, int32_t nameLength, const char* value, int32_t valueLength)
{
    Item* item = new Item(name, nameLength, value, valueLength);
    link(item);
    m_index.emplace(foldCase(name, static_cast<size_t>(nameLength)), item);
    return item;
}

Item* Section::appendDuplicate(Item* first, const char* name, int32_t nameLength, const char* value,
                               int32_t valueLength)
{
    Item* item = new Item(name, nameLength, value, valueLength);
    link(item);
    Item* last = first->m_pLastDuplicate ? first->m_pLastDuplicate : first;
    last->m_pNextDuplicate = item;
    first->m_pLastDuplicate = item;
    return item;
}

} // namespace Ini
