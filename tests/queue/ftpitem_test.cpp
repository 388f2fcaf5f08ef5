#include "queuetest.h"

#include "ftpitem.h"
#include "platform/platform.h"

#include <ctime>
#include <regex>
#include <set>

namespace {

class FTPItemTest : public QueueTest {};

const uint8_t* Bytes(const std::string& s)
{
    return reinterpret_cast<const uint8_t*>(s.data());
}

TEST_F(FTPItemTest, PrefixPaddingAndPayloadsReplacedWhole)
{
    std::vector<uint8_t> line(FTPItem::kBufferSize, 0xEE);
    int32_t length = -5;
    // A name longer than the prefix is cut and never spills into the payload.
    FTPItem longer("ABCDEFGHIJKLMN", 1, 1, nullptr, nullptr);
    longer.BuildPrefix(line.data(), length);
    EXPECT_EQ("ABCDEFGHIJ", std::string(line.begin(), line.begin() + length));
    EXPECT_EQ(std::vector<uint8_t>(line.size() - 10, 0), std::vector<uint8_t>(line.begin() + 10, line.end()));
    FTPItem item("PING", 33, 1, nullptr, nullptr);
    int32_t given = 0;
    EXPECT_EQ(0, item.SetData(nullptr, given));
    item.BuildPrefix(line.data(), length);
    EXPECT_EQ(0, item.AppendData(line.data(), length));
    EXPECT_EQ("PING      ", std::string(line.begin(), line.begin() + length));
    given = 500;
    EXPECT_EQ(500, item.SetData(Bytes(std::string(500, 'L')), given));
    const std::string shortText("ab\0c", 4);
    given = 4;
    EXPECT_EQ(4, item.SetData(Bytes(shortText), given));
    EXPECT_EQ(0, given);
    // No trace of the longer payload behind the shorter one.
    EXPECT_EQ(shortText + std::string(FTPItem::kBufferSize - 4, '\0'),
              std::string(reinterpret_cast<const char*>(item.GetData()), FTPItem::kBufferSize));
    item.BuildPrefix(line.data(), length);
    EXPECT_EQ(4, item.AppendData(line.data(), length));
    EXPECT_EQ("PING      " + shortText, std::string(line.begin(), line.begin() + length));
    // Too long or a negative length: refused, the stored payload untouched.
    for (int32_t bad : {FTPItem::kMaxSendPayload + 1, -1}) {
        given = bad;
        EXPECT_EQ(-1, item.SetData(Bytes(std::string(40000, 'y')), given));
        EXPECT_EQ(4, item.GetDataLen());
    }
}

TEST_F(FTPItemTest, TempPathFromConfiguration)
{
    EXPECT_EQ("", FTPItem("HPDATA", 13, 0, nullptr, nullptr).GetTempPath());
    SetParm("GLOBAL.WORK_DIR", "w");
    const std::string w = std::string(1, Platform::pathSeparator) + "w";
    EXPECT_EQ(w, FTPItem("HPDATA", 13, 0, nullptr, nullptr).GetTempPath());
    SetParm("GLOBAL.TEMP_PATH", "/var/tmp");
    EXPECT_EQ("/var/tmp" + w, FTPItem("HPDATA", 13, 0, nullptr, nullptr).GetTempPath());
    TearDown();
    SetUp();
    SetParm("GLOBAL.TEMP_PATH", "/var/tmp");
    EXPECT_EQ("/var/tmp", FTPItem("HPDATA", 13, 0, nullptr, nullptr).GetTempPath());
}

TEST_F(FTPItemTest, TempFileNamesAreLocalTimeMillisecondsAndRandom)
{
    FTPItem item("HPDATA", 13, 0, nullptr, nullptr);
    std::set<std::string> randoms;
    const auto stamp = [](std::time_t t) {
        std::tm tm{};
        Platform::localTime(t, tm);
        char text[32];
        std::strftime(text, sizeof(text), "%Y%m%d%H%M%S", &tm);
        return std::string(text);
    };
    for (int i = 0; i < 40; ++i) {
        const std::string low = stamp(std::time(nullptr));
        const std::string name = item.MakeTempFileName();
        const std::string high = stamp(std::time(nullptr));
        std::smatch m; // 14 digits of the stamp, milliseconds without leading zeros, "-", 4 digits from 1000
        ASSERT_TRUE(std::regex_match(name, m, std::regex(R"((\d{14})(0|[1-9]\d{0,2})-([1-9]\d{3}))"))) << name;
        EXPECT_GE(m[1].str(), low);
        EXPECT_LE(m[1].str(), high);
        randoms.insert(m[3]);
    }
    EXPECT_GT(randoms.size(), 30u); // names of the same millisecond differ by the random part
}

} // namespace
