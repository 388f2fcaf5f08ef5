// The password's Base64 decoder. Arbitrary text must decode or be refused
// without harm, to at most three bytes per four characters; and the input
// taken as bytes must come back unchanged from its Base64 text, written
// with and without "=" padding.
#include "fuzzcheck.h"
#include "ftpmodul.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::string encode(const std::string& bytes, bool pad)
{
    static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        uint32_t v = (uint32_t(uint8_t(bytes[i])) << 16) | (uint32_t(uint8_t(bytes[i + 1])) << 8) |
                     uint8_t(bytes[i + 2]);
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += kAlphabet[(v >> 6) & 63];
        out += kAlphabet[v & 63];
    }
    size_t rest = bytes.size() - i;
    if (rest > 0) {
        uint32_t v = uint32_t(uint8_t(bytes[i])) << 16;
        if (rest == 2)
            v |= uint32_t(uint8_t(bytes[i + 1])) << 8;
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        if (rest == 2)
            out += kAlphabet[(v >> 6) & 63];
        if (pad)
            out.append(rest == 1 ? "==" : "=");
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string input(reinterpret_cast<const char*>(data), size);

    const std::string decoded = MODUL_FTP::DecodeBase64(input);
    if (decoded.size() > (size + 3) / 4 * 3)
        fail("more bytes than the text can carry");

    if (MODUL_FTP::DecodeBase64(encode(input, true)) != input)
        fail("padded Base64 text does not decode to its bytes");
    if (MODUL_FTP::DecodeBase64(encode(input, false)) != input)
        fail("unpadded Base64 text does not decode to its bytes");
    return 0;
}
