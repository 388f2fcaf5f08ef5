#pragma once
// The queue and engine tests' pieces: a configuration store published in g_pConfigModul and
// the front end's own connection to the database file.

#include "configmodul.h"
#include "logcapture.h"
#include "scratchdir.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <string>
#include <vector>

class QueueTest : public ::testing::Test {
protected:
    void SetUp() override { g_pConfigModul = m_pConfig = new ConfigModul(0, nullptr); }
    void TearDown() override
    {
        g_pConfigModul = nullptr;
        delete m_pConfig;
    }
    void SetParm(const std::string& key, const std::string& value)
    {
        m_pConfig->m_bIniLoaded = true; // later values replace earlier ones
        m_pConfig->SetParm(key, value);
    }
    ScratchDir m_dir;
    ConfigModul* m_pConfig = nullptr;
};

class FrontEnd {
public:
    explicit FrontEnd(const std::string& path)
    {
        EXPECT_EQ(SQLITE_OK, sqlite3_open(path.c_str(), &m_db));
        sqlite3_busy_timeout(m_db, 10000);
    }
    ~FrontEnd() { sqlite3_close(m_db); }
    void Exec(const std::string& sql)
    {
        EXPECT_EQ(SQLITE_OK, sqlite3_exec(m_db, sql.c_str(), nullptr, nullptr, nullptr)) << sql;
    }
    // Column bytes bound as blobs, the Id as text so that any value reaches the column.
    void InsertRequest(const std::string& id, const std::string& cmd, const std::string& data, const std::string& file)
    {
        sqlite3_stmt* stmt = nullptr;
        ASSERT_EQ(SQLITE_OK, sqlite3_prepare_v2(m_db, "INSERT INTO Request VALUES (?,?,?,?)", -1, &stmt, nullptr));
        sqlite3_bind_text(stmt, 1, id.data(), static_cast<int>(id.size()), SQLITE_TRANSIENT);
        const std::string* blobs[] = {&cmd, &data, &file};
        for (int i = 0; i < 3; ++i)
            sqlite3_bind_blob(stmt, i + 2, blobs[i]->data(), static_cast<int>(blobs[i]->size()), SQLITE_TRANSIENT);
        EXPECT_EQ(SQLITE_DONE, sqlite3_step(stmt));
        sqlite3_finalize(stmt);
    }
    std::vector<std::vector<std::string>> Rows(const std::string& sql)
    {
        std::vector<std::vector<std::string>> rows;
        sqlite3_stmt* stmt = nullptr;
        EXPECT_EQ(SQLITE_OK, sqlite3_prepare_v2(m_db, sql.c_str(), -1, &stmt, nullptr)) << sql;
        while (stmt != nullptr && sqlite3_step(stmt) == SQLITE_ROW) {
            rows.emplace_back();
            for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
                const char* blob = static_cast<const char*>(sqlite3_column_blob(stmt, i));
                rows.back().emplace_back(blob ? std::string(blob, static_cast<size_t>(sqlite3_column_bytes(stmt, i)))
                                              : "");
            }
        }
        sqlite3_finalize(stmt);
        return rows;
    }

private:
    sqlite3* m_db = nullptr;
};
