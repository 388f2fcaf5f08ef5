#include "queuetest.h"

#include "configmodul.h"
#include "elog.h"
#include "logger/logger.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

void QueueTest::SetUp()
{
    m_pConfig = new ConfigModul(0, nullptr);
    g_pConfigModul = m_pConfig;
}

void QueueTest::TearDown()
{
    g_pConfigModul = nullptr;
    delete m_pConfig;
    m_pConfig = nullptr;
}

void QueueTest::SetParm(const std::string& key, const std::string& value)
{
    // Later values replace earlier ones, as options do once the INI file
    // has been read.
    m_pConfig->m_bIniLoaded = true;
    m_pConfig->SetParm(key, value);
}

FrontEnd::FrontEnd(const std::string& path)
{
    if (sqlite3_open(path.c_str(), &m_db) != SQLITE_OK)
        ADD_FAILURE() << "front end cannot open " << path;
    sqlite3_busy_timeout(m_db, 10000);
}

FrontEnd::~FrontEnd()
{
    sqlite3_close(m_db);
}

void FrontEnd::Exec(const std::string& sql)
{
    char* error = nullptr;
    if (sqlite3_exec(m_db, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK)
        ADD_FAILURE() << "front end statement failed: " << sql << ": " << (error ? error : "?");
    sqlite3_free(error);
}

void FrontEnd::InsertRequest(const std::string& id, const std::string& cmd, const std::string& data,
                             const std::string& file)
{
    sqlite3_stmt* stmt = nullptr;
    ASSERT_EQ(SQLITE_OK, sqlite3_prepare_v2(m_db, "INSERT INTO Request (Id, Cmd, Data, File) VALUES (?,?,?,?)", -1,
                                            &stmt, nullptr));
    sqlite3_bind_text(stmt, 1, id.data(), static_cast<int>(id.size()), SQLITE_TRANSIENT);
    sqlite3_bind_blob(stmt, 2, cmd.data(), static_cast<int>(cmd.size()), SQLITE_TRANSIENT);
    sqlite3_bind_blob(stmt, 3, data.data(), static_cast<int>(data.size()), SQLITE_TRANSIENT);
    sqlite3_bind_blob(stmt, 4, file.data(), static_cast<int>(file.size()), SQLITE_TRANSIENT);
    EXPECT_EQ(SQLITE_DONE, sqlite3_step(stmt));
    sqlite3_finalize(stmt);
}

std::vector<std::vector<std::string>> FrontEnd::Rows(const std::string& sql)
{
    std::vector<std::vector<std::string>> rows;
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(m_db, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
        ADD_FAILURE() << "front end cannot prepare " << sql << ": " << sqlite3_errmsg(m_db);
        return rows;
    }
    while (sqlite3_step(stmt) == SQLITE_ROW) {
        std::vector<std::string> row;
        for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
            const void* blob = sqlite3_column_blob(stmt, i);
            const int bytes = sqlite3_column_bytes(stmt, i);
            row.emplace_back(blob ? std::string(static_cast<const char*>(blob), static_cast<size_t>(bytes))
                                  : std::string());
        }
        rows.push_back(row);
    }
    sqlite3_finalize(stmt);
    return rows;
}

void WriteFile(const std::string& path, const std::string& content)
{
    std::ofstream out(path, std::ios::binary);
    out << content;
}
