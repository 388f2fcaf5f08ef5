// ELOG for a level the program log does not admit (no formatting, no lock)
// beside an empty function call with the same arguments, and ELOG for a
// written line with the program log's configuration (file sender, flushed
// after every line).

#include "elog.h"
#include "logger/logger.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>

#include <stdlib.h>

namespace {

// The program log of a run with -l 1 in a scratch directory.
class BenchLog {
public:
    BenchLog()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "vexlink-bench-XXXXXX").string();
        if (mkdtemp(&pattern[0]) != nullptr)
            m_dir = pattern;
        m_logPath = m_dir + "/";
        std::string args[] = {"vexlink", "-l", "1", "-D", m_logPath, "-d", "bench"};
        char* argv[] = {&args[0][0], &args[1][0], &args[2][0], &args[3][0],
                        &args[4][0], &args[5][0], &args[6][0], nullptr};
        m_pLog = new EventLog(7, argv);
        m_pLog->Start();
    }
    ~BenchLog()
    {
        delete m_pLog;
        Logger::Core::instance()->reset();
        g_bLogOn = 0;
        std::error_code ec;
        std::filesystem::remove_all(m_dir, ec);
    }
    std::uintmax_t fileSize() const
    {
        std::error_code ec;
        return std::filesystem::file_size(m_logPath + g_strLogFileName, ec);
    }

private:
    std::string m_dir;
    std::string m_logPath;
    EventLog* m_pLog = nullptr;
};

__attribute__((noinline)) void EmptyCall(int count, int level, int msgNr, const char* format, ...)
{
    benchmark::DoNotOptimize(count);
    benchmark::DoNotOptimize(level);
    benchmark::DoNotOptimize(msgNr);
    benchmark::DoNotOptimize(format);
}

void BM_EmptyFunctionCall(benchmark::State& state)
{
    int i = 0;
    for (auto _ : state) {
        EmptyCall(1, 5, 160, "SQLITE_QUERY_DONE: %s: \n", "SELECT * FROM Request");
        benchmark::DoNotOptimize(++i);
    }
}
BENCHMARK(BM_EmptyFunctionCall);

void BM_ElogNotAdmitted(benchmark::State& state)
{
    BenchLog log;
    for (auto _ : state)
        ELOG(1, 5, 160, "SQLITE_QUERY_DONE: %s: \n", "SELECT * FROM Request");
    state.counters["logBytes"] = static_cast<double>(log.fileSize());
}
BENCHMARK(BM_ElogNotAdmitted);

void BM_CoreLogNotAdmitted(benchmark::State& state)
{
    // The core's own test: one pass over the targets under its lock.
    BenchLog log;
    Logger::Core* core = Logger::Core::instance();
    for (auto _ : state)
        core->log(5, nullptr, nullptr, -1, __FILE__, __LINE__, nullptr, "ELOG", nullptr, nullptr, 0, 160,
                  "SQLITE_QUERY_DONE: %s: \n", "SELECT * FROM Request");
}
BENCHMARK(BM_CoreLogNotAdmitted);

void BM_ElogWrittenLine(benchmark::State& state)
{
    BenchLog log;
    int i = 0;
    for (auto _ : state)
        ELOG(2, 3, 120, "Send item %s, %d bytes\n", "PHGETFILE", ++i);
    state.SetItemsProcessed(state.iterations());
    state.counters["lines/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ElogWrittenLine)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
