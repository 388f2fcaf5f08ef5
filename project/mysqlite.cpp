#include "mysqlite.h"

#include "linelimits.h"
#include "configmodul.h"
#include "elog.h"

#include <sqlite3.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>

const char* const g_pszDbCreateScript = "DROP TABLE IF EXISTS Request;\n"
                                        "DROP TABLE IF EXISTS Response;\n"
                                        "DROP TABLE IF EXISTS System;\n"
                                        "CREATE TABLE IF NOT EXISTS Request (  Id   INTEGER NOT NULL,  Cmd  BLOB NOT "
                                        "NULL,  Data BLOB NOT NULL,  File BLOB NOT NULL);\n"
                                        "CREATE TABLE IF NOT EXISTS Response (  Id   INTEGER NOT NULL,  Cmd  BLOB NOT "
                                        "NULL,  Data BLOB NOT NULL,  File BLOB NOT NULL);\n"
                                        "CREATE TABLE IF NOT EXISTS System (  PID   INTEGER NOT NULL);\n";

namespace {
const char* const kGetStatement = "SELECT ROWID,* FROM Request";
// The row text kept for the log has room for this many bytes.
const size_t kRowTextMax = Limits::kBlock - 1;

// SQLITE.T0 in seconds as milliseconds; decimal with the leading-number rule
// of atoi, kept inside the 32-bit range.
int32_t BusyTimeoutFromConfig()
{
    std::string value;
    if (!ConfigValue("SQLITE.T0", value))
        return 30000;
    long long seconds = std::strtoll(value.c_str(), nullptr, 10);
    // Under a second the busy wait protects nothing: the default.
    if (seconds < 1)
        return 30000;
    if (seconds > INT32_MAX / 1000)
        return INT32_MAX;
    return static_cast<int32_t>(seconds * 1000);
}
} // namespace

MySqlite::MySqlite(const char* pszDbPath)
    : m_strDbPath(pszDbPath != nullptr ? pszDbPath : ""), m_iBusyTimeout(BusyTimeoutFromConfig())
{
}

MySqlite::~MySqlite()
{
    SetError(nullptr);
    CloseConnection();
}

void MySqlite::CloseConnection()
{
    if (m_pDb != nullptr) {
        sqlite3_close(m_pDb);
        m_pDb = nullptr;
    }
}

void MySqlite::SetError(char* pszError)
{
    if (m_pszError != nullptr)
        sqlite3_free(m_pszError);
    m_pszError = pszError;
}

int32_t MySqlite::Create(const char* pszScript)
{
    const char* path = m_strDbPath.c_str();
    {
        ELock lock(&m_lock);
        CloseConnection();
        // Open the file (created when missing).
        sqlite3* db = nullptr;
        // Never through a symbolic link: a planted link must not lead the
        // drop of the tables into another database.
        if (sqlite3_open_v2(path, &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOFOLLOW, nullptr) !=
            SQLITE_OK) {
            ELOG(2, 4, 160, "SQLITE_CREATE: %s can't possible open db: %s\n", path,
                 db != nullptr ? sqlite3_errmsg(db) : "out of memory");
            ELOG(1, 1, 160, "SQLITE_CREATE: new db %s can't be created\n", path);
            // A failed open still hands back a handle that must be closed.
            if (db != nullptr)
                sqlite3_close(db);
            return 0;
        }
        m_pDb = db;

        if (sqlite3_busy_timeout(m_pDb, m_iBusyTimeout) != SQLITE_OK) {
            ELOG(1, 4, 160, "SQLITE_CREATE: %s sqlite3_busy_timeout NOT SET\n", path);
            ELOG(1, 1, 160, "SQLITE_CREATE: new db %s can't be created\n", path);
            return 0;
        }

        char* error = nullptr;
        if (sqlite3_exec(m_pDb, "PRAGMA synchronous = OFF;", nullptr, nullptr, &error) != SQLITE_OK) {
            SetError(error);
            ELOG(2, 4, 160, "SQLITE_CREATE: %s PRAGMA synchronous = OFF failed: %s\n", path,
                 m_pszError != nullptr ? m_pszError : sqlite3_errmsg(m_pDb));
            ELOG(1, 1, 160, "SQLITE_CREATE: new db %s can't be created\n", path);
            return 0;
        }
        error = nullptr;
        if (sqlite3_exec(m_pDb, "PRAGMA cache_size = 10000;", nullptr, nullptr, &error) != SQLITE_OK) {
            SetError(error);
            ELOG(2, 4, 160, "SQLITE_CREATE: %s PRAGMA cache_size = 10000 failed: %s\n", path,
                 m_pszError != nullptr ? m_pszError : sqlite3_errmsg(m_pDb));
            ELOG(1, 1, 160, "SQLITE_CREATE: new db %s can't be created\n", path);
            return 0;
        }
    }

    // Query takes the database lock itself.
    if (Query(pszScript) != 1) {
        ELOG(1, 1, 160, "SQLITE_CREATE: new db %s can't be created\n", path);
        return 0;
    }
    ELOG(1, 3, 160, "SQLITE_CREATE: new db %s created\n", path);
    // One log line per line of the script: ELOG escapes the line feeds of
    // its arguments.
    ELOG(0, 3, 160, "SQLITE_CREATE_CMD:\n");
    for (const char* line = pszScript; line != nullptr && *line != '\0';) {
        const char* end = std::strchr(line, '\n');
        const std::string text = end != nullptr ? std::string(line, end) : std::string(line);
        ELOG(1, 3, 160, "%s\n", text.c_str());
        line = end != nullptr ? end + 1 : nullptr;
    }
    return 1;
}

