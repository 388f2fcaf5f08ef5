// The engine against a host scripted with the conversation library's host
// side, for what the emulator does not do on purpose: a host that talks on
// without giving the turn back, and a host that stops the conversation.

#include "enginetest.h"

#include "blockSocket.h"
#include "globals.h"
#include "socketftp.h"
#include "translate.h"

#include <wirecomm.h>
#include <wirecomm_host.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

std::string HostRecord(const std::string& pcText)
{
    std::string block = pcText;
    Translate::Instance()->TranslateToHost(&block[0], static_cast<int>(block.size()));
    return block;
}

// Sends one record and writes it out at once: a scripted host acts between
// its records (pauses, falls silent), so none may wait in the send buffer.
bool Send(wch_conv* conv, const std::string& pcText, int32_t handOver = 0)
{
    const std::string block = HostRecord(pcText);
    return wch_send(conv, reinterpret_cast<const unsigned char*>(block.data()), static_cast<int32_t>(block.size()),
                    handOver) == CM_OK
           && wch_flush(conv) == CM_OK;
}

// The next block of the PC, in the PC code page; empty on failure.
std::string Receive(wch_conv* conv)
{
    std::vector<unsigned char> buffer(WC_MAX_BLOCK);
    int32_t length = 0;
    int32_t handOver = 0;
    if (wch_receive(conv, buffer.data(), static_cast<int32_t>(buffer.size()), &length, &handOver, 10000) != CM_OK)
        return std::string();
    std::string text(reinterpret_cast<const char*>(buffer.data()), static_cast<size_t>(length));
    Translate::Instance()->TranslateToPC(&text[0], static_cast<int>(text.size()));
    return text;
}

bool HasSystemRow(const std::string& path)
{
    if (!FileExists(path))
        return false;
    sqlite3* db = nullptr;
    bool found = false;
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* stmt = nullptr;
        if (sqlite3_prepare_v2(db, "SELECT PID FROM System", -1, &stmt, nullptr) == SQLITE_OK)
            found = sqlite3_step(stmt) == SQLITE_ROW;
        sqlite3_finalize(stmt);
    }
    sqlite3_close(db);
    return found;
}

class ScriptedHostTest : public EngineTest {
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        g_iRC = 0;
        wch_config config{};
        int32_t rc = 0;
        m_listener = wch_listen("127.0.0.1", 0, &config, &rc);
        ASSERT_NE(nullptr, m_listener) << rc;
        SetParm("GLOBAL.TEMP_PATH", m_dir.Path());
        SetParm("SQLITE.DBNAME", "q.db");
        SetParm("FTP.T0", "2");
        SetParm("TCP.USERID", "U");
    }
    void TearDown() override
    {
        if (m_host.joinable())
            m_host.join();
        wch_listener_close(m_listener);
        g_iRC = 0;
        EngineTest::TearDown();
    }

    // Runs the engine against the host body; the front end inserts rows
    // once the run has announced itself.
    void Run(std::function<void(wch_conv*)> body, const std::vector<std::string>& requests,
             const std::string& dbName = "q.db")
    {
        SetParm("SQLITE.DBNAME", dbName);
        m_host = std::thread([this, body]() {
            int32_t rc = 0;
            wch_conv* conv = wch_accept(m_listener, 10000, &rc);
            if (conv == nullptr)
                return;
            wch_allocate_reply(conv, CM_OK);
            // The opening.
            m_opening = Receive(conv);
            Send(conv, "HPREADY   SCRIPTED HOST");
            wch_send_ack(conv);
            body(conv);
            wch_conv_free(conv);
        });
        BlockSocket socket("127.0.0.1", "*", "M", "U");
        socket.SetHostPort(wch_listener_port(m_listener));
        socket.Connect();
        std::thread frontEnd([this, requests, dbName]() {
            const std::string db = m_dir.File(dbName);
            // Until the run has announced itself (tables made, System row).
            for (int i = 0; i < 200 && !HasSystemRow(db); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            sqlite3* handle = nullptr;
            sqlite3_open(db.c_str(), &handle);
            sqlite3_busy_timeout(handle, 5000);
            std::string sql = "BEGIN;";
            for (const std::string& r : requests)
                sql += r;
            sql += "COMMIT;";
            sqlite3_exec(handle, sql.c_str(), nullptr, nullptr, nullptr);
            sqlite3_close(handle);
        });
        const auto start = std::chrono::steady_clock::now();
        {
            SocketFTP engine(&socket);
            m_seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            m_broken = engine.ConversationBroken();
            m_failureRC = engine.FailureRC();
        }
        frontEnd.join();
        try {
            socket.Close();
        } catch (const SocketError&) {
        }
        m_host.join();
    }

    wch_listener* m_listener = nullptr;
    std::thread m_host;
    std::string m_opening;
    double m_seconds = 0;
    bool m_broken = false;
    int32_t m_failureRC = 0;
};

