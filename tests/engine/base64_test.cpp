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
        {"QUI", "AB"}, {"QUJD", "ABC"}, {"/+8A", "\xff\xef"s + '\0'}};
    for (const auto& g : good)
        EXPECT_EQ(g.second, MODUL_FTP::DecodeBase64(g.first)) << g.first;
    EXPECT_EQ(0u, log.CountPrefix("E120 "));
    // A carriage return left on the password line is no Base64 either; "="
    // inside the text, a single character left over, too much padding and
    // the empty text are refused too, not read as zero bits.
    for (const char* text : {"@@@@", "QUJD QUJD", "QUJD\r", "\xc3\xa4QUJ", "QU-D", "QUJD\n", "QQ==QUJD", "Q",
                             "QUJD===", "", "===="})
        EXPECT_EQ("", MODUL_FTP::DecodeBase64(text)) << text;
    EXPECT_EQ(11u, log.Count("E120 Error decoding Base64"));
}

} // namespace
