#include "queuetest.h"

#include "ftpitem.h"
#include "ftpline.h"
#include "mysqlite.h"
#include "platform/platform.h"

#include <cstdlib>
#include <cstring>
#include <deque>

namespace {

// Builds its line the way the items sent to the host do: prefix, payload.
class SendItem : public FTPItem {
public:
    SendItem(const char* name, FTPLine* line, int32_t handOver)
        : FTPItem(name, 900, 1, &line->GetFlags()->m_iReadEnabled, line), m_iHandOverOut(handOver)
    {
    }
    void BuildSendString(uint8_t* pLine, int32_t& iLength, int32_t& iHandOver) override
    {
        BuildPrefix(pLine, iLength);
        AppendData(pLine, iLength);
        iHandOver = m_iHandOverOut;
    }
    int32_t m_iHandOverOut;
};

// Collects the records handed to it, as an item from the host would get them.
class CollectItem : public FTPItem {
public:
    CollectItem(const char* name, FTPLine* line) : FTPItem(name, 901, 0, nullptr, line) {}
    void SaveReceivedString(uint8_t* pBytes, int32_t& iLength) override
    {
        FTPItem::SaveReceivedString(pBytes, iLength);
        m_records.emplace_back(reinterpret_cast<const char*>(pBytes), static_cast<size_t>(iLength));
        iLength = 0;
    }
    std::vector<std::string> m_records;
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

TEST_F(FTPLineTest, FindTrimsWhiteSpaceAndMatchesCase)
{
    FTPLine line(&m_flags, &m_queue, nullptr);
    LogCapture log;
    FTPItem* getfile = line.FindFTPItem("PHGETFILE");
    ASSERT_NE(nullptr, getfile);
    EXPECT_EQ(getfile, line.FindFTPItem("PHGETFILE "));
    EXPECT_EQ(getfile, line.FindFTPItem(" \t\r\n\f\vPHGETFILE\r\n"));
    EXPECT_EQ(line.FindFTPItem("HPMSG"), line.FindFTPItem("HPMSG     "));
    EXPECT_EQ(nullptr, line.FindFTPItem("phgetfile"));
    EXPECT_EQ(nullptr, line.FindFTPItem("PHGET FILE"));
    EXPECT_EQ(nullptr, line.FindFTPItem("PHGETFIL"));
    EXPECT_EQ(nullptr, line.FindFTPItem(""));
    EXPECT_EQ(nullptr, line.FindFTPItem("   "));
    EXPECT_EQ(nullptr, line.FindFTPItem(nullptr));
    // The search is logged with the text as it came, untrimmed.
    EXPECT_EQ(1u, log.Count("I120 ERROR: unrecognized FTP data item with prefix: phgetfile"));
    EXPECT_EQ(1u, log.Count("I120 ERROR: unrecognized FTP data item with prefix: PHGET FILE"));
    EXPECT_EQ(1u, log.Count("I120 ERROR: unrecognized FTP data item with prefix:    "));
    EXPECT_EQ(6u, log.CountPrefix("I120 ERROR: unrecognized FTP data item with prefix:"));
    EXPECT_EQ(6u, log.Lines().size());
}

TEST_F(FTPLineTest, MsgIdHandShakeAndLastRequestItem)
{
    FTPLine line(&m_flags, &m_queue, nullptr);
    LogCapture log;
    const std::string badSequence = "E120 ERROR: Bad hand-shake sequence of MsgID: ";
    EXPECT_EQ(0, line.m_iLastMsgId.load());

    // The hand-shake follows every request that is found; the lines to the
    // host are queued (PING sends nothing). The last request is not set by
    // queueing: only the line that passes the turn sets it, when sent.
    line.QueueFTPItem(1, "PHREADY", nullptr, 0);
    EXPECT_EQ(1, line.m_iLastMsgId.load());
    line.QueueFTPItem(2, "PHSUBMIT", Bytes("job"), 0);
    EXPECT_EQ(2, line.m_iLastMsgId.load());
    line.QueueFTPItem(3, "PHGETFILE", Bytes("dsn"), 0);
    EXPECT_EQ(3, line.m_iLastMsgId.load());
    EXPECT_EQ(0u, log.CountPrefix(badSequence));
    // Out of sequence: logged, and the MsgID is taken all the same.
    line.QueueFTPItem(5, "PHDELETE", Bytes("dsn"), 0);
    EXPECT_EQ(5, line.m_iLastMsgId.load());
    EXPECT_EQ(1u, log.Count(badSequence + "last=3, current=5"));
    EXPECT_EQ(1u, log.CountPrefix(badSequence));
    // MsgID 0 (upload pieces, rows without a number) leaves it alone.
    line.QueueFTPItem(0, "PHDATA", Bytes("rec"), 0);
    EXPECT_EQ(5, line.m_iLastMsgId.load());
    EXPECT_EQ(1u, log.CountPrefix(badSequence));
    // An unknown name changes neither value.
    EXPECT_EQ(0, line.QueueFTPItem(6, "phsubmit", Bytes("x"), 0));
    EXPECT_EQ(5, line.m_iLastMsgId.load());
    EXPECT_EQ(0, m_flags.LastRequestItem());
    // The largest MsgID is followed without overflow in the check.
    line.QueueFTPItem(INT32_MAX, "PING", nullptr, 0);
    line.QueueFTPItem(INT32_MIN, "PING", nullptr, 0);
    EXPECT_EQ(INT32_MIN, line.m_iLastMsgId.load());
    EXPECT_EQ(1u, log.Count(badSequence + "last=5, current=2147483647"));
    EXPECT_EQ(1u, log.Count(badSequence + "last=2147483647, current=-2147483648"));
    // PHREADY, PHSUBMIT, PHGETFILE, PHDELETE, PHDATA.
    EXPECT_EQ(5u, m_queue.Size());
}

TEST_F(FTPLineTest, OnlyElevenCharactersOfTheNameCount)
{
    FTPLine line(&m_flags, &m_queue, nullptr);
    line.QueueFTPItem(0, "PHGETFILE  and more", Bytes("x"), 0);
    EXPECT_EQ(41, m_queue.Pop()->m_iItemId);
    line.QueueFTPItem(0, "  PHDELETE", Bytes("x"), 0);
    EXPECT_EQ(34, m_queue.Pop()->m_iItemId);
    // Eleven characters that are a longer word: not an item.
    EXPECT_EQ(0, line.QueueFTPItem(0, "PHGETFILEXYZ", Bytes("x"), 0));
    const std::string huge(100000, 'P');
    EXPECT_EQ(0, line.QueueFTPItem(0, huge.c_str(), Bytes("x"), 0));
    EXPECT_EQ(0, line.QueueFTPItem(0, "", Bytes("x"), 0));
    EXPECT_EQ(0, line.QueueFTPItem(0, nullptr, Bytes("x"), 0));
    EXPECT_EQ(0u, m_queue.Size());
}

TEST_F(FTPLineTest, QueuedSendRecords)
{
    FTPLine line(&m_flags, &m_queue, nullptr);
    line.AddNewFTPItem(new SendItem("PHTEST", &line, 1));
    line.AddNewFTPItem(new SendItem("PHQUICK", &line, 0));

    // Length 0: the payload's text length, up to its first zero byte.
    const std::string withNul("ab\0cd", 5);
    EXPECT_EQ(1, line.QueueFTPItem(2, "PHTEST", Bytes(withNul), 0));
    // A given length takes the bytes as they are.
    EXPECT_EQ(1, line.QueueFTPItem(3, "PHQUICK ", Bytes(withNul), 5));
    // No payload: the item keeps the one it holds.
    EXPECT_EQ(1, line.QueueFTPItem(0, "PHQUICK", nullptr, 0));
    ASSERT_EQ(3u, m_queue.Size());

    // A drain takes a batch and puts back what it did not send: the order
    // stays as queued.
    std::deque<std::unique_ptr<SendRecord>> taken;
    EXPECT_EQ(2u, m_queue.PopBatch(taken, 2));
    EXPECT_EQ(1u, m_queue.Size());
    m_queue.PushFront(taken);
    EXPECT_TRUE(taken.empty());

    auto first = m_queue.Pop();
    EXPECT_EQ("PHTEST    ab", RecordText(*first));
    EXPECT_EQ(1, first->m_iHandOver);
    auto second = m_queue.Pop();
    EXPECT_EQ("PHQUICK   " + withNul, RecordText(*second));
    EXPECT_EQ(0, second->m_iHandOver);
    auto third = m_queue.Pop();
    EXPECT_EQ(RecordText(*second), RecordText(*third));
    EXPECT_EQ(nullptr, m_queue.Pop());

    // The longest payload that reaches the host fills a record of 31999 bytes.
    const std::string most(31989, 'm');
    EXPECT_EQ(1, line.QueueFTPItem(4, "PHTEST", Bytes(most), 0));
    auto full = m_queue.Pop();
    ASSERT_NE(nullptr, full);
    EXPECT_EQ(31999, full->m_iLength);
    EXPECT_EQ("PHTEST    " + most, RecordText(*full));

    // One byte more is refused whole: no record, not even a partial one.
    LogCapture log;
    const std::string tooLong(31990, 't');
    EXPECT_EQ(0, line.QueueFTPItem(5, "PHTEST", Bytes(tooLong), 0));
    const std::string huge(1024 * 1024, 'h');
    EXPECT_EQ(0, line.QueueFTPItem(6, "PHTEST", Bytes(huge), 0));
    EXPECT_EQ(0, line.QueueFTPItem(7, "PHTEST", Bytes(huge), static_cast<int32_t>(huge.size())));
    EXPECT_EQ(0u, m_queue.Size());
    EXPECT_EQ(1u, log.CountPrefix("E121 ERROR: payload of PHTEST refused: 31990 bytes"));
    EXPECT_EQ(2u, log.CountPrefix("E121 ERROR: payload of PHTEST refused: 1048576 bytes"));
    // The MsgIDs of refused requests are still followed.
    EXPECT_EQ(7, line.m_iLastMsgId.load());

    // An item that builds nothing queues nothing.
    EXPECT_EQ(0, line.QueueFTPItem(8, "PING", Bytes("echo"), 0));
    EXPECT_EQ(0u, m_queue.Size());
}

TEST_F(FTPLineTest, SplitterFindsRecordsAtTheFrontOfABlock)
{
    auto split = [](const std::string& s) {
        return FTPLine::SplitRecord(reinterpret_cast<const uint8_t*>(s.data()), s.size());
    };
    EXPECT_EQ(SplitResult::Empty, split("").m_result);
    EXPECT_EQ(SplitResult::DropByte, split("xHPMSG     ").m_result);
    EXPECT_EQ(SplitResult::Wait, split("H").m_result);
    EXPECT_EQ(SplitResult::Wait, split("HPMSG    ").m_result);
    EXPECT_EQ(SplitResult::DropByte, split("HXMSG     ").m_result);
    EXPECT_EQ(SplitResult::DropByte, split("HPMSG    x").m_result);
    const SplitStep ten = split("HPEOD     ");
    EXPECT_EQ(SplitResult::Record, ten.m_result);
    EXPECT_EQ(10u, ten.m_nLength);

    struct Seen {
        std::string prefix;
        std::string payload;
    };
    std::vector<Seen> seen;
    auto collect = [&seen](const char* prefix, uint8_t* payload, int32_t length) {
        seen.push_back({prefix, std::string(reinterpret_cast<const char*>(payload), static_cast<size_t>(length))});
    };
    auto feed = [&collect](std::vector<uint8_t>& buffer, const std::string& block) {
        buffer.insert(buffer.end(), block.begin(), block.end());
        FTPLine::SplitBlock(buffer, collect);
    };

    std::vector<uint8_t> buffer;
    // Garbage in front is dropped byte by byte until a header stands there.
    feed(buffer, std::string("\x00\x01zzHHPMSG     RC=0", 19));
    // A record of exactly 10 bytes has an empty payload.
    feed(buffer, "HPEOD     ");
    // A block with no header at all is consumed without effect.
    feed(buffer, "no header in here");
    EXPECT_TRUE(buffer.empty());
    // An incomplete header waits for the next block.
    feed(buffer, "HPTX");
    EXPECT_EQ(4u, buffer.size());
    feed(buffer, "T     hello");
    EXPECT_TRUE(buffer.empty());
    // Bytes inside a block that read like a further header stay in the record.
    feed(buffer, "HPDATA    ab" "HPMSG     " "cd");

    ASSERT_EQ(4u, seen.size());
    EXPECT_EQ("HPMSG     ", seen[0].prefix);
    EXPECT_EQ("RC=0", seen[0].payload);
    EXPECT_EQ("HPEOD     ", seen[1].prefix);
    EXPECT_EQ("", seen[1].payload);
    EXPECT_EQ("HPTXT     ", seen[2].prefix);
    EXPECT_EQ("hello", seen[2].payload);
    EXPECT_EQ("HPDATA    ", seen[3].prefix);
    EXPECT_EQ("abHPMSG     cd", seen[3].payload);
}

TEST_F(FTPLineTest, BinaryDownloadBytesThatLookLikeHeadersArriveWhole)
{
    FTPLine line(&m_flags, &m_queue, nullptr);
    auto* sink = new CollectItem("HPBIN", &line);
    line.AddNewFTPItem(sink);

    // Records of a binary download whose bytes contain "HP", seven bytes and
    // a blank several times, at the start of the payload and near its end.
    std::vector<std::string> records;
    records.push_back(std::string("HPEOD     ") + "tail");
    records.push_back(std::string(100, '\xC1') + "HPDATA    " + std::string(3, '\0') + "HPXXXXXXX ");
    std::string mixed;
    for (int i = 0; i < 3000; ++i)
        mixed.push_back(static_cast<char>((i * 37) % 256));
    mixed += "HP1234567 ";
    records.push_back(mixed);

    std::vector<uint8_t> buffer;
    for (const std::string& payload : records) {
        const std::string block = "HPBIN     " + payload;
        buffer.insert(buffer.end(), block.begin(), block.end());
        FTPLine::SplitBlock(buffer, [&line](const char* prefix, uint8_t* bytes, int32_t length) {
            FTPItem* item = line.FindFTPItem(prefix);
            if (item != nullptr)
                item->SaveReceivedString(bytes, length);
        });
        EXPECT_TRUE(buffer.empty());
    }
    EXPECT_EQ(records, sink->m_records);
}

class FTPLineDbTest : public FTPLineTest {
protected:
    void SetUp() override
    {
        FTPLineTest::SetUp();
        m_pDb = new MySqlite(m_dir.file("vexlink.db").c_str());
        ASSERT_EQ(1, m_pDb->Create(g_pszDbCreateScript));
        m_pFrontEnd = new FrontEnd(m_dir.file("vexlink.db"));
    }
    void TearDown() override
    {
        delete m_pFrontEnd;
        delete m_pDb;
        FTPLineTest::TearDown();
    }
    MySqlite* m_pDb = nullptr;
    FrontEnd* m_pFrontEnd = nullptr;
};

TEST_F(FTPLineDbTest, ResponseRowsKeepQuotesAndEveryByte)
{
    FTPLine line(&m_flags, &m_queue, m_pDb);
    line.QueueFTPItem(2, "PHSUBMIT", Bytes("job"), 0);

    std::string payload = "it's a 'quoted' text; DROP TABLE Response; --";
    for (int c = 0x80; c <= 0xff; ++c)
        payload.push_back(static_cast<char>(c));
    FTPItem* txt = line.FindFTPItem("HPTXT");
    int32_t length = static_cast<int32_t>(payload.size());
    ASSERT_EQ(static_cast<int32_t>(payload.size()), txt->SetData(Bytes(payload), length));
    EXPECT_EQ(1, line.InsertResponse(txt, nullptr, nullptr));
    EXPECT_EQ(1, line.InsertResponse(txt, "/tmp/o'brien's file", nullptr));

    // A host message is always filed under Id 0.
    FTPItem* msg = line.FindFTPItem("HPMSG");
    length = 4;
    msg->SetData(Bytes("RC=0"), length);
    EXPECT_EQ(1, line.InsertResponse(msg, nullptr, nullptr));

    // A payload of quotes doubles to a statement far above 32000 bytes and
    // still reaches the table whole.
    const std::string quotes(31989, '\'');
    FTPItem* eod = line.FindFTPItem("HPEOD");
    length = static_cast<int32_t>(quotes.size());
    ASSERT_EQ(31989, eod->SetData(Bytes(quotes), length));
    EXPECT_EQ(1, line.InsertResponse(eod, nullptr, nullptr));

    const auto rows = m_pFrontEnd->Rows("SELECT Id, typeof(Id), Cmd, Data, File FROM Response ORDER BY ROWID");
    ASSERT_EQ(4u, rows.size());
    EXPECT_EQ("2", rows[0][0]);
    EXPECT_EQ("integer", rows[0][1]);
    EXPECT_EQ("HPTXT", rows[0][2]);
    EXPECT_EQ(payload, rows[0][3]);
    EXPECT_EQ("", rows[0][4]);
    EXPECT_EQ(payload, rows[1][3]);
    EXPECT_EQ("/tmp/o'brien's file", rows[1][4]);
    EXPECT_EQ("0", rows[2][0]);
    EXPECT_EQ("HPMSG", rows[2][2]);
    EXPECT_EQ("RC=0", rows[2][3]);
    EXPECT_EQ("2", rows[3][0]);
    EXPECT_EQ(quotes, rows[3][3]);
    EXPECT_EQ(3u, m_pFrontEnd->Rows("SELECT name FROM sqlite_master WHERE type='table'").size());

    // A statement of the caller's own.
    EXPECT_EQ(1, line.InsertResponse(txt, nullptr, "DELETE FROM Response WHERE Id=0"));
    EXPECT_EQ(3u, m_pFrontEnd->Rows("SELECT * FROM Response").size());
    EXPECT_EQ(-4, line.InsertResponse(txt, nullptr, "DELETE FROM Nowhere"));
}

TEST_F(FTPLineDbTest, SystemRowMarksTheRun)
{
    const std::string pid = std::to_string(Platform::processId());
    {
        FTPLine line(&m_flags, &m_queue, m_pDb);
        FTPItem* ready = line.FindFTPItem("HPREADY");
        EXPECT_EQ(1, line.InsertSystemPid(ready));
        auto rows = m_pFrontEnd->Rows("SELECT PID, typeof(PID) FROM System");
        ASSERT_EQ(1u, rows.size());
        EXPECT_EQ(pid, rows[0][0]);
        EXPECT_EQ("integer", rows[0][1]);
        EXPECT_EQ(1, line.ResetSystemPid(ready));
        rows = m_pFrontEnd->Rows("SELECT PID FROM System");
        ASSERT_EQ(1u, rows.size());
        EXPECT_EQ("-1", rows[0][0]);
    }
    // Without a database every write is refused instead of reaching a
    // missing connection.
    FTPLine line(&m_flags, &m_queue, nullptr);
    FTPItem* ready = line.FindFTPItem("HPREADY");
    LogCapture log;
    EXPECT_EQ(-1, line.InsertSystemPid(ready));
    EXPECT_EQ(-1, line.ResetSystemPid(ready));
    EXPECT_EQ(-1, line.InsertResponse(ready, nullptr, nullptr));
    EXPECT_EQ(-1, line.InsertResponse(ready, "file", "INSERT INTO System (PID) VALUES ('1')"));
    EXPECT_EQ(1u, m_pFrontEnd->Rows("SELECT PID FROM System").size());
    EXPECT_EQ(4u, log.Count("E121 ERROR: no database, the row of HPREADY is not written"));
}

TEST_F(FTPLineDbTest, RequestRowsWithAnyBytesAreQueuedRefusedOrIgnored)
{
    FTPLine line(&m_flags, &m_queue, m_pDb);
    line.AddNewFTPItem(new SendItem("PHTEST", &line, 1));
    line.QueueFTPItem(1, "PHREADY", nullptr, 0);

    const std::string withNul("ab\0cd", 5);
    const std::string quotes = "a 'b' \"c\" ''";
    m_pFrontEnd->InsertRequest("2", "PHTEST", withNul, "");
    m_pFrontEnd->InsertRequest("3", "PHTEST", quotes, "");
    m_pFrontEnd->InsertRequest("4", "PHTEST", std::string(1024 * 1024, 'D'), "");
    m_pFrontEnd->InsertRequest("5", "", "", "");
    m_pFrontEnd->InsertRequest("abc", "PHTEST", "x", "");
    m_pFrontEnd->InsertRequest("6", std::string("PHTEST\0hidden", 13), "y", "");

    // What the send thread does with each row: fetch, delete, queue.
    std::vector<int32_t> results;
    std::vector<int32_t> lastMsgIds;
    std::vector<std::string> cols;
    while (m_pDb->Get(cols) == 1) {
        ASSERT_EQ(5u, cols.size());
        ASSERT_EQ(1, m_pDb->Query(("DELETE FROM Request WHERE ROWID=" + cols[0]).c_str()));
        results.push_back(line.QueueFTPItem(std::atoi(cols[1].c_str()), cols[2].c_str(),
                                            reinterpret_cast<const uint8_t*>(cols[3].c_str()), 0));
        lastMsgIds.push_back(line.m_iLastMsgId);
    }
    EXPECT_EQ((std::vector<int32_t>{1, 1, 0, 0, 1, 1}), results);
    EXPECT_EQ((std::vector<int32_t>{2, 3, 4, 4, 4, 6}), lastMsgIds);
    // The opening PHREADY first.
    ASSERT_EQ(5u, m_queue.Size());
    m_queue.Pop();
    EXPECT_EQ("PHTEST    ab", RecordText(*m_queue.Pop()));
    EXPECT_EQ("PHTEST    " + quotes, RecordText(*m_queue.Pop()));
    EXPECT_EQ("PHTEST    x", RecordText(*m_queue.Pop()));
    EXPECT_EQ("PHTEST    y", RecordText(*m_queue.Pop()));

    EXPECT_TRUE(m_pFrontEnd->Rows("SELECT * FROM Request").empty());
    EXPECT_EQ("ok", m_pFrontEnd->Rows("PRAGMA integrity_check")[0][0]);
    // The database goes on working.
    m_pFrontEnd->InsertRequest("7", "PHTEST", "z", "");
    ASSERT_EQ(1, m_pDb->Get(cols));
    EXPECT_EQ("z", cols[3]);
}

} // namespace
