#include "queuetest.h"

#include "mysqlite.h"
#include "platform/platform.h"

#include <atomic>
#include <thread>

namespace {

class MySqliteTest : public QueueTest {
protected:
    std::string DbPath() { return m_dir.file("vexlink.db"); }
};

TEST_F(MySqliteTest, BusyTimeoutFollowsSqliteT0)
{
    {
        MySqlite db(DbPath().c_str());
        EXPECT_EQ(30000, db.GetBusyTimeout());
    }
    SetParm("SQLITE.T0", "5");
    {
        MySqlite db(DbPath().c_str());
        EXPECT_EQ(5000, db.GetBusyTimeout());
    }
    // A value beyond the 32-bit millisecond range is held at its limit
    // instead of overflowing.
    SetParm("SQLITE.T0", "99999999999");
    {
        MySqlite db(DbPath().c_str());
        EXPECT_EQ(INT32_MAX, db.GetBusyTimeout());
    }
    // Under one second the busy wait would protect nothing: the default.
    for (const char* value : {"0", "-5", "0.5", "x"}) {
        SetParm("SQLITE.T0", value);
        MySqlite db(DbPath().c_str());
        EXPECT_EQ(30000, db.GetBusyTimeout()) << value;
    }
}

TEST_F(MySqliteTest, RetriesCoverThirtySecondsWhateverTheBusyTimeout)
{
    // One second of busy timeout and 12 attempts would give up after 12 s:
    // a front end that holds the write lock for 13 s must not lose the row.
    SetParm("SQLITE.T0", "1");
    MySqlite db(DbPath().c_str());
    ASSERT_EQ(1, db.Create(g_pszDbCreateScript));
    FrontEnd fe(DbPath());
    fe.Exec("BEGIN EXCLUSIVE;");
    std::thread release([&fe] {
        Platform::sleepMillis(13000);
        fe.Exec("COMMIT;");
    });
    EXPECT_EQ(1, db.QueryRetryBusy("INSERT INTO System (PID) VALUES ('7')", 12));
    release.join();
    EXPECT_EQ(1u, fe.Rows("SELECT PID FROM System").size());
}

TEST_F(MySqliteTest, CreationDropsEarlierRowsAndRowsComeInInsertionOrder)
{
    {
        MySqlite db(DbPath().c_str());
        ASSERT_EQ(1, db.Create(g_pszDbCreateScript));
        FrontEnd fe(DbPath());
        fe.InsertRequest("2", "PHSUBMIT", "first", "");
        fe.InsertRequest("3", "PING", "second", "");
        fe.InsertRequest("4", "PHGETFILE", "third", "/x/y");
        fe.Exec("INSERT INTO Response VALUES (9,'HPMSG','old','');INSERT INTO System VALUES (123);");

        const char* expected[][4] = {{"2", "PHSUBMIT", "first", ""},
                                     {"3", "PING", "second", ""},
                                     {"4", "PHGETFILE", "third", "/x/y"}};
        for (const auto& row : expected) {
            std::vector<std::string> cols;
            ASSERT_EQ(1, db.Get(cols));
            ASSERT_EQ(5u, cols.size());
            EXPECT_EQ(row[0], cols[1]);
            EXPECT_EQ(row[1], cols[2]);
            EXPECT_EQ(row[2], cols[3]);
            EXPECT_EQ(row[3], cols[4]);
            EXPECT_EQ(cols[1] + "|" + cols[2] + "|" + cols[3] + "|" + cols[4] + "|",
                      db.GetRowText().substr(db.GetRowText().find('|') + 1));
            // The send thread deletes each row by its ROWID before it takes the next.
            EXPECT_EQ(1, db.Query(("DELETE FROM Request WHERE ROWID=" + cols[0]).c_str()));
        }
        std::vector<std::string> cols;
        EXPECT_EQ(-2, db.Get(cols));
        EXPECT_TRUE(cols.empty());
        fe.InsertRequest("5", "PING", "left over", "");
    }
    // The next run on the same file finds every table empty.
    MySqlite db(DbPath().c_str());
    ASSERT_EQ(1, db.Create(g_pszDbCreateScript));
    LogCapture log;
    FrontEnd fe(DbPath());
    EXPECT_TRUE(fe.Rows("SELECT * FROM Request").empty());
    EXPECT_TRUE(fe.Rows("SELECT * FROM Response").empty());
    EXPECT_TRUE(fe.Rows("SELECT * FROM System").empty());
    std::vector<std::string> cols;
    EXPECT_EQ(-2, db.Get(cols));
    // An empty table is no event worth a line.
    EXPECT_TRUE(log.Lines().empty());
    const auto schema = fe.Rows("SELECT sql FROM sqlite_master WHERE name='Request'");
    ASSERT_EQ(1u, schema.size());
    EXPECT_EQ("CREATE TABLE Request (  Id   INTEGER NOT NULL,  Cmd  BLOB NOT NULL,  Data BLOB NOT NULL,  File BLOB "
              "NOT NULL)",
              schema[0][0]);
}

TEST_F(MySqliteTest, QueryResults)
{
    MySqlite db(DbPath().c_str());
    // No connection yet: refused, never handed to SQLite.
    EXPECT_EQ(-1, db.Query("INSERT INTO System (PID) VALUES ('1')"));
    std::vector<std::string> cols;
    EXPECT_EQ(-1, db.Get(cols));

    ASSERT_EQ(1, db.Create(g_pszDbCreateScript));
    LogCapture log;
    EXPECT_EQ(-1, db.Query(nullptr));
    EXPECT_EQ(-1, db.Query(""));
    EXPECT_EQ(2u, log.Count("X160 SQLITE_QUERY: query is empty"));
    EXPECT_EQ(-4, db.Query("INSERT INTO Nowhere VALUES (1)"));
    EXPECT_EQ(1u, log.Count("X160 SQLITE_QUERY: " + DbPath() +
                            ": sql stmt error (INSERT INTO Nowhere VALUES (1)): no such table: Nowhere"));
    EXPECT_EQ(-4, db.Query("INSERT INTO System (PID) VALUES ('1"));
    EXPECT_EQ(1, db.Query("INSERT INTO System (PID) VALUES ('7');INSERT INTO System (PID) VALUES ('8');"));
    FrontEnd fe(DbPath());
    const auto rows = fe.Rows("SELECT PID, typeof(PID) FROM System ORDER BY ROWID");
    ASSERT_EQ(2u, rows.size());
    EXPECT_EQ("7", rows[0][0]);
    EXPECT_EQ("integer", rows[0][1]);
    EXPECT_EQ("8", rows[1][0]);
}

TEST_F(MySqliteTest, CreateFailsOnDirectoryAndMissingFolder)
{
    LogCapture log;
    {
        MySqlite db(m_dir.path().c_str());
        EXPECT_EQ(0, db.Create(g_pszDbCreateScript));
        EXPECT_EQ(1u, log.Count("E160 SQLITE_CREATE: new db " + m_dir.path() + " can't be created"));
        EXPECT_NE(1, db.Query("INSERT INTO System (PID) VALUES ('1')"));
        std::vector<std::string> cols;
        EXPECT_NE(1, db.Get(cols));
    }
    {
        const std::string path = m_dir.file("no/such/folder/vexlink.db");
        MySqlite db(path.c_str());
        EXPECT_EQ(0, db.Create(g_pszDbCreateScript));
        EXPECT_EQ(1u, log.Count("X160 SQLITE_CREATE: " + path + " can't possible open db: unable to open database file"));
        EXPECT_EQ(1u, log.Count("E160 SQLITE_CREATE: new db " + path + " can't be created"));
        EXPECT_EQ(-1, db.Query("INSERT INTO System (PID) VALUES ('1')"));
        std::vector<std::string> cols;
        EXPECT_EQ(-1, db.Get(cols));
    }
    // A missing file in an existing folder is created.
    MySqlite db(m_dir.file("fresh.db").c_str());
    EXPECT_EQ(1, db.Create(g_pszDbCreateScript));
    EXPECT_TRUE(FileExists(m_dir.file("fresh.db")));
}

TEST_F(MySqliteTest, WriteLockOfAnotherConnectionGivesBusyAfterTimeout)
{
    SetParm("SQLITE.T0", "1");
    MySqlite db(DbPath().c_str());
    ASSERT_EQ(1, db.Create(g_pszDbCreateScript));
    FrontEnd fe(DbPath());
    fe.InsertRequest("2", "PING", "x", "");

    fe.Exec("BEGIN EXCLUSIVE; INSERT INTO Request VALUES (3,'PING','y','');");
    LogCapture log;
    const uint64_t start = Platform::monotonicMillis();
    std::vector<std::string> cols;
    EXPECT_EQ(-3, db.Get(cols));
    // SQLite waited for the lock before giving up.
    EXPECT_GE(Platform::monotonicMillis() - start, 900u);
    EXPECT_TRUE(cols.empty());
    EXPECT_EQ(std::vector<std::string>{"X160 SQLITE_GET: " + DbPath() + " sqlite3_busy_timeout expired"}, log.Lines());
    fe.Exec("COMMIT;");

    EXPECT_EQ(1, db.Get(cols));
    EXPECT_EQ("2", cols[1]);

    // A lock released within the busy timeout only delays the fetch.
    SetParm("SQLITE.T0", "5");
    MySqlite patient(DbPath().c_str());
    ASSERT_EQ(1, patient.Create(g_pszDbCreateScript));
    fe.InsertRequest("2", "PING", "z", "");
    fe.Exec("BEGIN EXCLUSIVE;");
    std::thread release([&fe] {
        Platform::sleepMillis(300);
        fe.Exec("COMMIT;");
    });
    EXPECT_EQ(1, patient.Get(cols));
    release.join();
    EXPECT_EQ("z", cols[3]);
}

TEST_F(MySqliteTest, RowsWithAnyBytesAreFetchedWhole)
{
    MySqlite db(DbPath().c_str());
    ASSERT_EQ(1, db.Create(g_pszDbCreateScript));
    FrontEnd fe(DbPath());
    const std::string withNul("ab\0cd\0", 6);
    const std::string quotes = "it's \"quoted\" ''";
    const std::string big(1024 * 1024, 'M');
    std::string high;
    for (int c = 0x80; c <= 0xff; ++c)
        high.push_back(static_cast<char>(c));
    fe.InsertRequest("2", "PHSUBMIT", withNul, "");
    fe.InsertRequest("3", quotes, quotes, quotes);
    fe.InsertRequest("4", "PHSUBMIT", big, "");
    fe.InsertRequest("", "", "", "");
    fe.InsertRequest("abc", "PING", high, "");

    std::vector<std::vector<std::string>> got;
    std::vector<std::string> cols;
    while (db.Get(cols) == 1) {
        got.push_back(cols);
        ASSERT_EQ(1, db.Query(("DELETE FROM Request WHERE ROWID=" + cols[0]).c_str()));
    }
    ASSERT_EQ(5u, got.size());
    EXPECT_EQ(withNul, got[0][3]);
    EXPECT_STREQ("ab", got[0][3].c_str());
    EXPECT_EQ(quotes, got[1][2]);
    EXPECT_EQ(quotes, got[1][3]);
    EXPECT_EQ(quotes, got[1][4]);
    EXPECT_EQ(big, got[2][3]);
    EXPECT_EQ("", got[3][1]);
    EXPECT_EQ("", got[3][2]);
    EXPECT_EQ("abc", got[4][1]);
    EXPECT_EQ(high, got[4][3]);
    // The log text of a row is bounded whatever the row holds.
    EXPECT_LT(db.GetRowText().size(), 32000u);
    EXPECT_EQ("ok", fe.Rows("PRAGMA integrity_check")[0][0]);
}

} // namespace
