#include "enginetest.h"

#include "workdir.h"

#include "configmodul.h"
#include "elog.h"
#include "logger/logger.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

EngineScratch::EngineScratch()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "vexlink-engine-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    m_path = pattern;
}

EngineScratch::~EngineScratch()
{
    std::error_code ec;
    std::filesystem::remove_all(m_path, ec);
}

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

EngineLog::EngineLog()
{
    const char* config = "<talverix><logger><target formatter='line' sender='test' level='5' "
                         "include='type;msgNr'/></logger></talverix>";
    Logger::Core::instance()->start("", "vexlink", -1, "", config, nullptr, false, "");
    Logger::Core::instance()->clearTestOutput();
    g_bLogOn = 1;
}

EngineLog::~EngineLog()
{
    g_bLogOn = 0;
    Logger::Core::instance()->reset();
}

std::vector<std::string> EngineLog::Lines()
{
    const String text = Logger::Core::instance()->testOutput();
    const std::string all(text.c_str(), static_cast<size_t>(text.length()));
    std::vector<std::string> lines;
    size_t begin = 0;
    while (begin < all.size()) {
        size_t end = all.find('\n', begin);
        if (end == std::string::npos)
            end = all.size();
        lines.push_back(all.substr(begin, end - begin));
        begin = end + 1;
    }
    return lines;
}

size_t EngineLog::Count(const std::string& line)
{
    size_t n = 0;
    for (const std::string& l : Lines())
        n += l == line ? 1 : 0;
    return n;
}

size_t EngineLog::CountPrefix(const std::string& prefix)
{
    size_t n = 0;
    for (const std::string& l : Lines())
        n += l.compare(0, prefix.size(), prefix) == 0 ? 1 : 0;
    return n;
}

std::vector<std::vector<std::string>> QueryRows(const std::string& dbPath, const std::string& sql)
{
    std::vector<std::vector<std::string>> rows;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(dbPath.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        ADD_FAILURE() << "cannot open " << dbPath;
        sqlite3_close(db);
        return rows;
    }
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) == SQLITE_OK) {
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
    } else {
        ADD_FAILURE() << "cannot prepare " << sql << ": " << sqlite3_errmsg(db);
    }
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return rows;
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const std::string& content)
{
    std::ofstream out(path, std::ios::binary);
    out << content;
}

bool FileExists(const std::string& path)
{
    std::error_code ec;
    return std::filesystem::exists(path, ec);
}
