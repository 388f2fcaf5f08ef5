#include "enginetest.h"

#include "ftpmodul.h"
#include "workdir.h"
#include "globals.h"
#include "socketftp.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

namespace {

// A port of 127.0.0.1 where nothing listens.
int ClosedPort()
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
    socklen_t len = sizeof(addr);
    getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    close(fd);
    return ntohs(addr.sin_port);
}

class ModulFtpTest : public EngineTest {
protected:
    void SetUp() override
    {
        EngineTest::SetUp();
        g_iRC = 0;
    }
    void TearDown() override
    {
        g_iRC = 0;
        EngineTest::TearDown();
    }
};

TEST_F(ModulFtpTest, DatabasePathIsComposedFromThreeKeys)
{
    std::string dir = "unchanged";
    EXPECT_EQ("", SocketFTP::ComposeDbPath(&dir));
    EXPECT_EQ("", dir);

    SetParm("GLOBAL.TEMP_PATH", "C:/t");
    SetParm("SQLITE.DBNAME", "q.db");
    EXPECT_EQ("C:/t/q.db", SocketFTP::ComposeDbPath(&dir));
    EXPECT_EQ("", dir);

    SetParm("GLOBAL.WORK_DIR", "w");
    EXPECT_EQ("C:/t/w/q.db", SocketFTP::ComposeDbPath(&dir));
    EXPECT_EQ("C:/t/w", dir);
    EXPECT_EQ("C:/t/w/q.db", SocketFTP::ComposeDbPath());

    // Without a database name the path is the directory itself.
    EngineTest::TearDown();
    EngineTest::SetUp();
    SetParm("GLOBAL.WORK_DIR", "w");
    EXPECT_EQ("/w", SocketFTP::ComposeDbPath(&dir));
    EXPECT_EQ("/w", dir);
}

TEST_F(ModulFtpTest, WorkDirectoryMustStayInsideTheTempPath)
{
    const char* const allowed[] = {"", "w", "run-42", "a/b", "a..b", "..a", "a.", "x\\y", "a/./b"};
    for (const char* dir : allowed)
        EXPECT_TRUE(MODUL_FTP::IsWorkDirAllowed(dir)) << dir;
    const char* const refused[] = {"..", "../x", "a/..", "a/../b", "a\\..\\b", "/abs", "\\abs", "C:/x", "c:x",
                                   "a/b/../../.."};
    for (const char* dir : refused)
        EXPECT_FALSE(MODUL_FTP::IsWorkDirAllowed(dir)) << dir;
}

TEST_F(ModulFtpTest, RefusedWorkDirectoryEndsTheRunBeforeItStarts)
{
    SetParm("GLOBAL.TEMP_PATH", m_dir.Path());
    SetParm("GLOBAL.WORK_DIR", "../elsewhere");
    SetParm("SQLITE.DBNAME", "q.db");
    SetParm("TCP.PASSWORD", "VkVYUFdEMQ");
    EngineLog log;
    {
        MODUL_FTP modul;
        EXPECT_EQ(8, g_iRC.load());
        EXPECT_EQ(m_dir.Path() + "/../elsewhere/q.db", std::string(modul.m_pszDbPath));
        EXPECT_EQ("VEXPWD1", modul.m_strPasswd);
        EXPECT_EQ(0, modul.m_iHostPort);
        EXPECT_EQ(nullptr, modul.m_pTask);
    }
    EXPECT_FALSE(FileExists(m_dir.Path() + "/../elsewhere"));
    EXPECT_EQ(1u, log.Count("E120 GLOBAL.WORK_DIR '../elsewhere' refused: it must lie inside GLOBAL.TEMP_PATH"));
    // The missing host port is reported as a failed assertion; no task runs.
    EXPECT_EQ(1u, log.CountPrefix("E110 Assertion failed: m_iHostPort ("));
    EXPECT_EQ(0u, log.Count("I120 MODUL_FTP running..ok"));
    const std::vector<std::string> lines = log.Lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ("I120 MODUL_FTP starting", lines.front());
    EXPECT_EQ("I120 MODUL_FTP ended", lines.back());
}

