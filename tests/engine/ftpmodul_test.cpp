#include "enginetest.h"

#include "ftpmodul.h"
#include "globals.h"
#include "testplatform.h"

namespace {

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

TEST_F(ModulFtpTest, WorkDirectoryMustStayInsideTheTempPath)
{
    for (const char* dir : {"", "w", "run-42", "a/b", "a..b", "..a", "a.", "x\\y", "a/./b"})
        EXPECT_TRUE(MODUL_FTP::IsWorkDirAllowed(dir)) << dir;
    for (const char* dir : {"..", "../x", "a/..", "a/../b", "a\\..\\b", "/abs", "\\abs", "C:/x", "c:x", "a/b/../../.."})
        EXPECT_FALSE(MODUL_FTP::IsWorkDirAllowed(dir)) << dir;
}

TEST_F(ModulFtpTest, RefusedConnectionWritesTheFailureRow)
{
    const uint16_t port = testos::unusedPort();
    SetParm("GLOBAL.TEMP_PATH", m_dir.path());
    SetParm("GLOBAL.WORK_DIR", "w");
    SetParm("SQLITE.DBNAME", "q.db");
    SetParm("TCP.IP_ADDR", "127.0.0.1");
    SetParm("TCP.HOST_PORT", std::to_string(port));
    SetParm("TCP.USERID", "U");
    SetParm("TCP.MEMBER", "M");
    SetParm("TCP.PASSWORD", "VkVYUFdEMQ");
    {
        MODUL_FTP modul;
    }
    EXPECT_EQ(16, g_iRC.load());
    // The refused connection (return code 1) is the row -1, written without the engine.
    EXPECT_EQ((std::vector<std::vector<std::string>>{{"-1"}}),
              QueryRows(m_dir.file("w/q.db"), "SELECT CAST(PID AS TEXT) FROM System"));
}

TEST_F(ModulFtpTest, FailureRowIsAddedWhereverTheTableStands)
{
    const std::string fresh = m_dir.file("fresh.db");
    EXPECT_TRUE(MODUL_FTP::WriteFailureRow(fresh.c_str(), 27));
    EXPECT_EQ((std::vector<std::vector<std::string>>{{"-27"}}),
              QueryRows(fresh, "SELECT CAST(PID AS TEXT) FROM System"));
    // A database whose engine wrote its rows already keeps them.
    const std::string used = m_dir.file("used.db");
    FrontEnd(used).Exec("CREATE TABLE System (  PID   INTEGER NOT NULL); INSERT INTO System VALUES (4711);"
                        "CREATE TABLE Response (Id INTEGER NOT NULL, Cmd BLOB NOT NULL, Data BLOB NOT NULL,"
                        " File BLOB NOT NULL); INSERT INTO Response VALUES (1,'HPREADY','x','');");
    EXPECT_TRUE(MODUL_FTP::WriteFailureRow(used.c_str(), 18));
    EXPECT_EQ((std::vector<std::vector<std::string>>{{"4711"}, {"-18"}}),
              QueryRows(used, "SELECT CAST(PID AS TEXT) FROM System ORDER BY ROWID"));
    EXPECT_EQ(1u, QueryRows(used, "SELECT * FROM Response").size());
    // No file can be made there: nothing is written.
    EXPECT_FALSE(MODUL_FTP::WriteFailureRow(m_dir.path().c_str(), 6));
}

} // namespace
