#include "trace.h"

#include "logger/core.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace wc {
namespace {

std::mutex g_traceLock;
std::unique_ptr<TraceSink> g_sink;
std::atomic<int> g_level{0};

// Hands the trace lines to a logger core of the library's own, configured
// from the trace configuration, so the program's own log is not touched.
class CoreTraceSink : public TraceSink {
public:
    void write(int level, const char* file, int line, const std::string& text) override
    {
        if (m_core.accepts(level))
            m_core.log(level, nullptr, nullptr, -1, file, line, nullptr, nullptr, nullptr, nullptr, 0, 0, "%s\n",
                       text.c_str());
    }
    Logger::Core m_core;
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
    auto sink = std::make_unique<CoreTraceSink>();
    // The configuration names this component "library" / "wiretrace";
    // relative trace files go next to the configuration file.
    if (sink->m_core.start("library", "wiretrace", -1, configFile, nullptr, nullptr, true, nullptr) != 0 ||
        sink->m_core.targetCount() == 0) {
        traceInstall(0, nullptr);
        return;
    }
    std::string dir(configFile);
    size_t slash = dir.rfind('/');
    sink->m_core.setBaseDir(slash == std::string::npos ? "." : dir.substr(0, slash + 1).c_str());
    traceInstall(level, std::move(sink));
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
