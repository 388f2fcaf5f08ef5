// The password's Base64 decoder: any text decodes or is refused to at most 3 bytes per 4
// characters; the input's Base64 text, padded or not, decodes back to it.
#include "fuzzcheck.h"
#include "ftpmodul.h"

namespace {

// Six bits per character, the last group cut to the characters its bytes need.
std::string encode(const std::string& bytes, bool pad)
{
    static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (size_t i = 0; i < bytes.size(); i += 3) {
        const size_t n = std::min<size_t>(3, bytes.size() - i);
        uint32_t v = 0;
        for (size_t k = 0; k < 3; ++k)
            v = (v << 8) | (k < n ? uint8_t(bytes[i + k]) : 0);
        for (size_t k = 0; k <= n; ++k)
            out += kAlphabet[(v >> (18 - 6 * k)) & 63];
        if (pad)
            out.append(3 - n, '=');
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
