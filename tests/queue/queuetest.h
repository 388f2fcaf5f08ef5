#pragma once
// Shared pieces of the request queue tests: a configuration store published
// in g_pConfigModul and a second ("front end") connection to a database file.

#include <gtest/gtest.h>

#include "logcapture.h"
#include "scratchdir.h"

#include <sqlite3.h>

#include <string>
#include <vector>

class ConfigModul;

// Base fixture: a scratch directory and a configuration store.
class QueueTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    void SetParm(const std::string& key, const std::string& value);

    ScratchDir m_dir;
    ConfigModul* m_pConfig = nullptr;
};

// The front end's side of the database file.
class FrontEnd {
public:
    explicit FrontEnd(const std::string& path);
    ~FrontEnd();
    void Exec(const std::string& sql);
    // Inserts a Request row with the given column bytes (bound as blobs,
    // the Id as text so that any value reaches the column).
    void InsertRequest(const std::string& id, const std::string& cmd, const std::string& data,
                       const std::string& file);
    // Every row of a query, each column's bytes as a string.
    std::vector<std::vector<std::string>> Rows(const std::string& sql);
    sqlite3* Handle() { return m_db; }

private:
    sqlite3* m_db = nullptr;
};

void WriteFile(const std::string& path, const std::string& content);
