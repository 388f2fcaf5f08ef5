// The engine against a host scripted with the conversation library's host side, for what the
// emulator does not do on purpose: a host that talks on without giving the turn back, a host
// that stops the conversation; and a Request row the engine cannot remove.

#include "enginetest.h"

#include "blockSocket.h"
#include "globals.h"
#include "socketftp.h"
#include "testplatform.h"
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

// Sends one record at once: the scripted host acts between its records, none may wait in a buffer.
bool Send(wch_conv* conv, std::string text, int32_t handOver = 0)
{
    Translate::Instance()->TranslateToHost(&text[0], static_cast<int>(text.size()));
    return wch_send(conv, reinterpret_cast<const unsigned char*>(text.data()), static_cast<int32_t>(text.size()),
                    handOver) == CM_OK &&
           wch_flush(conv) == CM_OK;
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
        SetParm("GLOBAL.TEMP_PATH", m_dir.path());
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

    // Runs the engine against the host body; the front end's rows go in once the opening arrives.
    void Run(std::function<void(wch_conv*)> body, const std::vector<std::string>& requests,
             const std::string& dbName = "q.db")
    {
        SetParm("SQLITE.DBNAME", dbName);
        m_host = std::thread([this, body, requests, dbName]() {
            int32_t rc = 0;
            wch_conv* conv = wch_accept(m_listener, 10000, &rc);
            if (conv == nullptr)
                return;
            wch_allocate_reply(conv, CM_OK);
            m_opening = Receive(conv);
            std::string sql = "BEGIN;";
            for (const std::string& r : requests)
                sql += r;
            FrontEnd(m_dir.file(dbName)).Exec(sql + "COMMIT;");
            Send(conv, "HPREADY   SCRIPTED HOST");
            wch_send_ack(conv);
            body(conv);
            wch_conv_free(conv);
        });
        BlockSocket socket("127.0.0.1", "*", "M", "U");
        socket.SetHostPort(wch_listener_port(m_listener));
        socket.Connect();
        const auto start = std::chrono::steady_clock::now();
        {
            SocketFTP engine(&socket);
            m_seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            m_broken = engine.ConversationBroken();
            m_failureRC = engine.FailureRC();
        }
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
    // The host answers the options, then keeps the turn beyond T0, talking or silent: the text behind
    // cannot be sent, a failed run (16), not the communication timeout (6) of a silent host.
    for (const bool talks : {true, false}) {
        SCOPED_TRACE(talks ? "talks on" : "falls silent");
        EngineLog log;
        std::atomic<bool> sawText{false};
        Run(
            [&](wch_conv* conv) {
                if (Receive(conv).compare(0, 8, "PHSETOPT") != 0 || !Send(conv, "HPTXT     OPTIONS"))
                    return;
                const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
                while (std::chrono::steady_clock::now() < end && // until the engine gives the record up
                       log.CountPrefix("E120 SocketFTP-Send-Thread record not sent") == 0) {
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

TEST_F(ScriptedHostTest, StopEventEndsTheRunAtOnce)
{
    // A stop (POSIX signal, Windows console event) while the host holds the turn: the handler that
    // watchStopSignals installs leaves the signal number in the stop flag, which the run's System row and
    // exit code are made of, and both threads end without waiting for T0.
    SetParm("FTP.T0", "10");
    for (const testos::StopEvent& event : testos::stopEvents()) {
        SCOPED_TRACE(event.name);
        g_iStopSignal = 0;
        Platform::watchStopSignals(&g_iStopSignal);
        std::string request;
        Run(
            [&](wch_conv* conv) {
                request = Receive(conv);
                testos::deliver(event);
                Receive(conv); // until the PC ends the conversation
            },
            {"INSERT INTO Request VALUES (2,'PHTXT','STOP','');"}, std::string(event.name) + ".db");
        EXPECT_EQ(0, request.compare(0, 5, "PHTXT")) << request;
        EXPECT_EQ(event.signal, g_iStopSignal.load());
        EXPECT_LT(m_seconds, 5.0);
    }
    Platform::watchStopSignals(nullptr);
    g_iStopSignal = 0;
}

TEST_F(ScriptedHostTest, RequestRowThatCannotBeRemovedIsNotServed)
{
    // A trigger refuses the DELETE: the row waits, served once when the removal goes through.
    SetParm("FTP.T0", "10");
    EngineLog log;
    size_t pingsWhileKept = 99;
    size_t pingsAfter = 0;
    const std::string db = m_dir.file("q.db");
    const auto waitFor = [](const std::function<bool()>& done) {
        for (int i = 0; i < 160 && !done(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    };
    const auto pings = [&]() { return QueryRows(db, "SELECT Id FROM Response WHERE Cmd='PING'").size(); };
    Run(
        [&](wch_conv* conv) {
            waitFor([&]() { return log.CountPrefix("W120 SocketFTP-Send-Thread Request row 1 not removed") >= 2; });
            pingsWhileKept = pings();
            FrontEnd(db).Exec("DROP TRIGGER keep");
            waitFor([&]() { return pings() != 0; });
            // CLOSE ends the run once the row has been served.
            FrontEnd(db).Exec("INSERT INTO Request VALUES (3,'CLOSE','','')");
            Receive(conv);
            pingsAfter = pings();
        },
        {"CREATE TRIGGER keep BEFORE DELETE ON Request BEGIN SELECT RAISE(ABORT, 'kept'); END;",
         "INSERT INTO Request VALUES (2,'PING','once','');"});
    EXPECT_EQ(0u, pingsWhileKept);
    EXPECT_EQ(1u, pingsAfter);
}

} // namespace
