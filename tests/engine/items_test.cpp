#include "enginetest.h"

#include "blockSocket.h"
#include "elog.h"
#include "ftpitem.h"
#include "ftpitemshosttopc.h"
#include "ftpline.h"
#include "mysqlite.h"
#include "platform/platform.h"
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
        SetParm("GLOBAL.TEMP_PATH", m_dir.Path());
        SetParm("TCP.MEMBER", "VEXSTC");
        m_dbPath = m_dir.File("q.db");
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

    // The next queued line, back in the PC code page (prefix only when
    // prefixOnly: the payload stays as it was sent).
    std::string NextLine(int32_t* pHandOver = nullptr, bool prefixOnly = false)
    {
        std::unique_ptr<SendRecord> record = m_queue.Pop();
        if (!record) {
            ADD_FAILURE() << "no line queued";
            return std::string();
        }
        std::string line(reinterpret_cast<const char*>(record->m_data), static_cast<size_t>(record->m_iLength));
        Translate::Instance()->TranslateToPC(&line[0], prefixOnly ? 10 : static_cast<int>(line.size()));
        if (pHandOver != nullptr)
            *pHandOver = record->m_iHandOver;
        return line;
    }

    // A record from the host: the payload as the host sends it (PC text
    // translated to the host code page unless raw).
    void Receive(const char* item, std::string payload, bool raw = false)
    {
        if (!raw && !payload.empty())
            Translate::Instance()->TranslateToHost(&payload[0], static_cast<int>(payload.size()));
        FTPItem* target = m_pLine->FindFTPItem(item);
        ASSERT_NE(nullptr, target) << item;
        int32_t length = static_cast<int32_t>(payload.size());
        target->SaveReceivedString(reinterpret_cast<uint8_t*>(&payload[0]), length);
    }

    Rows Responses() { return QueryRows(m_dbPath, "SELECT CAST(Id AS TEXT), Cmd, Data, File FROM Response"); }
    Rows System() { return QueryRows(m_dbPath, "SELECT CAST(PID AS TEXT) FROM System"); }
    const uint8_t* Text(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.c_str()); }

    std::string m_dbPath;
    Exchange m_flags;
    SendQueue m_queue;
    std::unique_ptr<MySqlite> m_pDb;
    std::unique_ptr<FTPLine> m_pLine;
};

TEST_F(ItemsTest, OpeningLineIdentifiesTheProgram)
{
    g_strLogFileName = "vexlink.2026-12-06.w.log";
    m_flags.m_iExchange = 0;
    ASSERT_EQ(1, m_pLine->QueueFTPItem(1, "PHREADY", Text("ignored"), 0));
    int32_t handOver = 0;
    EXPECT_EQ("PHREADY   VEXLINK.EXE: VERSION=07.04.00, PID=" + std::to_string(Platform::processId()) +
                  ", LOGFILE=vexlink.2026-12-06.w.log",
              NextLine(&handOver));
    EXPECT_EQ(1, handOver);
    EXPECT_EQ(1, m_flags.m_iExchange.load());

    // The part with the process id and the log file holds 99 characters at most.
    g_strLogFileName = std::string(300, 'L');
    ASSERT_EQ(1, m_pLine->QueueFTPItem(1, "PHREADY", nullptr, 0));
    const std::string line = NextLine();
    EXPECT_EQ(10u + 13 + 16 + 99, line.size());
    EXPECT_EQ('L', line.back());
    g_strLogFileName.clear();
}

