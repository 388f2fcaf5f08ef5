#include "trace.h"

#include <atomic>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <mutex>
#include <sstream>

namespace wc {
namespace {

std::mutex g_traceLock;
std::unique_ptr<TraceSink> g_sink;
std::atomic<int> g_level{0};

// Value of attribute name='...' or name="..." inside the first element that
// starts with elementStart; empty when absent.
std::string attributeOf(const std::string& xml, const char* elementStart, const char* name)
{
    size_t elem = xml.find(elementStart);
    if (elem == std::string::npos)
        return std::string();
    size_t end = xml.find('>', elem);
    std::string tag = xml.substr(elem, end == std::string::npos ? std::string::npos : end - elem);
    std::string key = std::string(" ") + name + "=";
    size_t pos = 0;
    while ((pos = tag.find(key, pos)) != std::string::npos) {
        size_t q = pos + key.size();
        if (q < tag.size() && (tag[q] == '\'' || tag[q] == '"')) {
            size_t close = tag.find(tag[q], q + 1);
            if (close != std::string::npos)
                return tag.substr(q + 1, close - q - 1);
        }
        pos = q;
    }
    // the attribute may follow a line break instead of a blank
    key[0] = '\n';
    pos = tag.find(key);
    if (pos != std::string::npos) {
        size_t q = pos + key.size();
        if (q < tag.size() && (tag[q] == '\'' || tag[q] == '"')) {
            size_t close = tag.find(tag[q], q + 1);
            if (close != std::string::npos)
                return tag.substr(q + 1, close - q - 1);
        }
    }
    return std::string();
}

// Writes "YYYY-MM-DD hh:mm:ss.mmm file(line) text" lines to one file.
class FileTraceSink : public TraceSink {
public:
    explicit FileTraceSink(const std::string& path) : m_file(std::fopen(path.c_str(), "a")) {}
    ~FileTraceSink() override
    {
        if (m_file)
            std::fclose(m_file);
    }
    bool ok() const { return m_file != nullptr; }
    void write(int, const char* file, int line, const std::string& text) override
    {
        if (!m_file)
            return;
        auto now = std::chrono::system_clock::now();
        std::time_t t = std::chrono::system_clock::to_time_t(now);
        int millis = static_cast<int>(
            std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000);
        std::tm tmv;
        localtime_r(&t, &tmv);
        char stamp[32];
        std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &tmv);
        const char* base = std::strrchr(file, '/');
        base = base ? base + 1 : file;
        std::fprintf(m_file, "%s.%03d %s(%d) %s\n", stamp, millis, base, line, text.c_str());
        std::fflush(m_file);
    }

private:
    std::FILE* m_file;
};

} // namespace

void traceInstall(int level, std::unique_ptr<TraceSink> sink)
{
    std::lock_guard<std::mutex> lock(g_traceLock);
    g_sink = std::move(sink);
    g_level.store(g_sink ? level : 0);
}

void traceConfigure(int level, const char* configFile)
{
    if (level <= 0 || !configFile || !*configFile) {
        traceInstall(0, nullptr);
        return;
    }
    std::ifstream in(configFile, std::ios::binary);
    if (!in) {
        traceInstall(0, nullptr);
        return;
    }
    std::stringstream content;
    content << in.rdbuf();
    std::string xml = content.str();

    std::string program = attributeOf(xml, "<logger", "program");
    if (program.empty())
        program = "wiretrace";
    std::string mask = attributeOf(xml, "<file", "pathMask");
    if (mask.empty())
        mask = "*.log";
    std::string targetLevel = attributeOf(xml, "<target", "level");
    int fileLevel = targetLevel.empty() ? 9 : std::atoi(targetLevel.c_str());
    int effective = level < fileLevel ? level : fileLevel;

    std::string name;
    for (char c : mask) {
        if (c == '*')
            name += program;
        else
            name += c;
    }
    // The trace file sits next to its configuration.
    std::string dir(configFile);
    size_t slash = dir.rfind('/');
    std::string path = (slash == std::string::npos || name.find('/') == 0)
                           ? name
                           : dir.substr(0, slash + 1) + name;

    auto sink = std::make_unique<FileTraceSink>(path);
    if (!sink->ok() || effective <= 0) {
        traceInstall(0, nullptr);
        return;
    }
    traceInstall(effective, std::move(sink));
}

bool traceEnabled(int level)
{
    return level <= g_level.load(std::memory_order_relaxed);
}

void traceWrite(int level, const char* file, int line, const char* format, ...)
{
    char buffer[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    std::lock_guard<std::mutex> lock(g_traceLock);
    if (g_sink && level <= g_level.load())
        g_sink->write(level, file, line, buffer);
}

} // namespace wc
