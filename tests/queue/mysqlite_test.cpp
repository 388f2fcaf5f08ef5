#include "queuetest.h"

#include "mysqlite.h"
#include "platform/platform.h"

#include <thread>

namespace {

class MySqliteTest : public QueueTest {
protected:
    std::string DbPath() { return m_dir.file("vexlink.db"); }
};

TEST_F(MySqliteTest, BusyTimeoutFollowsSqliteT0)
{
    // {SQLITE.T0, milliseconds}: default 30 s; beyond the 32-bit range held at the limit.
    for (const auto& c :
         {std::make_pair("", 30000), std::make_pair("5", 5000), std::make_pair("99999999999", INT32_MAX)}) {
        if (*c.first)
            SetParm("SQLITE.T0", c.first);
        EXPECT_EQ(c.second, MySqlite(DbPath().c_str()).GetBusyTimeout()) << c.first;
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
    // 1 s busy timeout and 12 attempts: a write lock held for 13 s must not lose the row.
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

TEST_F(MySqliteTest, CreationEmptiesTablesAndRowsComeWholeInInsertionOrder)
{
    MySqlite db(DbPath().c_str());
    ASSERT_EQ(1, db.Create(g_pszDbCreateScript));
    FrontEnd fe(DbPath());
    std::string high;
    for (int c = 0x80; c <= 0xff; ++c)
        high.push_back(static_cast<char>(c));
    const std::string quotes = "it's \"quoted\" ''";
    const std::vector<std::vector<std::string>> rows = {{"2", "PHSUBMIT", std::string("ab\0cd\0", 6), ""},
                                                        {"3", quotes, quotes, quotes},
                                                        {"4", "PHSUBMIT", std::string(1024 * 1024, 'M'), "/x/y"},
                                                        {"", "", "", ""},
                                                        {"abc", "PING", high, ""}};
    for (const auto& r : rows)
        fe.InsertRequest(r[0], r[1], r[2], r[3]);
    std::vector<std::string> cols;
    for (const auto& r : rows) {
        ASSERT_EQ(1, db.Get(cols));
        EXPECT_EQ(r, std::vector<std::string>(cols.begin() + 1, cols.end()));
        // The send thread deletes each row by its ROWID before it takes the next.
        EXPECT_EQ(1, db.Query(("DELETE FROM Request WHERE ROWID=" + cols[0]).c_str()));
        EXPECT_LT(db.GetRowText().size(), 32000u); // the row's log text is bounded
        if (r[0] == "3") {
            EXPECT_EQ("3|" + quotes + "|" + quotes + "|" + quotes + "|",
                      db.GetRowText().substr(db.GetRowText().find('|') + 1));
        }
    }
    EXPECT_EQ(-2, db.Get(cols));
    EXPECT_TRUE(cols.empty());
    fe.InsertRequest("5", "PING", "left over", "");
    fe.Exec("INSERT INTO Response VALUES (9,'HPMSG','old','');INSERT INTO System VALUES (123);");
    // The next run on the same file finds every table empty, and an empty table logs nothing.
    MySqlite next(DbPath().c_str());
    ASSERT_EQ(1, next.Create(g_pszDbCreateScript));
    LogCapture log;
    for (const char* table : {"Request", "Response", "System"})
        EXPECT_TRUE(fe.Rows(std::string("SELECT * FROM ") + table).empty()) << table;
    EXPECT_EQ(-2, next.Get(cols));
    EXPECT_TRUE(log.Lines().empty());
    EXPECT_EQ("CREATE TABLE Request (  Id   INTEGER NOT NULL,  Cmd  BLOB NOT NULL,  Data BLOB NOT NULL,  File BLOB "
              "NOT NULL)",
              fe.Rows("SELECT sql FROM sqlite_master WHERE name='Request'")[0][0]);
}

TEST_F(MySqliteTest, QueryResultsAndFailedCreation)
{
    MySqlite db(DbPath().c_str());
    std::vector<std::string> cols;
    EXPECT_EQ(-1, db.Query("INSERT INTO System (PID) VALUES ('1')")); // no connection yet
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
    EXPECT_EQ((std::vector<std::vector<std::string>>{{"7", "integer"}, {"8", "integer"}}),
              FrontEnd(DbPath()).Rows("SELECT PID, typeof(PID) FROM System ORDER BY ROWID"));
    // A directory and a missing folder cannot be created; nothing is written or read there.
    const std::string missing = m_dir.file("no/such/folder/vexlink.db");
    for (const std::string& path : {m_dir.path(), missing}) {
        MySqlite bad(path.c_str());
        EXPECT_EQ(0, bad.Create(g_pszDbCreateScript));
        EXPECT_EQ(1u, log.Count("E160 SQLITE_CREATE: new db " + path + " can't be created"));
        EXPECT_NE(1, bad.Query("INSERT INTO System (PID) VALUES ('1')"));
        EXPECT_NE(1, bad.Get(cols));
    }
    EXPECT_EQ(1u,
              log.Count("X160 SQLITE_CREATE: " + missing + " can't possible open db: unable to open database file"));
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
    EXPECT_GE(Platform::monotonicMillis() - start, 900u); // SQLite waited before giving up
    EXPECT_TRUE(cols.empty());
    EXPECT_EQ(std::vector<std::string>{"X160 SQLITE_GET: " + DbPath() + " sqlite3_busy_timeout expired"}, log.Lines());
    fe.Exec("COMMIT;");
    EXPECT_EQ(1, db.Get(cols));
    EXPECT_EQ("2", cols[1]);
}

} // namespace
