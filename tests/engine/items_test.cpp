#include "enginetest.h"

#include "blockSocket.h"
#include "ftpitem.h"
#include "ftpline.h"
#include "mysqlite.h"
#include "translate.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

namespace {

using Rows = std::vector<std::vector<std::string>>;

class ItemsTest : public EngineTest {
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        Translate::Instance()->SelectTable(17);
        SetParm("GLOBAL.TEMP_PATH", m_dir.path());
        SetParm("TCP.MEMBER", "VEXSTC");
        SetParm("SQLITE.T0", "1");
        m_dbPath = m_dir.file("q.db");
        m_pDb.reset(new MySqlite(m_dbPath.c_str()));
        ASSERT_EQ(1, m_pDb->Create(g_pszDbCreateScript));
        m_pLine.reset(new FTPLine(&m_flags, &m_queue, m_pDb.get()));
    }
    void TearDown() override
    {
        m_pLine.reset();
        m_pDb.reset();
        EngineTest::TearDown();
    }

    // The next queued line, back in the PC code page.
    std::string NextLine()
    {
        std::unique_ptr<SendRecord> record = m_queue.Pop();
        std::string line =
            record ? std::string(reinterpret_cast<const char*>(record->m_data), static_cast<size_t>(record->m_iLength))
                   : std::string();
        Translate::Instance()->TranslateToPC(&line[0], static_cast<int>(line.size()));
        return line;
    }

    // A record from the host (PC text, translated) to the item of the fixture's registry or of line.
    void Receive(const char* item, std::string payload, FTPLine* line = nullptr)
    {
        Translate::Instance()->TranslateToHost(&payload[0], static_cast<int>(payload.size()));
        int32_t length = static_cast<int32_t>(payload.size());
        (line ? line : m_pLine.get())
            ->FindFTPItem(item)
            ->SaveReceivedString(reinterpret_cast<uint8_t*>(&payload[0]), length);
    }

    Rows Responses() { return QueryRows(m_dbPath, "SELECT CAST(Id AS TEXT), Cmd, Data, File FROM Response"); }
    const uint8_t* Text(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.c_str()); }

    std::string m_dbPath;
    Exchange m_flags;
    SendQueue m_queue;
    std::unique_ptr<MySqlite> m_pDb;
    std::unique_ptr<FTPLine> m_pLine;
};

TEST_F(ItemsTest, OpeningLineHoldsAtMost99CharactersOfProcessAndLogFile)
{
    g_strLogFileName = std::string(300, 'L');
    ASSERT_EQ(1, m_pLine->QueueFTPItem(1, "PHREADY", nullptr, 0));
    const std::string line = NextLine();
    g_strLogFileName.clear();
    EXPECT_EQ(10u + 13 + 16 + 99, line.size());
    EXPECT_EQ('L', line.back());
}

TEST_F(ItemsTest, OptionsSwitchBinaryMode)
{
    const struct {
        const char* options;
        int32_t before;
        int32_t after;
    } cases[] = {
        {"FTTRAIL=Y", 0, 1}, {"FTTRAIL=N", 1, 0}, {"FTTRAIL=N FTTRAIL=Y", 0, 1}, {"FTTRAIL=Y,FTTRAIL=N", 0, 1},
        {"fttrail=y", 0, 0}, {"fttrail=n", 1, 1}, {"TRAILINGBLANKS=Y", 1, 1},    {"", 0, 0},
    };
    for (const auto& c : cases) {
        m_flags.m_iBinaryMode = c.before;
        m_pLine->QueueFTPItem(0, "PHSETOPT", Text(c.options), 0);
        EXPECT_EQ(c.after, m_flags.m_iBinaryMode.load()) << c.options;
    }
}