TEST_F(ItemsTest, RequestLinesSetTheirFlags)
{
    struct Expected {
        const char* name;
        int32_t exchange;
        int32_t handOver;
    };
    const Expected requests[] = {
        {"PHSUBMIT", 1, 1},  {"PHGDSLST", 1, 1},  {"PHGDSLSTF", 1, 1}, {"PHGPODIR", 1, 1},
        {"PHGPODIRF", 1, 1}, {"PHGETFILE", 1, 1}, {"PHDELETE", 0, 1},  {"PHBPXWDYN", 0, 1},
        {"PHMODIFY", 0, 0},  {"PHSETOPT", 0, 1},
    };
    for (const Expected& e : requests) {
        m_flags.m_iReadEnabled = 0;
        m_flags.m_iExchange = 0;
        m_flags.m_iSendEnabled = 0;
        ASSERT_EQ(1, m_pLine->QueueFTPItem(0, e.name, Text("payload 'x' \xe4\xf6"), 0)) << e.name;
        int32_t handOver = -1;
        std::string prefix(e.name);
        prefix.resize(10, ' ');
        EXPECT_EQ(prefix + "payload 'x' \xe4\xf6", NextLine(&handOver)) << e.name;
        EXPECT_EQ(e.handOver, handOver) << e.name;
        EXPECT_EQ(e.exchange, m_flags.m_iExchange.load()) << e.name;
        // Queueing neither switches reading nor names the last request:
        // both follow the line that passes the turn, when it is sent.
        EXPECT_EQ(0, m_flags.m_iReadEnabled.load()) << e.name;
        EXPECT_EQ(0, m_flags.LastRequestItem()) << e.name;
        EXPECT_EQ(0, m_flags.m_iSendEnabled.load()) << e.name;
    }
    m_flags.LinePassedTurn(34, 7);
    EXPECT_EQ(1, m_flags.m_iReadEnabled.load());
    EXPECT_EQ(34, m_flags.LastRequestItem());
    EXPECT_EQ(7, m_pLine->GetAnswerMsgId());
    // The line really is in the host code page: 'A' is 0xC1 in EBCDIC.
    ASSERT_EQ(1, m_pLine->QueueFTPItem(0, "PHTXT", Text("A"), 0));
    std::unique_ptr<SendRecord> raw = m_queue.Pop();
    ASSERT_EQ(11, raw->m_iLength);
    EXPECT_EQ(0xC1, raw->m_data[10]);
    EXPECT_EQ(0x40, raw->m_data[9]);
}

TEST_F(ItemsTest, OptionsSwitchBinaryModeAndUploadRecordsFollowIt)
{
    const struct {
        const char* options;
        int32_t before;
        int32_t after;
    } cases[] = {
        {"FTTRAIL=Y", 0, 1},           {"FTTRAIL=N", 1, 0},  {"FTTRAIL=N FTTRAIL=Y", 0, 1},
        {"FTTRAIL=Y,FTTRAIL=N", 0, 1}, {"fttrail=y", 0, 0},  {"fttrail=n", 1, 1},
        {"TRAILINGBLANKS=Y", 1, 1},    {"", 0, 0},
    };
    for (const auto& c : cases) {
        m_flags.m_iBinaryMode = c.before;
        m_pLine->QueueFTPItem(0, "PHSETOPT", Text(c.options), 0);
        EXPECT_EQ(c.after, m_flags.m_iBinaryMode.load()) << c.options;
    }
    m_queue.Clear();

    const std::string payload("\xe4\x81\x0a\x00\xff", 5);
    // Text mode: the whole line is translated.
    m_flags.m_iBinaryMode = 0;
    m_flags.m_iReadEnabled = 1;
    ASSERT_EQ(1, m_pLine->QueueFTPItem(0, "PHDATA", Text(payload), 5));
    int32_t handOver = -1;
    EXPECT_EQ("PHDATA    " + payload, NextLine(&handOver));
    EXPECT_EQ(0, handOver);
    // Reading stays on: an answer to a line queued before may be due.
    EXPECT_EQ(1, m_flags.m_iReadEnabled.load());
    // Binary mode: only the prefix is translated.
    m_flags.m_iBinaryMode = 1;
    ASSERT_EQ(1, m_pLine->QueueFTPItem(0, "PHDATA", Text(payload), 5));
    EXPECT_EQ("PHDATA    " + payload, NextLine(nullptr, true));
    // The end of an upload: the prefix alone, whatever payload it is given.
    ASSERT_EQ(1, m_pLine->QueueFTPItem(0, "PHEOD", Text("ignored"), 0));
    EXPECT_EQ("PHEOD     ", NextLine(&handOver));
    EXPECT_EQ(1, handOver);
    EXPECT_EQ(1, m_flags.m_iExchange.load());
}

