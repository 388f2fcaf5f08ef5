#include "enginetest.h"

#include "workdir.h"

#include "configmodul.h"

void EngineTest::SetUp()
{
    m_pConfig = new ConfigModul(0, nullptr);
    g_pConfigModul = m_pConfig;
}

void EngineTest::TearDown()
{
    // A run's work directory lock ends with the test.
    WorkDir::Release();
    g_pConfigModul = nullptr;
    delete m_pConfig;
    m_pConfig = nullptr;
}

void EngineTest::SetParm(const std::string& key, const std::string& value)
{
    m_pConfig->m_bIniLoaded = true;
    m_pConfig->SetParm(key, value);
}

std::vector<std::vector<std::string>> QueryRows(const std::string& dbPath, const std::string& sql)
{
    std::vector<std::vector<std::string>> rows;
    sqlite3* db = nullptr;
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_open_v2(dbPath.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK ||
        sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
        ADD_FAILURE() << "cannot read " << dbPath << ": " << sql;
    } else {
        while (sqlite3_step(stmt) == SQLITE_ROW) {
            std::vector<std::string> row;
            for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
                const void* blob = sqlite3_column_blob(stmt, i);
                row.emplace_back(blob ? std::string(static_cast<const char*>(blob),
                                                    static_cast<size_t>(sqlite3_column_bytes(stmt, i)))
                                      : std::string());
            }
            rows.push_back(row);
        }
    }
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return rows;
}
