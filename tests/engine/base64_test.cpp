#include "enginetest.h"

#include "ftpmodul.h"

#include <random>

namespace {

// A plain encoder for the round trip, with "=" padding.
std::string Encode(const std::string& bytes)
{
    static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const unsigned v = (static_cast<unsigned char>(bytes[i]) << 16) |
                           (static_cast<unsigned char>(bytes[i + 1]) << 8) | static_cast<unsigned char>(bytes[i + 2]);
        out += kAlphabet[v >> 18];
        out += kAlphabet[(v >> 12) & 63];
        out += kAlphabet[(v >> 6) & 63];
        out += kAlphabet[v & 63];
    }
    const size_t rest = bytes.size() - i;
    if (rest > 0) {
        unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
        if (rest == 2)
            v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        out += kAlphabet[v >> 18];
        out += kAlphabet[(v >> 12) & 63];
        out += rest == 2 ? kAlphabet[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

class Base64Test : public EngineTest {};

TEST_F(Base64Test, DecodesWithAndWithoutPadding)
{
    EngineLog log;
    EXPECT_EQ("VEXPWD1", MODUL_FTP::DecodeBase64("VkVYUFdEMQ=="));
    // The missing "=" are added: a length that is not a multiple of four.
    EXPECT_EQ("VEXPWD1", MODUL_FTP::DecodeBase64("VkVYUFdEMQ"));
    EXPECT_EQ("VEXPWD1", MODUL_FTP::DecodeBase64("VkVYUFdEMQ="));
    EXPECT_EQ("A", MODUL_FTP::DecodeBase64("QQ"));
    EXPECT_EQ("AB", MODUL_FTP::DecodeBase64("QUI"));
    EXPECT_EQ("ABC", MODUL_FTP::DecodeBase64("QUJD"));
    EXPECT_EQ("correct horse battery staple",
              MODUL_FTP::DecodeBase64("Y29ycmVjdCBob3JzZSBiYXR0ZXJ5IHN0YXBsZQ=="));
    EXPECT_EQ(0u, log.CountPrefix("E120 "));
}

TEST_F(Base64Test, TextThatIsNotBase64GivesNothingAndALogLine)
{
    EngineLog log;
    // "=" inside the text, a single character left over, too much padding
    // and the empty text are refused too, not read as zero bits.
    const char* const bad[] = {"@@@@", "QUJD QUJD", "QUJD\r", "\xc3\xa4QUJ", "QU-D", "QUJD\n",
                               "QQ==QUJD", "Q", "QUJD===", "", "===="};
    for (const char* text : bad)
        EXPECT_EQ("", MODUL_FTP::DecodeBase64(text)) << text;
    EXPECT_EQ(11u, log.Count("E120 Error decoding Base64"));
}

TEST_F(Base64Test, RoundTripOfEveryByte)
{
    std::mt19937 random(4711);
    for (size_t length = 0; length < 64; ++length) {
        std::string bytes;
        for (size_t i = 0; i < length; ++i)
            bytes += static_cast<char>(random() & 0xFF);
        const std::string text = Encode(bytes);
        EXPECT_EQ(bytes, MODUL_FTP::DecodeBase64(text)) << text;
        // Without its padding as well.
        const std::string bare = text.substr(0, text.find('='));
        EXPECT_EQ(bytes, MODUL_FTP::DecodeBase64(bare)) << bare;
    }
}

} // namespace
