#pragma once
// Access to the request database shared with the front end: one connection
// per run, used by both engine threads under the database lock.

#include "cobject.h"
#include "task.h"

#include <cstdint>
#include <string>
#include <vector>

struct sqlite3;

class MySqlite : public CObject {
public:
    // Reads SQLITE.T0 (seconds, default 30) and keeps a copy of the path;
    // the file is not opened here.
    explicit MySqlite(const char* pszDbPath);
    ~MySqlite() override;
    MySqlite(const MySqlite&) = delete;
    MySqlite& operator=(const MySqlite&) = delete;

    // Opens the file (created when missing), sets the busy timeout and the
    // two pragmas, then runs the creation script. 1 success, 0 failure.
    int32_t Create(const char* pszScript);
    // Runs one or more statements that yield no rows. 1 success, -1 no text
    // or no connection, -4 SQL error.
    int32_t Query(const char* pszSql);
    // As Query, but a statement that found the database busy (the front end
    // held a write lock beyond the busy timeout) is run again, up to
    // iAttempts runs in all, so that a row the front end waits for is not
    // dropped because it held the lock for a while. The attempts are raised
    // so that they cover at least kMinBusyCoverMillis. The last result.
    int32_t QueryRetryBusy(const char* pszSql, int32_t iAttempts);
    static constexpr int32_t kMinBusyCoverMillis = 30000;
    // Fetches the first row of "SELECT ROWID,* FROM Request": every column's
    // bytes as one string each (a string also ends with a zero byte, so
    // c_str() reads the column as text up to its first zero byte).
    // 1 row, -2 table empty, -3 database busy, -1 any other error.
    int32_t Get(std::vector<std::string>& vecColumns);

    const char* GetDbPath() const { return m_strDbPath.c_str(); }
    int32_t GetBusyTimeout() const { return m_iBusyTimeout; }
    // The column texts of the last fetched row, each followed by "|".
    const std::string& GetRowText() const { return m_strRowText; }

private:
    void CloseConnection();
    void SetError(char* pszError);
    // Query's body; iCode receives SQLite's result code.
    int32_t RunStatement(const char* pszSql, int& iCode);

    EMutex m_lock;
    std::string m_strDbPath;
    int32_t m_iBusyTimeout = 30000;
    std::string m_strRowText;
    sqlite3* m_pDb = nullptr;
    char* m_pszError = nullptr;
};

// The script that drops and recreates the three tables at the start of a run.
extern const char* const g_pszDbCreateScript;