TEST_F(ItemsTest, TextPingAndCloseAreHandledAsTheFrontEndExpects)
{
    EngineLog log;
    ASSERT_EQ(1, m_pLine->QueueFTPItem(2, "PHTXT", Text("hello"), 0));
    EXPECT_EQ("PHTXT     hello", NextLine());
    EXPECT_EQ(1u, log.Count("I121 MSG: PHTXT     hello"));
    EXPECT_EQ(0, m_flags.m_iExchange.load());

    // PING: nothing to send, the payload as a Response row at once.
    EXPECT_EQ(0, m_pLine->QueueFTPItem(3, "PING", Text("it's me"), 0));
    EXPECT_EQ(0, m_pLine->QueueFTPItem(4, "PING", Text(""), 0));
    EXPECT_EQ(0u, m_queue.Size());
    EXPECT_EQ((Rows{{"3", "PING", "it's me", ""}, {"4", "PING", "", ""}}), Responses());

    // CLOSE: the close request, nothing sent; the conversation itself is
    // stopped by the engine once the send thread has sent what was queued.
    BlockSocket socket("127.0.0.1", "pw", "M", "U");
    m_pLine->SetBlockSocket(&socket);
    EXPECT_EQ(0, m_pLine->QueueFTPItem(5, "CLOSE", Text("x"), 0));
    EXPECT_EQ(1, m_flags.m_iCloseRequest.load());
    EXPECT_EQ(0, socket.GetStop());
    EXPECT_EQ(0u, m_queue.Size());
    EXPECT_EQ(1u, log.Count("I121 Request for close a connection received"));
    m_pLine->SetBlockSocket(nullptr);
}

TEST_F(ItemsTest, ReadyMarksTheRunInSystem)
{
    EngineLog log;
    m_pLine->QueueFTPItem(1, "PHREADY", nullptr, 0);
    m_flags.m_iSendEnabled = 0;
    Receive("HPREADY", "HOST READY \xe4");
    EXPECT_EQ(1, m_flags.m_iSendEnabled.load());
    EXPECT_EQ(0, m_flags.m_iExchange.load());
    EXPECT_EQ((Rows{{"1", "HPREADY", "HOST READY \xe4", ""}}), Responses());
    EXPECT_EQ((Rows{{std::to_string(Platform::processId())}}), System());
    EXPECT_EQ(1u, log.Count("I121 Connection with VEXSTC established"));
    // The end of the registry marks the end of the run.
    m_pLine.reset();
    EXPECT_EQ((Rows{{"-1"}}), System());
}

TEST_F(ItemsTest, HostMessagesCloseOrKeepTheExchange)
{
    BlockSocket socket("127.0.0.1", "pw", "M", "U");
    m_pLine->SetBlockSocket(&socket);
    EngineLog log;

    // Without "RC=0": the exchange ends.
    m_pLine->QueueFTPItem(2, "PHGETFILE", Text("X"), 0);
    m_flags.LinePassedTurn(41, 2);
    m_flags.m_iSendEnabled = 0;
    Receive("HPMSG", "RC=8 NOT FOUND");
    EXPECT_EQ(0, m_flags.m_iExchange.load());
    EXPECT_EQ(1, m_flags.m_iSendEnabled.load());
    EXPECT_EQ(1u, log.Count("T200 SaveReceivedString: RC<>0"));

    // "RC=0" after a request that is not the end of an upload: unchanged.
    m_pLine->QueueFTPItem(3, "PHSUBMIT", Text("JOB"), 0);
    m_flags.LinePassedTurn(33, 3);
    // An upload queued while the host still works on the request does not
    // make its "RC=0" the upload's acknowledgement.
    m_pLine->QueueFTPItem(4, "PHMODIFY", Text("DSN"), 0);
    m_pLine->QueueFTPItem(0, "PHEOD", nullptr, 0);
    Receive("HPMSG", "RC=0 SUBMITTED");
    EXPECT_EQ(0u, log.Count("T200 SaveReceivedString: ACK Ignored"));
    EXPECT_EQ(1, m_flags.m_iExchange.load());
    EXPECT_EQ(1u, log.Count("T200 SaveReceivedString->LastReqItem: PHSUBMIT"));
    // "RC=04" holds "RC=0".
    Receive("HPMSG", "RC=04 WARNING");
    EXPECT_EQ(1, m_flags.m_iExchange.load());

    // After an upload: the receipt is an acknowledgement to ignore ...
    m_flags.LinePassedTurn(43, 4);
    Receive("HPMSG", "RC=0 3 RECORDS RECEIVED");
    EXPECT_EQ(1u, log.Count("T200 SaveReceivedString: ACK Ignored"));
    EXPECT_EQ(0, m_flags.m_iSendEnabled.load());
    EXPECT_EQ(1, m_flags.m_iExchange.load());
    EXPECT_EQ(1, socket.GetIgnoreNextACK());
    EXPECT_EQ(43, m_flags.LastRequestItem());
    // ... and the stored count ends the exchange.
    Receive("HPMSG", "RC=0 ROWS=3 STORED");
    EXPECT_EQ(0, m_flags.m_iExchange.load());
    EXPECT_EQ(1, m_flags.m_iSendEnabled.load());
    EXPECT_EQ(0, m_flags.LastRequestItem());
    EXPECT_EQ(1u, log.Count("T200 SaveReceivedString: SetLastReqItem Reset"));
    // No last item now: its id is reported.
    m_flags.m_iExchange = 1;
    Receive("HPMSG", "RC=0");
    EXPECT_EQ(1u, log.Count("I120 ERROR: unrecognized FTP data item with id: 0"));
    EXPECT_EQ(1, m_flags.m_iExchange.load());

    // Every HPMSG row has Id 0.
    const Rows rows = Responses();
    ASSERT_EQ(6u, rows.size());
    for (const auto& row : rows) {
        EXPECT_EQ("0", row[0]);
        EXPECT_EQ("HPMSG", row[1]);
    }
    EXPECT_EQ("RC=0 ROWS=3 STORED", rows[4][2]);

    // Text from the host: a row, sending enabled, the exchange untouched.
    m_flags.m_iSendEnabled = 0;
    Receive("HPTXT", "SOME TEXT");
    EXPECT_EQ(1, m_flags.m_iSendEnabled.load());
    EXPECT_EQ(1, m_flags.m_iExchange.load());
    EXPECT_EQ(1u, log.Count("I121 SOME TEXT"));
    EXPECT_EQ((std::vector<std::string>{"4", "HPTXT", "SOME TEXT", ""}), Responses().back());
    m_pLine->SetBlockSocket(nullptr);
}