TEST_F(ItemsTest, HostMessagesCloseOrKeepTheExchange)
{
    BlockSocket socket("127.0.0.1", "pw", "M", "U");
    m_pLine->SetBlockSocket(&socket);

    // Without "RC=0": the exchange ends.
    m_pLine->QueueFTPItem(2, "PHGETFILE", Text("X"), 0);
    m_flags.LinePassedTurn(41, 2);
    m_flags.m_iSendEnabled = 0;
    Receive("HPMSG", "RC=8 NOT FOUND");
    EXPECT_EQ(0, m_flags.m_iExchange.load());
    EXPECT_EQ(1, m_flags.m_iSendEnabled.load());

    // "RC=0" after a request that is not the end of an upload: unchanged.
    m_pLine->QueueFTPItem(3, "PHSUBMIT", Text("JOB"), 0);
    m_flags.LinePassedTurn(33, 3);
    // An upload queued while the host works on the request: its "RC=0" is not the upload's receipt.
    m_pLine->QueueFTPItem(4, "PHMODIFY", Text("DSN"), 0);
    m_pLine->QueueFTPItem(0, "PHEOD", nullptr, 0);
    Receive("HPMSG", "RC=0 SUBMITTED");
    EXPECT_EQ(0, socket.GetIgnoreNextACK());
    EXPECT_EQ(1, m_flags.m_iExchange.load());
    // "RC=04" holds "RC=0".
    Receive("HPMSG", "RC=04 WARNING");
    EXPECT_EQ(1, m_flags.m_iExchange.load());

    // After an upload: the receipt is an acknowledgement to ignore ...
    m_flags.LinePassedTurn(43, 4);
    Receive("HPMSG", "RC=0 3 RECORDS RECEIVED");
    EXPECT_EQ(0, m_flags.m_iSendEnabled.load());
    EXPECT_EQ(1, m_flags.m_iExchange.load());
    EXPECT_EQ(1, socket.GetIgnoreNextACK());
    EXPECT_EQ(43, m_flags.LastRequestItem());
    // ... and the stored count ends the exchange.
    Receive("HPMSG", "RC=0 ROWS=3 STORED");
    EXPECT_EQ(0, m_flags.m_iExchange.load());
    EXPECT_EQ(1, m_flags.m_iSendEnabled.load());
    EXPECT_EQ(0, m_flags.LastRequestItem());
    EXPECT_EQ(5u, Responses().size());
    m_pLine->SetBlockSocket(nullptr);
}

TEST_F(ItemsTest, DownloadStillOpenAtTheEndIsClosedByItsItem)
{
    // The item owns the stream's buffer, so it closes the file (else flushed at exit from freed memory).
    SetParm("GLOBAL.DOWNLOAD_FORMAT", "Hex");
    m_pLine->QueueFTPItem(5, "PHGETFILE", Text("DSN"), 0);
    Receive("HPDATA", "open");
    const std::string open = Responses().back()[3];
    m_pLine.reset();
    std::fflush(nullptr);
    EXPECT_EQ("6F70656E\n", ReadFile(open));
}

TEST_F(ItemsTest, DownloadThatCannotBeWrittenIsNeverReportedComplete)
{
    // The file cannot be created: no row naming a file, the records lost.
    SetParm("GLOBAL.WORK_DIR", "missing");
    FTPLine line(&m_flags, &m_queue, m_pDb.get());
    line.QueueFTPItem(2, "PHGETFILE", Text("X"), 0);
    Receive("HPDATA", "a", &line);
    Receive("HPDATA", "b", &line);
    Receive("HPEOD", "RECORDS=2", &line);
    EXPECT_EQ(
        (Rows{{"2", "HPEODFAIL", "ERROR: download file could not be created, 2 record(s) lost; HPEOD: RECORDS=2", ""}}),
        Responses());
    EXPECT_EQ(0, m_flags.m_iExchange.load());
    EXPECT_EQ(1, m_flags.m_iSendEnabled.load());

    // A file that cannot be written completely.
#if defined(_WIN32)
    GTEST_SKIP() << "the rest writes to /dev/full, a device that fails every write; Windows has none";
#endif
    m_pLine->QueueFTPItem(3, "PHGETFILE", Text("Y"), 0);
    m_flags.LinePassedTurn(41, 3);
    Receive("HPDATA", "first");
    FTPItem* data = m_pLine->FindFTPItem("HPDATA");
    ASSERT_NE(nullptr, data->m_pFileOUT);
    const std::string path = Responses().back()[3];
    std::fclose(data->m_pFileOUT);
    data->m_pFileOUT = std::fopen("/dev/full", "wb");
    ASSERT_NE(nullptr, data->m_pFileOUT);
    m_pLine->FindFTPItem("HPEOD")->m_pFileOUT = data->m_pFileOUT;
    for (int i = 0; i < 2000; ++i)
        Receive("HPDATA", std::string(100, 'x'));
    Receive("HPEOD", "RECORDS=2001");
    const Rows rows = Responses();
    ASSERT_EQ(3u, rows.size());
    EXPECT_EQ("HPEODFAIL", rows[2][1]);
    EXPECT_EQ("ERROR: download file could not be written completely: No space left on device; HPEOD: RECORDS=2001",
              rows[2][2]);
    EXPECT_EQ(path, rows[2][3]);
    EXPECT_EQ(nullptr, data->m_pFileOUT);

    // The next download is a download of its own again.
    m_pLine->QueueFTPItem(4, "PHGETFILE", Text("Z"), 0);
    m_flags.LinePassedTurn(41, 4);
    Receive("HPDATA", "fine");
    Receive("HPEOD", "RECORDS=1");
    EXPECT_EQ("HPEOD", Responses().back()[1]);
    EXPECT_EQ("fine\n", ReadFile(Responses()[3][3]));
}

} // namespace
