#include "queuetest.h"

#include "ftpitem.h"
#include "ftpline.h"
#include "platform/platform.h"

#include <cstring>
#include <ctime>
#include <set>

namespace {

class FTPItemTest : public QueueTest {};

std::string Line(const uint8_t* line, int32_t length)
{
    return std::string(reinterpret_cast<const char*>(line), static_cast<size_t>(length));
}

bool AllZero(const uint8_t* p, size_t from, size_t to)
{
    for (size_t i = from; i < to; ++i)
        if (p[i] != 0)
            return false;
    return true;
}

TEST_F(FTPItemTest, PrefixIsTheNamePaddedToTenBytes)
{
    std::vector<uint8_t> line(FTPItem::kBufferSize, 0xEE);
    int32_t length = -5;

    FTPItem ping("PING", 100, 2, nullptr, nullptr);
    ping.BuildPrefix(line.data(), length);
    EXPECT_EQ(10, length);
    EXPECT_EQ("PING      ", Line(line.data(), 10));
    EXPECT_TRUE(AllZero(line.data(), 10, line.size()));

    FTPItem ten("ABCDEFGHIJ", 1, 1, nullptr, nullptr);
    std::fill(line.begin(), line.end(), 0xEE);
    ten.BuildPrefix(line.data(), length);
    EXPECT_EQ("ABCDEFGHIJ", Line(line.data(), 10));
    EXPECT_EQ(0, line[10]);

    // A longer name is kept to the width of the prefix and never spills
    // into the payload.
    FTPItem longer("ABCDEFGHIJKLMN", 1, 1, nullptr, nullptr);
    EXPECT_STREQ("ABCDEFGHIJ", longer.GetName());
    std::fill(line.begin(), line.end(), 0xEE);
    longer.BuildPrefix(line.data(), length);
    EXPECT_EQ("ABCDEFGHIJ", Line(line.data(), 10));
    EXPECT_TRUE(AllZero(line.data(), 10, line.size()));
}

TEST_F(FTPItemTest, SetDataAndAppendData)
{
    FTPItem item("PHSUBMIT", 33, 1, nullptr, nullptr);
    std::vector<uint8_t> line(FTPItem::kBufferSize, 0);
    int32_t length = 0;

    // Nothing stored: an empty, zeroed payload, nothing appended.
    int32_t given = 0;
    EXPECT_EQ(0, item.SetData(nullptr, given));
    EXPECT_EQ(0, item.GetDataLen());
    item.BuildPrefix(line.data(), length);
    EXPECT_EQ(0, item.AppendData(line.data(), length));
    EXPECT_EQ(10, length);

    const std::string longText(500, 'L');
    given = static_cast<int32_t>(longText.size());
    EXPECT_EQ(500, item.SetData(reinterpret_cast<const uint8_t*>(longText.data()), given));
    EXPECT_EQ(0, given);
    const std::string shortText("ab\0c", 4);
    given = 4;
    EXPECT_EQ(4, item.SetData(reinterpret_cast<const uint8_t*>(shortText.data()), given));
    EXPECT_EQ(0, given);
    EXPECT_EQ(4, item.GetDataLen());
    // No trace of the longer payload behind the shorter one.
    EXPECT_EQ(shortText, std::string(reinterpret_cast<const char*>(item.GetData()), 4));
    EXPECT_TRUE(AllZero(item.GetData(), 4, FTPItem::kBufferSize));

    item.BuildPrefix(line.data(), length);
    EXPECT_EQ(4, item.AppendData(line.data(), length));
    EXPECT_EQ(14, length);
    EXPECT_EQ("PHSUBMIT  " + shortText, Line(line.data(), length));

    // The longest payload a line to the host can carry, and one byte more.
    const std::string most(static_cast<size_t>(FTPItem::kMaxSendPayload), 'x');
    EXPECT_EQ(31989, FTPItem::kMaxSendPayload);
    given = static_cast<int32_t>(most.size());
    EXPECT_EQ(31989, item.SetData(reinterpret_cast<const uint8_t*>(most.data()), given));
    item.BuildPrefix(line.data(), length);
    EXPECT_EQ(31989, item.AppendData(line.data(), length));
    EXPECT_EQ(31999, length);

    const std::string tooLong(31990, 'y');
    given = 31990;
    EXPECT_EQ(-1, item.SetData(reinterpret_cast<const uint8_t*>(tooLong.data()), given));
    EXPECT_EQ(31990, given);
    // Refused whole: the stored payload is untouched.
    EXPECT_EQ(31989, item.GetDataLen());
    EXPECT_EQ('x', item.GetData()[0]);
    given = -1;
    EXPECT_EQ(-1, item.SetData(reinterpret_cast<const uint8_t*>(tooLong.data()), given));
    EXPECT_EQ(31989, item.GetDataLen());
}

TEST_F(FTPItemTest, TempPathFromConfiguration)
{
    EXPECT_EQ("", FTPItem("HPDATA", 13, 0, nullptr, nullptr).GetTempPath());
    SetParm("GLOBAL.WORK_DIR", "w");
    EXPECT_EQ("/w", FTPItem("HPDATA", 13, 0, nullptr, nullptr).GetTempPath());
    SetParm("GLOBAL.TEMP_PATH", "/var/tmp");
    EXPECT_EQ("/var/tmp/w", FTPItem("HPDATA", 13, 0, nullptr, nullptr).GetTempPath());

    TearDown();
    SetUp();
    SetParm("GLOBAL.TEMP_PATH", "/var/tmp");
    EXPECT_EQ("/var/tmp", FTPItem("HPDATA", 13, 0, nullptr, nullptr).GetTempPath());
}

TEST_F(FTPItemTest, TempFileNames)
{
    FTPItem item("HPDATA", 13, 0, nullptr, nullptr);
    std::set<std::string> randoms;
    for (int i = 0; i < 40; ++i) {
        const std::time_t before = std::time(nullptr);
        const std::string name = item.MakeTempFileName();
        const std::time_t after = std::time(nullptr);
        // 14 digits of the stamp, 1 to 3 of the milliseconds, "-", 4 digits.
        const std::string::size_type dash = name.find('-');
        ASSERT_NE(std::string::npos, dash) << name;
        ASSERT_GE(dash, 15u) << name;
        ASSERT_LE(dash, 17u) << name;
        ASSERT_EQ(dash + 5, name.size()) << name;
        ASSERT_EQ(std::string::npos, name.substr(0, dash).find_first_not_of("0123456789")) << name;
        ASSERT_EQ(std::string::npos, name.substr(dash + 1).find_first_not_of("0123456789")) << name;
        const std::string m[4] = {name, name.substr(0, 14), name.substr(14, dash - 14), name.substr(dash + 1)};
        // The stamp is the local time of the call.
        char low[32];
        char high[32];
        std::tm tm{};
        Platform::localTime(before, tm);
        std::strftime(low, sizeof(low), "%Y%m%d%H%M%S", &tm);
        Platform::localTime(after, tm);
        std::strftime(high, sizeof(high), "%Y%m%d%H%M%S", &tm);
        EXPECT_GE(m[1], std::string(low));
        EXPECT_LE(m[1], std::string(high));
        // Milliseconds without leading zeros.
        EXPECT_TRUE(m[2] == "0" || m[2][0] != '0') << name;
        EXPECT_LE(std::stoi(m[2]), 999);
        const int random = std::stoi(m[3]);
        EXPECT_GE(random, 1000);
        EXPECT_LE(random, 9999);
        randoms.insert(m[3]);
    }
    // Names made in the same millisecond differ by their random part.
    EXPECT_GT(randoms.size(), 30u);
}

} // namespace
