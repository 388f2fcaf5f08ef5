// The password's Base64 decoder; the round trip of arbitrary bytes is the
// fuzz target's (fuzz/fuzz_base64.cpp).
#include "enginetest.h"

#include "ftpmodul.h"

using namespace std::string_literals;

namespace {

TEST(Base64Test, DecodesWithOrWithoutPaddingAndRefusesOtherText)
{
    EngineLog log;
    const std::pair<const char*, std::string> good[] = {
        {"VkVYUFdEMQ==", "VEXPWD1"}, {"VkVYUFdEMQ", "VEXPWD1"}, {"VkVYUFdEMQ=", "VEXPWD1"}, {"QQ", "A"},
        {"QUI", "AB"}, {"QUJD", "ABC"}, {"", ""}, {"/+8A", "\xff\xef"s + '\0'},
        // "=" inside the text counts as zero bits; one character is no byte.
        {"QQ==QUJD", std::string("A\0\0ABC", 6)}, {"Q", ""}};
    for (const auto& g : good)
        EXPECT_EQ(g.second, MODUL_FTP::DecodeBase64(g.first)) << g.first;
    EXPECT_EQ(0u, log.CountPrefix("E120 "));
    // A carriage return left on the password line is no Base64 either.
    for (const char* text : {"@@@@", "QUJD QUJD", "QUJD\r", "\xc3\xa4QUJ", "QU-D", "QUJD\n"})
        EXPECT_EQ("", MODUL_FTP::DecodeBase64(text)) << text;
    EXPECT_EQ(6u, log.Count("E120 Error decoding Base64"));
}

} // namespace