int32_t MySqlite::Query(const char* pszSql)
{
    int code = SQLITE_OK;
    return RunStatement(pszSql, code);
}

int32_t MySqlite::QueryRetryBusy(const char* pszSql, int32_t iAttempts)
{
    // However short the busy timeout, the attempts together wait at least
    // kMinBusyCoverMillis for a front end that holds the write lock.
    if (m_iBusyTimeout > 0) {
        const int32_t cover = (kMinBusyCoverMillis + m_iBusyTimeout - 1) / m_iBusyTimeout;
        iAttempts = std::max(iAttempts, cover);
    }
    int32_t result = -1;
    for (int32_t attempt = 1;; ++attempt) {
        int code = SQLITE_OK;
        result = RunStatement(pszSql, code);
        const bool busy = (code & 0xff) == SQLITE_BUSY || code == SQLITE_IOERR_BLOCKED;
        if (result == 1 || !busy || attempt >= iAttempts)
            break;
        ELOG(2, 2, 160, "SQLITE_QUERY: %s: database busy, run again (%s)\n", m_strDbPath.c_str(), pszSql);
    }
    return result;
}

int32_t MySqlite::RunStatement(const char* pszSql, int& iCode)
{
    ELock lock(&m_lock);
    iCode = SQLITE_OK;
    if (pszSql == nullptr || pszSql[0] == '\0') {
        ELOG(0, 4, 160, "SQLITE_QUERY: query is empty\n");
        return -1;
    }
    if (m_pDb == nullptr) {
        ELOG(2, 4, 160, "SQLITE_QUERY: %s: db is not open (%s)\n", m_strDbPath.c_str(), pszSql);
        return -1;
    }
    char* error = nullptr;
    const int rc = sqlite3_exec(m_pDb, pszSql, nullptr, nullptr, &error);
    iCode = sqlite3_extended_errcode(m_pDb);
    if (rc != SQLITE_OK) {
        if (iCode == SQLITE_OK)
            iCode = rc;
        SetError(error);
        ELOG(3, 4, 160, "SQLITE_QUERY: %s: sql stmt error (%s): %s\n", m_strDbPath.c_str(), pszSql,
             m_pszError != nullptr ? m_pszError : sqlite3_errmsg(m_pDb));
        return -4;
    }
    ELOG(1, 4, 160, "SQLITE_QUERY_DONE: %s: \n", pszSql);
    return 1;
}

int32_t MySqlite::Get(std::vector<std::string>& vecColumns)
{
    ELock lock(&m_lock);
    vecColumns.clear();
    const char* path = m_strDbPath.c_str();
    if (m_pDb == nullptr) {
        ELOG(1, 4, 160, "SQLITE_GET: %s -PREPARE- sql stmt error: db is not open\n", path);
        return -1;
    }

    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(m_pDb, kGetStatement, -1, &stmt, nullptr) != SQLITE_OK) {
        ELOG(2, 4, 160, "SQLITE_GET: %s -PREPARE- sql stmt error: %s\n", path, sqlite3_errmsg(m_pDb));
        if (stmt != nullptr)
            sqlite3_finalize(stmt);
        return -1;
    }

    int32_t result;
    const int rc = sqlite3_step(stmt);
    if (rc == SQLITE_ROW) {
        ELOG(1, 4, 160, "SQLITE_GET_DONE: %s: \n", kGetStatement);
        const int count = sqlite3_column_count(stmt);
        vecColumns.reserve(static_cast<size_t>(count));
        m_strRowText.clear();
        for (int i = 0; i < count; ++i) {
            // The blob pointer is read before the byte count, as SQLite asks.
            const void* blob = sqlite3_column_blob(stmt, i);
            const int bytes = sqlite3_column_bytes(stmt, i);
            if (blob != nullptr && bytes > 0)
                vecColumns.emplace_back(static_cast<const char*>(blob), static_cast<size_t>(bytes));
            else
                vecColumns.emplace_back();
            // The log text takes each column as text (up to its first zero
            // byte) and leaves out what does not fit.
            const std::string& column = vecColumns.back();
            const size_t textLen = std::strlen(column.c_str());
            if (m_strRowText.size() < kRowTextMax)
                m_strRowText.append(column.c_str(), std::min(textLen, kRowTextMax - m_strRowText.size()));
            if (m_strRowText.size() < kRowTextMax)
                m_strRowText.push_back('|');
        }
        ELOG(1, 4, 160, "SQLITE_GET_RETURNED: %s: \n", m_strRowText.c_str());
        result = 1;
    } else if (rc == SQLITE_DONE) {
        result = -2;
    } else if ((rc & 0xff) == SQLITE_BUSY || rc == SQLITE_IOERR_BLOCKED) {
        ELOG(1, 4, 160, "SQLITE_GET: %s sqlite3_busy_timeout expired\n", path);
        result = -3;
    } else {
        if ((rc & 0xff) == SQLITE_LOCKED)
            ELOG(1, 4, 160, "SQLITE_GET: %s db is locked\n", path);
        ELOG(3, 4, 160, "SQLITE_GET: %s -STEP- sql stmt error: %s (%d)\n", path, sqlite3_errmsg(m_pDb), rc);
        result = -1;
    }
    sqlite3_finalize(stmt);
    return result;
}