TEST_F(ItemsTest, DownloadsInTextHexAndBinary)
{
    m_pLine->QueueFTPItem(2, "PHGETFILE", Text("DSN"), 0);
    Receive("HPDATA", "first \xe4");
    EXPECT_EQ(0, m_flags.m_iSendEnabled.load());
    EXPECT_EQ(1, m_flags.m_iExchange.load());
    Receive("HPDATA", "");
    Receive("HPDATA", "third");
    Receive("HPEOD", "RECORDS=3");
    EXPECT_EQ(1, m_flags.m_iSendEnabled.load());
    EXPECT_EQ(0, m_flags.m_iExchange.load());
    Rows rows = Responses();
    ASSERT_EQ(2u, rows.size());
    EXPECT_EQ("HPDATA", rows[0][1]);
    EXPECT_EQ("", rows[0][2]);
    EXPECT_EQ(m_dir.Path(), rows[0][3].substr(0, m_dir.Path().size()));
    EXPECT_EQ((std::vector<std::string>{"2", "HPEOD", "RECORDS=3", ""}), rows[1]);
    EXPECT_EQ("first \xe4\n\nthird\n", ReadFile(rows[0][3]));

    // Binary mode: the host's bytes, no line ends.
    m_flags.m_iBinaryMode = 1;
    m_pLine->QueueFTPItem(3, "PHGETFILE", Text("DSN"), 0);
    Receive("HPDATA", std::string("\xc1\x0a\x00", 3), true);
    Receive("HPDATA", "\x81", true);
    Receive("HPEOD", "");
    rows = Responses();
    ASSERT_EQ(4u, rows.size());
    EXPECT_NE(rows[0][3], rows[2][3]);
    EXPECT_EQ(std::string("\xc1\x0a\x00\x81", 4), ReadFile(rows[2][3]));

    // Hexadecimal image of the translated record (0xC1 0x81 is "Aa").
    m_flags.m_iBinaryMode = 0;
    SetParm("GLOBAL.DOWNLOAD_FORMAT", "Hex");
    m_pLine->QueueFTPItem(4, "PHGETFILE", Text("DSN"), 0);
    Receive("HPDATA", "\xc1\x81", true);
    Receive("HPDATA", "", true);
    Receive("HPDATA", "\xff", true);
    Receive("HPEOD", "");
    rows = Responses();
    ASSERT_EQ(6u, rows.size());
    std::string last("\xff", 1);
    Translate::Instance()->TranslateToPC(&last[0], 1);
    char hex[3];
    std::snprintf(hex, sizeof(hex), "%02X", static_cast<unsigned char>(last[0]));
    EXPECT_EQ("4161\n\n" + std::string(hex) + "\n", ReadFile(rows[4][3]));

    // A download still open when the run ends: its stream buffer belongs to
    // the item, so the item closes the file (a stream left open would be
    // flushed at exit from freed memory).
    m_pLine->QueueFTPItem(5, "PHGETFILE", Text("DSN"), 0);
    Receive("HPDATA", "open");
    const std::string open = Responses().back()[3];
    m_pLine.reset();
    std::fflush(nullptr);
    EXPECT_EQ("6F70656E\n", ReadFile(open));
}

