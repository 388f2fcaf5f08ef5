#include "xml/entities.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace Xml {

namespace {

struct NamedEntity {
    const char* name; // without the leading '&', with the ';'
    size_t length;
    char character;
};

const NamedEntity kNamed[] = {
    {"lt;", 3, '<'}, {"gt;", 3, '>'}, {"quot;", 5, '"'}, {"apos;", 5, '\''}, {"amp;", 4, '&'},
};

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

void encodeEntities(const char* text, String& out)
{
    if (text == nullptr) {
        out.makeNull();
        return;
    }
    std::string buf;
    buf.reserve(std::strlen(text));
    for (const char* p = text; *p; ++p) {
        const unsigned char c = static_cast<unsigned char>(*p);
        switch (c) {
        case '<':
            buf += "&lt;";
            continue;
        case '>':
            buf += "&gt;";
            continue;
        case '"':
            buf += "&quot;";
            continue;
        case '\'':
            buf += "&apos;";
            continue;
        case '&':
            buf += "&amp;";
            continue;
        default:
            break;
        }
        if (c < 0x20 || c > 0x7E) {
            // The byte as a signed char widened to 16 bits: 0xE4 -> ffe4.
            const unsigned widened = static_cast<uint16_t>(static_cast<int16_t>(static_cast<signed char>(c)));
            char ref[16];
            std::snprintf(ref, sizeof(ref), "&#%04x;", widened);
            buf += ref;
        } else {
            buf += static_cast<char>(c);
        }
    }
    out.assign(buf.data(), static_cast<int32_t>(buf.size()));
}

void decodeEntities(const char* text, String& out)
{
    if (text == nullptr) {
        out.makeNull();
        return;
    }
    const size_t n = std::strlen(text);
    std::string buf;
    buf.reserve(n);
    size_t i = 0;
    while (i < n) {
        if (text[i] != '&') {
            buf += text[i++];
            continue;
        }
        const size_t rest = n - i; // characters from the '&' on
        if (rest >= 3 && text[i + 1] == '#' && hexValue(text[i + 2]) >= 0) {
            unsigned value = 0;
            for (size_t k = i + 2; k < i + 6 && k < n && hexValue(text[k]) >= 0; ++k)
                value = value * 16 + static_cast<unsigned>(hexValue(text[k]));
            buf += static_cast<char>(value & 0xFF);
            i += rest < 7 ? rest : 7;
            continue;
        }
        bool named = false;
        for (const NamedEntity& e : kNamed) {
            if (rest > e.length && std::strncmp(text + i + 1, e.name, e.length) == 0) {
                buf += e.character;
                i += 1 + e.length;
                named = true;
                break;
            }
        }
        if (!named)
            ++i; // a lone '&' is dropped; what follows stays
    }
    out.assign(buf.data(), static_cast<int32_t>(buf.size()));
}

} // namespace Xml
