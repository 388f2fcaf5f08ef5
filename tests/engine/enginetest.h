#pragma once
// Shared pieces of the engine tests: a scratch directory, a configuration
// store published in g_pConfigModul, the log captured line by line, and the
// front end's own connection to a database file.

#include <gtest/gtest.h>

#include <sqlite3.h>

#include <string>
#include <vector>

class ConfigModul;

class EngineScratch {
public:
    EngineScratch();
    ~EngineScratch();
    const std::string& Path() const { return m_path; }
    std::string File(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

class EngineTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    void SetParm(const std::string& key, const std::string& value);

    EngineScratch m_dir;
    ConfigModul* m_pConfig = nullptr;
};

// Every log line of every level, as "<type letter><message number> <text>"
// (E W I X T for levels 1 to 5).
class EngineLog {
public:
    EngineLog();
    ~EngineLog();
    std::vector<std::string> Lines();
    size_t Count(const std::string& line);
    size_t CountPrefix(const std::string& prefix);
};

// Every row of a query, each column as text (integers in decimal).
std::vector<std::vector<std::string>> QueryRows(const std::string& dbPath, const std::string& sql);
std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& content);
bool FileExists(const std::string& path);