TEST_F(ItemsTest, MessageThatEndsTheExchangeClosesTheDownloadFile)
{
    m_pLine->QueueFTPItem(2, "PHGDSLST", Text("X"), 0);
    m_flags.LinePassedTurn(37, 2);
    Receive("HPDATA", "one");
    Receive("HPMSG", "RC=12 I/O ERROR");
    FTPItem* data = m_pLine->FindFTPItem("HPDATA");
    EXPECT_EQ(nullptr, data->m_pFileOUT);
    EXPECT_EQ(nullptr, m_pLine->FindFTPItem("HPEOD")->m_pFileOUT);
    // The host's closing HPEOD does not make the cut-off download complete.
    Receive("HPEOD", "RECORDS=1");
    // The next records start a file of their own.
    m_pLine->QueueFTPItem(3, "PHGETFILE", Text("Y"), 0);
    m_flags.LinePassedTurn(41, 3);
    Receive("HPDATA", "two");
    Receive("HPEOD", "RECORDS=1");
    const Rows rows = Responses();
    ASSERT_EQ(5u, rows.size());
    EXPECT_EQ((std::vector<std::string>{"2", "HPEODFAIL",
                                        "ERROR: the host ended the download before its end; HPMSG: RC=12 I/O ERROR",
                                        rows[0][3]}),
              rows[2]);
    EXPECT_EQ("HPMSG", rows[1][1]);
    EXPECT_EQ("HPDATA", rows[3][1]);
    EXPECT_EQ("HPEOD", rows[4][1]);
    EXPECT_EQ("3", rows[4][0]);
    EXPECT_EQ("one\n", ReadFile(rows[0][3]));
    EXPECT_EQ("two\n", ReadFile(rows[3][3]));
}

TEST_F(ItemsTest, DownloadThatCannotBeWrittenIsNeverReportedComplete)
{
    EngineLog log;
    // The file cannot be created: no row naming a file, the records lost.
    SetParm("GLOBAL.WORK_DIR", "missing");
    FTPLine line(&m_flags, &m_queue, m_pDb.get());
    line.QueueFTPItem(2, "PHGETFILE", Text("X"), 0);
    for (const char* record : {"a", "b"}) {
        std::string payload(record);
        int32_t length = 1;
        line.FindFTPItem("HPDATA")->SaveReceivedString(reinterpret_cast<uint8_t*>(&payload[0]), length);
    }
    EXPECT_EQ(2u, log.Count("E200 SaveReceivedString: No temp file created!"));
    EXPECT_EQ(2u, log.CountPrefix("E110 Assertion failed: m_pFileOUT ("));
    std::string eod("RECORDS=2");
    Translate::Instance()->TranslateToHost(&eod[0], static_cast<int>(eod.size()));
    int32_t length = static_cast<int32_t>(eod.size());
    line.FindFTPItem("HPEOD")->SaveReceivedString(reinterpret_cast<uint8_t*>(&eod[0]), length);
    EXPECT_EQ((Rows{{"2", "HPEODFAIL", "ERROR: download file could not be created, 2 record(s) lost; HPEOD: RECORDS=2",
                     ""}}),
              Responses());
    EXPECT_EQ(0, m_flags.m_iExchange.load());
    EXPECT_EQ(1, m_flags.m_iSendEnabled.load());

    // A file that cannot be written completely.
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
