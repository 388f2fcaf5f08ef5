#include "logger/target.h"

#include "xml/xml.h"

#include <cstdlib>
#include <cstring>
#include <string>

namespace Logger {

namespace {

// Sets the fields named in a ";"-separated list on or off; unknown names
// are ignored.
void setFields(bool* fields, const char* list, bool on)
{
    if (list == nullptr)
        return;
    const char* p = list;
    for (;;) {
        const char* end = std::strchr(p, ';');
        const size_t n = end != nullptr ? static_cast<size_t>(end - p) : std::strlen(p);
        for (int32_t i = 0; i < kFieldCount; ++i) {
            if (std::strlen(kFieldNames[i]) == n && std::strncmp(kFieldNames[i], p, n) == 0)
                fields[i] = on;
        }
        if (end == nullptr)
            break;
        p = end + 1;
    }
}

} // namespace

Target::~Target()
{
    delete formatter;
    delete sender;
}

bool Target::accepts(int32_t type) const
{
    if (type == 0 && fields[kFieldZero])
        return true;
    const uint32_t bit = static_cast<uint32_t>(static_cast<int64_t>(type) - 1) & 31u;
    return (mask >> bit) & 1u;
}

uint32_t Target::levelMask(long level)
{
    if (level <= 0)
        return 0;
    switch (level) {
    case 1:
        return 5;
    case 2:
        return 7;
    case 3:
        return 15;
    case 4:
    case 5:
        return 31;
    default:
        return 31u | (1u << (static_cast<uint64_t>(level - 1) % 32));
    }
}

void Target::applyFilter(Xml::Node* element)
{
    if (element == nullptr)
        return;
    const char* value = element->attribute("include");
    if (value != nullptr && *value != '\0')
        setFields(fields, value, true);
    value = element->attribute("exclude");
    if (value != nullptr && *value != '\0')
        setFields(fields, value, false);
    value = element->attribute("level");
    if (value != nullptr && *value != '\0')
        mask = levelMask(std::strtol(value, nullptr, 10));
    value = element->attribute("mask");
    if (value != nullptr && *value != '\0')
        mask = static_cast<uint32_t>(std::strtoll(value, nullptr, 16));
}

} // namespace Logger
