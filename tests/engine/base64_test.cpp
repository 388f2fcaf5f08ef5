// The password's Base64 decoder (the round trip of arbitrary bytes: fuzz/fuzz_base64.cpp).
#include "enginetest.h"

#include "ftpmodul.h"

using namespace std::string_literals;

namespace {

TEST(Base64Test, DecodesWithOrWithoutPaddingAndRefusesOtherText)
{
    EngineLog log;
    const std::pair<const char*, std::string> good[] = {{"VkVYUFdEMQ==", "VEXPWD1"},
                                                        {"VkVYUFdEMQ", "VEXPWD1"},
                                                        {"VkVYUFdEMQ=", "VEXPWD1"},
                                                        {"QQ", "A"},
                                                        {"QUI", "AB"},
                                                        {"QUJD", "ABC"},
                                                        {"/+8A", "\xff\xef"s + '\0'}};
    for (const auto& g : good)
        EXPECT_EQ(g.second, MODUL_FTP::DecodeBase64(g.first)) << g.first;
    EXPECT_EQ(0u, log.CountPrefix("E120 "));
    // A CR left on the line, "=" inside, one character left over, too much padding, the empty text:
    // refused, not read as zero bits.
    for (const char* text :
         {"@@@@", "QUJD QUJD", "QUJD\r", "\xc3\xa4QUJ", "QU-D", "QUJD\n", "QQ==QUJD", "Q", "QUJD===", "", "===="})
        EXPECT_EQ("", MODUL_FTP::DecodeBase64(text)) << text;
    EXPECT_EQ(11u, log.Count("E120 Error decoding Base64"));
}

} // namespace
