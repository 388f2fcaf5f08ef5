#pragma once
// Entity encoding and decoding of attribute values.
//
// Encoding: every byte outside 0x20..0x7E becomes "&#%04x;" of the byte taken
// as a signed value widened to 16 bits (0x0A gives "&#000a;", 0xE4 gives
// "&#ffe4;"); < > " ' & become &lt; &gt; &quot; &apos; &amp;.
// Decoding: "&#" followed by hexadecimal digits (up to four are read) gives
// the low byte of the number and consumes seven characters in all, never
// running past the end of the text; the five named entities give their
// character; any other "&" is dropped and what follows it stays.

#include "string/string.h"

namespace Xml {

void encodeEntities(const char* text, String& out);
void decodeEntities(const char* text, String& out);

} // namespace Xml
