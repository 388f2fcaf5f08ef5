#pragma once
// Shared pieces of the request queue tests: a scratch directory that is
// removed afterwards, a configuration store published in g_pConfigModul, and
// a second ("front end") connection to a database file.

#include <gtest/gtest.h>

#include <sqlite3.h>

#include <string>
#include <vector>

class ConfigModul;

// A fresh directory below the system's temporary directory, removed with
// everything in it at destruction.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    const std::string& Path() const { return m_path; }
    std::string File(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

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

// Logging on at every level into the logger's test buffer, one line per
// message: type letter (E W I X T for levels 1 to 5), message number, blank,
// text. Logging is switched off again at destruction.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    std::vector<std::string> Lines();
    // Number of lines that equal line exactly.
    size_t Count(const std::string& line);
    // Number of lines that start with prefix.
    size_t CountPrefix(const std::string& prefix);
    void Clear();
};

bool FileExists(const std::string& path);
void WriteFile(const std::string& path, const std::string& content);
