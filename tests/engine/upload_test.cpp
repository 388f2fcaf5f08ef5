#include "enginetest.h"

#include "socketftp.h"

#include <string>
#include <unistd.h>
#include <vector>

namespace {

// A line to the host: 31999 bytes less the 10-byte prefix (not UploadReader's, so raising it fails here).
const size_t kLine = 31989;

struct Pieces {
    std::vector<std::string> pieces;
    int end = 0;      // the last result of Next: 0 end of file, -1 error, -2 bad line
    int64_t line = 0; // the line of the last piece
};

// Cuts content as an upload of the given mode would.
Pieces Cut(const std::string& content, bool hex, bool binary)
{
    Pieces out;
    std::FILE* file = std::tmpfile();
    std::fwrite(content.data(), 1, content.size(), file);
    std::rewind(file);
    UploadReader reader(file, hex, binary);
    std::vector<uint8_t> piece(UploadReader::kMaxPiece + 1, 0xEE);
    for (;;) {
        int32_t length = -1;
        const int r = reader.Next(piece.data(), length);
        if (r != 1) {
            out.end = r;
            out.line = reader.PieceLine();
            EXPECT_EQ(0, length);
            break;
        }
        EXPECT_GE(length, 0);
        EXPECT_LE(length, static_cast<int32_t>(kLine));
        // A zero byte follows every piece, so an empty one reads as empty text.
        EXPECT_EQ(0, piece[static_cast<size_t>(length)]);
        out.pieces.emplace_back(reinterpret_cast<const char*>(piece.data()), static_cast<size_t>(length));
    }
    std::fclose(file);
    return out;
}

using Texts = std::vector<std::string>;

TEST(UploadReaderTest, TextLinesLoseTheirLineFeedOnlyAndLongOnesAreCut)
{
    EXPECT_EQ((Texts{"one", "two", "", "last"}), Cut("one\ntwo\n\nlast", false, false).pieces);
    EXPECT_EQ((Texts{"one", ""}), Cut("one\n\n", false, false).pieces);
    EXPECT_EQ(Texts{}, Cut("", false, false).pieces);
    // A carriage return before the line feed is part of the record.
    EXPECT_EQ((Texts{"a\r", "b\r", "\r"}), Cut("a\r\nb\r\n\r\n", false, false).pieces);
    // Zero bytes inside a line count.
    EXPECT_EQ((Texts{std::string("a\0b", 3), std::string(1, '\0')}),
              Cut(std::string("a\0b\n\0\n", 6), false, false).pieces);
    EXPECT_EQ(0, Cut("x\n", false, false).end);
    // Exactly the largest piece: one piece, its line feed with it.
    EXPECT_EQ((Texts{std::string(kLine, 'a'), "b"}), Cut(std::string(kLine, 'a') + "\nb\n", false, false).pieces);
    // One byte more: a second piece of one byte.
    EXPECT_EQ((Texts{std::string(kLine, 'a'), "a", "b"}),
              Cut(std::string(kLine + 1, 'a') + "\nb\n", false, false).pieces);
    // Much longer, without a final line feed.
    const Pieces p = Cut(std::string(3 * kLine + 5, 'c'), false, false);
    EXPECT_EQ((Texts{std::string(kLine, 'c'), std::string(kLine, 'c'), std::string(kLine, 'c'), "ccccc"}), p.pieces);
}

TEST(UploadReaderTest, BinaryPiecesKeepTheirLineFeedsAndAreNeverDecoded)
{
    EXPECT_EQ((Texts{"41\n", "\n", std::string("\xff\x00z", 3)}),
              Cut(std::string("41\n\n\xff\x00z", 7), false, true).pieces);
    // Hexadecimal mode does not apply in binary mode.
    EXPECT_EQ((Texts{"4142\r\n"}), Cut("4142\r\n", true, true).pieces);
    // The line feed counts into the piece: after a line of the largest size, a piece of its line feed.
    EXPECT_EQ((Texts{std::string(kLine, 'x'), "\n"}), Cut(std::string(kLine, 'x') + "\n", false, true).pieces);
}

TEST(UploadReaderTest, HexLinesAreDecodedPairwise)
{
    EXPECT_EQ((Texts{"ABC", std::string("\x00\xff\x7f", 3)}), Cut("414243\n00FF7f\n", true, false).pieces);
    // CR LF ends a line like LF: no extra zero byte.
    EXPECT_EQ((Texts{"AB", "C"}), Cut("4142\r\n43\r\n", true, false).pieces);
    // A decoded line feed at the end is dropped.
    EXPECT_EQ((Texts{"ABC"}), Cut("4142430A\n", true, false).pieces);
    EXPECT_EQ((Texts{"\nA"}), Cut("0A41\n", true, false).pieces);
    // An empty line is an empty record, with LF or CR LF.
    EXPECT_EQ((Texts{"", "", "A"}), Cut("\n\r\n41", true, false).pieces);
    // A line with a digit left over: reported with its line number, not cut short.
    for (const char* odd : {"41\n414\n42\n", "41\r\n414", "\n414\r\n"}) {
        const Pieces p = Cut(odd, true, false);
        EXPECT_EQ(-2, p.end) << odd;
        EXPECT_EQ(2, p.line) << odd;
    }
}

TEST(UploadReaderTest, LongHexLinesGiveTheLargestPieces)
{
    std::string digits;
    for (size_t i = 0; i < kLine; ++i)
        digits += "C1";
    // 2 * 31989 digits: one piece, with either line end.
    EXPECT_EQ((Texts{std::string(kLine, '\xC1')}), Cut(digits + "\r\n", true, false).pieces);
    EXPECT_EQ((Texts{std::string(kLine, '\xC1'), "B"}), Cut(digits + "\n42\n", true, false).pieces);
    // Longer: cut at an even number of digits, nothing lost.
    EXPECT_EQ((Texts{std::string(kLine, '\xC1'), "\xC1\xC1"}), Cut(digits + "C1C1\r\n", true, false).pieces);
}

TEST(UploadReaderTest, ReadErrorIsReported)
{
    ScratchDir dir;
    // A stream whose descriptor was closed under it cannot be read.
    std::FILE* file = std::fopen(dir.write("f", "data").c_str(), "rb");
    ASSERT_NE(nullptr, file);
    close(fileno(file));
    UploadReader reader(file, false, false);
    std::vector<uint8_t> piece(UploadReader::kMaxPiece + 1);
    int32_t length = 0;
    EXPECT_EQ(-1, reader.Next(piece.data(), length));
    std::fclose(file); // its descriptor is gone: only the stream is freed
}

TEST(UploadReaderTest, HexPairReadsLikeStrtol)
{
    for (int a = 0; a < 256; ++a) {
        for (int b = 0; b < 256; ++b) {
            const char pair[3] = {static_cast<char>(a), static_cast<char>(b), 0};
            const uint8_t expected = static_cast<uint8_t>(std::strtol(pair, nullptr, 16));
            ASSERT_EQ(expected, UploadReader::HexPair(static_cast<uint8_t>(a), static_cast<uint8_t>(b)))
                << a << " " << b;
        }
    }
}

} // namespace