TEST_F(ScriptedHostTest, HostThatKeepsTheTurnAfterAnsweringBreaksTheRun)
{
    // The host answers the options and then keeps the turn for longer than
    // T0: talking on, or silent. Either way the text behind cannot be sent
    // and the conversation is out of step: a failed run (16, the failure
    // row), not the communication timeout (6), which is for a silent host.
    for (const bool talks : {true, false}) {
        SCOPED_TRACE(talks ? "talks on" : "falls silent");
        EngineLog log;
        std::atomic<bool> sawText{false};
        Run(
            [&](wch_conv* conv) {
                if (Receive(conv).compare(0, 8, "PHSETOPT") != 0 || !Send(conv, "HPTXT     OPTIONS"))
                    return;
                const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
                while (std::chrono::steady_clock::now() < end) {
                    if (talks && !Send(conv, "HPTXT     STILL TALKING"))
                        return;
                    std::this_thread::sleep_for(std::chrono::milliseconds(100));
                }
                wch_send_ack(conv);
                sawText = Receive(conv).compare(0, 5, "PHTXT") == 0;
            },
            {"INSERT INTO Request VALUES (2,'PHSETOPT','X','');", "INSERT INTO Request VALUES (3,'PHTXT','Y','');"},
            talks ? "talks.db" : "silent.db");
        EXPECT_EQ(0, m_opening.compare(0, 22, "PHREADY   VEXLINK.EXE:")) << m_opening;
        EXPECT_TRUE(m_broken);
        EXPECT_EQ(CM_OPERATION_INCOMPLETE, m_failureRC);
        EXPECT_FALSE(sawText.load());
        EXPECT_EQ(1u, log.Count("E120 SocketFTP-Send-Thread record not sent: no turn within T0=2[sec]"));
        EXPECT_EQ(0u, log.CountPrefix("I120 SocketFTP Communication timeout"));
        EXPECT_LT(m_seconds, 10.0);
        EXPECT_EQ(0, g_iRC.load());
        // Both threads ended and were joined.
        EXPECT_EQ(1u, log.Count("I120 SocketFTP-Send-Thread ended"));
        EXPECT_EQ(1u, log.Count("I120 SocketFTP-Read-Thread ended"));
    }
}

TEST_F(ScriptedHostTest, HostThatStopsTheConversationEndsBothThreads)
{
    EngineLog log;
    Run(
        [&](wch_conv* conv) {
            if (Receive(conv).compare(0, 9, "PHGETFILE") != 0)
                return;
            Send(conv, "HPDATA    ONE RECORD");
            wch_stop(conv);
        },
        {"INSERT INTO Request VALUES (2,'PHGETFILE','X','');"});
    EXPECT_TRUE(m_broken);
    EXPECT_EQ(CM_DEALLOCATED_ABEND, m_failureRC);
    // Neither thread waited for T0 (2 s) more than once.
    EXPECT_LT(m_seconds, 6.0);
    EXPECT_EQ(1u, log.Count("E200 ERROR: BlockSocket: cm_rcv failed RC=17"));
    EXPECT_EQ(0u, log.CountPrefix("I120 SocketFTP Communication timeout"));
}

} // namespace
