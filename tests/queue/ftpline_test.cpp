#include "queuetest.h"

#include "ftpitem.h"
#include "ftpline.h"
#include "mysqlite.h"
#include "platform/platform.h"

#include <cstdlib>
#include <cstring>
#include <deque>

namespace {

// Builds its line as the items sent to the host do: prefix, payload.
class SendItem : public FTPItem {
public:
    SendItem(const char* name, FTPLine* line) : FTPItem(name, 900, 1, &line->GetFlags()->m_iReadEnabled, line) {}
    void BuildSendString(uint8_t* pLine, int32_t& iLength, int32_t& iHandOver) override
    {
        BuildPrefix(pLine, iLength);
        AppendData(pLine, iLength);
        iHandOver = 1;
    }
};

std::string RecordText(const SendRecord& record)
{
    return std::string(reinterpret_cast<const char*>(record.m_data), static_cast<size_t>(record.m_iLength));
}

const uint8_t* Bytes(const std::string& s)
{
    return reinterpret_cast<const uint8_t*>(s.c_str());
}

class FTPLineTest : public QueueTest {
protected:
    Exchange m_flags;
    SendQueue m_queue;
};

TEST_F(FTPLineTest, ItemNamesAreTrimmedExactAndElevenCharactersLong)
{
    FTPLine line(&m_flags, &m_queue, nullptr);
    LogCapture log;
    FTPItem* getfile = line.FindFTPItem("PHGETFILE");
    ASSERT_NE(nullptr, getfile);
    EXPECT_EQ(getfile, line.FindFTPItem(" \t\r\n\f\vPHGETFILE\r\n"));
    for (const char* bad : {"phgetfile", "PHGET FILE", "PHGETFIL", "", "   "})
        EXPECT_EQ(nullptr, line.FindFTPItem(bad)) << bad;
    EXPECT_EQ(nullptr, line.FindFTPItem(nullptr));
    // Logged with the text as it came, untrimmed.
    EXPECT_EQ(1u, log.Count("I120 ERROR: unrecognized FTP data item with prefix: PHGET FILE"));
    EXPECT_EQ(6u, log.CountPrefix("I120 ERROR: unrecognized FTP data item with prefix:"));
    line.QueueFTPItem(0, "PHGETFILE  and more", Bytes("x"), 0);
    EXPECT_EQ(41, m_queue.Pop()->m_iItemId);
    const std::string huge(100000, 'P');
    for (const char* bad : {"PHGETFILEXYZ", huge.c_str(), ""})
        EXPECT_EQ(0, line.QueueFTPItem(0, bad, Bytes("x"), 0));
    EXPECT_EQ(0u, m_queue.Size());
}

TEST_F(FTPLineTest, MsgIdHandShake)
{
    FTPLine line(&m_flags, &m_queue, nullptr);
    LogCapture log;
    const std::string bad = "E120 ERROR: Bad hand-shake sequence of MsgID: ";
    // {MsgID, item, MsgID after}: 0 leaves it alone, an unknown name changes nothing,
    // out of sequence is logged and taken, the largest value does not overflow the check.
    const std::vector<std::tuple<int32_t, const char*, int32_t>> steps = {
        {1, "PHREADY", 1},
        {2, "PHSUBMIT", 2},
        {3, "PHGETFILE", 3},
        {5, "PHDELETE", 5},
        {0, "PHDATA", 5},
        {6, "phsubmit", 5},
        {INT32_MAX, "PING", INT32_MAX},
        {INT32_MIN, "PING", INT32_MIN},
    };
    for (const auto& s : steps) {
        line.QueueFTPItem(std::get<0>(s), std::get<1>(s), Bytes("x"), 0);
        EXPECT_EQ(std::get<2>(s), line.m_iLastMsgId.load()) << std::get<1>(s);
    }
    EXPECT_EQ(1u, log.Count(bad + "last=3, current=5"));
    EXPECT_EQ(1u, log.Count(bad + "last=5, current=2147483647"));
    EXPECT_EQ(1u, log.Count(bad + "last=2147483647, current=-2147483648"));
    EXPECT_EQ(3u, log.CountPrefix(bad));
    EXPECT_EQ(0, m_flags.LastRequestItem()); // only the line that passes the turn sets it, when sent
    EXPECT_EQ(5u, m_queue.Size());           // PING sends nothing
}

TEST_F(FTPLineTest, QueuedRecordsAndThePayloadLimit)
{
    FTPLine line(&m_flags, &m_queue, nullptr);
    line.AddNewFTPItem(new SendItem("PHTEST", &line));
    const std::string withNul("ab\0cd", 5);
    EXPECT_EQ(1, line.QueueFTPItem(2, "PHTEST", Bytes(withNul), 0)); // length 0: up to the first NUL
    EXPECT_EQ(1, line.QueueFTPItem(3, "PHTEST", Bytes(withNul), 5)); // a given length: the bytes as they are
    EXPECT_EQ(1, line.QueueFTPItem(0, "PHTEST", nullptr, 0));        // no payload: the one held
    // A drain takes a batch and puts back what it did not send: the order stays as queued.
    std::deque<std::unique_ptr<SendRecord>> taken;
    EXPECT_EQ(2u, m_queue.PopBatch(taken, 2));
    m_queue.PushFront(taken);
    EXPECT_TRUE(taken.empty());
    EXPECT_EQ("PHTEST    ab", RecordText(*m_queue.Pop()));
    EXPECT_EQ("PHTEST    " + withNul, RecordText(*m_queue.Pop()));
    EXPECT_EQ("PHTEST    " + withNul, RecordText(*m_queue.Pop()));
    // The longest payload fills a record of 31999 bytes; one byte more is refused whole.
    const std::string most(31989, 'm');
    EXPECT_EQ(1, line.QueueFTPItem(4, "PHTEST", Bytes(most), 0));
    EXPECT_EQ("PHTEST    " + most, RecordText(*m_queue.Pop()));
    LogCapture log;
    const std::string huge(1024 * 1024, 'h');
    EXPECT_EQ(0, line.QueueFTPItem(5, "PHTEST", Bytes(most + "t"), 0));
    EXPECT_EQ(0, line.QueueFTPItem(6, "PHTEST", Bytes(huge), static_cast<int32_t>(huge.size())));
    EXPECT_EQ(0u, m_queue.Size());
    EXPECT_EQ(1u, log.CountPrefix("E121 ERROR: payload of PHTEST refused: 31990 bytes"));
    EXPECT_EQ(1u, log.CountPrefix("E121 ERROR: payload of PHTEST refused: 1048576 bytes"));
    EXPECT_EQ(6, line.m_iLastMsgId.load()); // refused requests are still followed
}

TEST_F(FTPLineTest, SplitterFindsRecordsAtTheFrontOfABlock)
{
    const std::vector<std::pair<std::string, SplitResult>> steps = {
        {"", SplitResult::Empty},
        {"xHPMSG     ", SplitResult::DropByte},
        {"H", SplitResult::Wait},
        {"HPMSG    ", SplitResult::Wait},
        {"HXMSG     ", SplitResult::DropByte},
        {"HPMSG    x", SplitResult::DropByte},
        {"HPEOD     ", SplitResult::Record},
    };
    for (const auto& s : steps)
        EXPECT_EQ(s.second, FTPLine::SplitRecord(Bytes(s.first), s.first.size()).m_result) << s.first;

    std::vector<std::string> seen;
    std::vector<uint8_t> buffer;
    auto feed = [&](const std::string& block) {
        buffer.insert(buffer.end(), block.begin(), block.end());
        FTPLine::SplitBlock(buffer, [&seen](const char* prefix, uint8_t* payload, int32_t length) {
            seen.push_back(prefix +
                           ("|" + std::string(reinterpret_cast<const char*>(payload), static_cast<size_t>(length))));
        });
        return buffer.size();
    };
    EXPECT_EQ(0u, feed(std::string("\x00\x01zzHHPMSG     RC=0", 19))); // garbage in front dropped byte by byte
    EXPECT_EQ(0u, feed("HPEOD     "));                                 // 10 bytes: empty payload
    EXPECT_EQ(0u, feed("no header in here"));
    EXPECT_EQ(4u, feed("HPTX")); // an incomplete header waits
    EXPECT_EQ(0u, feed("T     hello"));
    // Binary download bytes that read like headers stay in their record.
    std::string binary(100, '\xC1');
    for (int i = 0; i < 3000; ++i)
        binary.push_back(static_cast<char>((i * 37) % 256));
    binary += "HPDATA    " + std::string(3, '\0') + "HP1234567 ";
    EXPECT_EQ(0u, feed("HPBIN     " + binary));
    EXPECT_EQ((std::vector<std::string>{"HPMSG     |RC=0", "HPEOD     |", "HPTXT     |hello", "HPBIN     |" + binary}),
              seen);
}

class FTPLineDbTest : public FTPLineTest {
protected:
    void SetUp() override
    {
        FTPLineTest::SetUp();
        ASSERT_EQ(1, m_db.Create(g_pszDbCreateScript));
    }
    MySqlite m_db{m_dir.file("vexlink.db").c_str()};
    FrontEnd m_fe{m_dir.file("vexlink.db")};
};

TEST_F(FTPLineDbTest, ResponseAndSystemRowsKeepQuotesAndEveryByte)
{
    FTPLine line(&m_flags, &m_queue, &m_db);
    line.QueueFTPItem(2, "PHSUBMIT", Bytes("job"), 0);
    std::string payload = "it's a 'quoted' text; DROP TABLE Response; --";
    for (int c = 0x80; c <= 0xff; ++c)
        payload.push_back(static_cast<char>(c));
    const std::string quotes(31989, '\''); // doubles to a statement far above a line
    const std::vector<std::tuple<const char*, std::string, const char*>> rows = {
        {"HPTXT", payload, nullptr},
        {"HPTXT", payload, "/tmp/o'brien's file"},
        {"HPMSG", "RC=0", nullptr},
        {"HPEOD", quotes, nullptr}};
    for (const auto& r : rows) {
        FTPItem* item = line.FindFTPItem(std::get<0>(r));
        const int32_t size = static_cast<int32_t>(std::get<1>(r).size());
        int32_t length = size;
        ASSERT_EQ(size, item->SetData(Bytes(std::get<1>(r)), length));
        EXPECT_EQ(1, line.InsertResponse(item, std::get<2>(r), nullptr));
    }
    // A host message is always filed under Id 0.
    EXPECT_EQ((std::vector<std::vector<std::string>>{{"2", "integer", "HPTXT", payload, ""},
                                                     {"2", "integer", "HPTXT", payload, "/tmp/o'brien's file"},
                                                     {"0", "integer", "HPMSG", "RC=0", ""},
                                                     {"2", "integer", "HPEOD", quotes, ""}}),
              m_fe.Rows("SELECT Id, typeof(Id), Cmd, Data, File FROM Response ORDER BY ROWID"));
    EXPECT_EQ(-4, line.InsertResponse(line.FindFTPItem("HPTXT"), nullptr, "DELETE FROM Nowhere"));

    FTPItem* ready = line.FindFTPItem("HPREADY");
    EXPECT_EQ(1, line.InsertSystemPid(ready));
    EXPECT_EQ((std::vector<std::vector<std::string>>{{std::to_string(Platform::processId()), "integer"}}),
              m_fe.Rows("SELECT PID, typeof(PID) FROM System"));
    EXPECT_EQ(1, line.ResetSystemPid(ready));
    EXPECT_EQ("-1", m_fe.Rows("SELECT PID FROM System")[0][0]);
    // Without a database every write is refused instead of reaching a missing connection.
    FTPLine none(&m_flags, &m_queue, nullptr);
    LogCapture log;
    EXPECT_EQ(-1, none.InsertSystemPid(ready));
    EXPECT_EQ(-1, none.ResetSystemPid(ready));
    EXPECT_EQ(-1, none.InsertResponse(ready, "file", "INSERT INTO System (PID) VALUES ('1')"));
    EXPECT_EQ(1u, m_fe.Rows("SELECT PID FROM System").size());
    EXPECT_EQ(3u, log.Count("E121 ERROR: no database, the row of HPREADY is not written"));
}

TEST_F(FTPLineDbTest, RequestRowsWithAnyBytesAreQueuedRefusedOrIgnored)
{
    FTPLine line(&m_flags, &m_queue, &m_db);
    line.AddNewFTPItem(new SendItem("PHTEST", &line));
    line.QueueFTPItem(1, "PHREADY", nullptr, 0);
    const std::string quotes = "a 'b' \"c\" ''";
    m_fe.InsertRequest("2", "PHTEST", quotes, "");
    m_fe.InsertRequest("3", "PHTEST", std::string(1024 * 1024, 'D'), "");
    m_fe.InsertRequest("4", "", "", "");
    m_fe.InsertRequest("abc", "PHTEST", "x", "");
    m_fe.InsertRequest("6", std::string("PHTEST\0hidden", 13), "y", "");
    // What the send thread does with each row: fetch, delete, queue.
    std::vector<int32_t> results, lastMsgIds;
    std::vector<std::string> cols;
    while (m_db.Get(cols) == 1) {
        ASSERT_EQ(1, m_db.Query(("DELETE FROM Request WHERE ROWID=" + cols[0]).c_str()));
        results.push_back(line.QueueFTPItem(std::atoi(cols[1].c_str()), cols[2].c_str(), Bytes(cols[3]), 0));
        lastMsgIds.push_back(line.m_iLastMsgId);
    }
    EXPECT_EQ((std::vector<int32_t>{1, 0, 0, 1, 1}), results);
    EXPECT_EQ((std::vector<int32_t>{2, 3, 3, 3, 6}), lastMsgIds);
    ASSERT_EQ(4u, m_queue.Size());
    m_queue.Pop(); // PHREADY
    EXPECT_EQ("PHTEST    " + quotes, RecordText(*m_queue.Pop()));
    EXPECT_EQ("PHTEST    x", RecordText(*m_queue.Pop()));
    EXPECT_EQ("PHTEST    y", RecordText(*m_queue.Pop()));
    EXPECT_TRUE(m_fe.Rows("SELECT * FROM Request").empty());
}

} // namespace