TEST_F(ModulFtpTest, RefusedConnectionWritesTheFailureRow)
{
    const int port = ClosedPort();
    SetParm("GLOBAL.TEMP_PATH", m_dir.Path());
    SetParm("GLOBAL.WORK_DIR", "w");
    SetParm("SQLITE.DBNAME", "q.db");
    SetParm("TCP.IP_ADDR", "127.0.0.1");
    // atoi rules: the digits up to the first other character.
    SetParm("TCP.HOST_PORT", std::to_string(port) + "abc");
    SetParm("TCP.PC_PORT", " +0");
    SetParm("TCP.USERID", "U");
    SetParm("TCP.MEMBER", "M");
    SetParm("TCP.PASSWORD", "*");
    SetParm("FTP.T1", "5");
    EngineLog log;
    {
        MODUL_FTP modul;
        EXPECT_EQ(port, modul.m_iHostPort);
        EXPECT_EQ(0, modul.m_iPcPort);
        EXPECT_EQ("", modul.m_strPasswd);
        EXPECT_EQ("127.0.0.1", modul.m_strIP);
        EXPECT_EQ("U", modul.m_strUsrid);
        EXPECT_EQ("M", modul.m_strSymdesti);
        EXPECT_EQ(m_dir.Path() + "/w/q.db", std::string(modul.m_pszDbPath));
        // The run is over when the constructor returns.
        EXPECT_EQ(nullptr, modul.m_pBlockSocket);
        EXPECT_EQ(nullptr, modul.m_pSocketFTP);
    }
    EXPECT_EQ(16, g_iRC.load());
    // The work directory was made; the refused connection (return code 1)
    // is the row -1, written without the engine.
    EXPECT_EQ((std::vector<std::vector<std::string>>{{"-1"}}),
              QueryRows(m_dir.Path() + "/w/q.db", "SELECT CAST(PID AS TEXT) FROM System"));
    EXPECT_EQ(1u, log.Count("E120 Password line empty or \"*\": logon without password, password check off"));
    EXPECT_EQ(0u, log.CountPrefix("E110 "));
    EXPECT_EQ(1u, log.Count("I120 MODUL_FTP running..ok"));
    EXPECT_EQ(1u, log.Count("I120 MODUL_FTP ended"));
    EXPECT_EQ(0u, log.CountPrefix("I120 SocketFTP"));

    // While this run holds the work directory, a second one is refused
    // before it touches a table.
    g_iRC = 0;
    { MODUL_FTP second; }
    EXPECT_EQ(8, g_iRC.load());
    EXPECT_EQ(1u, log.CountPrefix("E120 Work directory '" + m_dir.Path() + "/w' is in use by another run"));
    EXPECT_EQ((std::vector<std::vector<std::string>>{{"-1"}}),
              QueryRows(m_dir.Path() + "/w/q.db", "SELECT CAST(PID AS TEXT) FROM System"));

    // A password line that is not Base64: nothing reaches the host, the
    // front end reads -8.
    WorkDir::Release();
    g_iRC = 0;
    SetParm("TCP.PASSWORD", "@@@@");
    { MODUL_FTP refused; }
    EXPECT_EQ(8, g_iRC.load());
    EXPECT_EQ(1u, log.Count("E120 Error decoding Base64"));
    EXPECT_EQ(1u, log.Count("I120 MODUL_FTP running..ok"));
    EXPECT_EQ((std::vector<std::vector<std::string>>{{"-8"}}),
              QueryRows(m_dir.Path() + "/w/q.db", "SELECT CAST(PID AS TEXT) FROM System"));
}

TEST_F(ModulFtpTest, FailureRowIsAddedWhereverTheTableStands)
{
    const std::string fresh = m_dir.File("fresh.db");
    EXPECT_TRUE(MODUL_FTP::WriteFailureRow(fresh.c_str(), 27));
    EXPECT_EQ((std::vector<std::vector<std::string>>{{"-27"}}),
              QueryRows(fresh, "SELECT CAST(PID AS TEXT) FROM System"));
    // A database whose engine wrote its rows already keeps them.
    const std::string used = m_dir.File("used.db");
    {
        sqlite3* db = nullptr;
        sqlite3_open(used.c_str(), &db);
        sqlite3_exec(db,
                     "CREATE TABLE System (  PID   INTEGER NOT NULL); INSERT INTO System VALUES (4711);"
                     "CREATE TABLE Response (Id INTEGER NOT NULL, Cmd BLOB NOT NULL, Data BLOB NOT NULL,"
                     " File BLOB NOT NULL); INSERT INTO Response VALUES (1,'HPREADY','x','');",
                     nullptr, nullptr, nullptr);
        sqlite3_close(db);
    }
    EXPECT_TRUE(MODUL_FTP::WriteFailureRow(used.c_str(), 18));
    EXPECT_EQ((std::vector<std::vector<std::string>>{{"4711"}, {"-18"}}),
              QueryRows(used, "SELECT CAST(PID AS TEXT) FROM System ORDER BY ROWID"));
    EXPECT_EQ(1u, QueryRows(used, "SELECT * FROM Response").size());
    // No file can be made there: nothing is written.
    EXPECT_FALSE(MODUL_FTP::WriteFailureRow(m_dir.Path().c_str(), 6));
}

} // namespace
