// Throughput of TranslateToPC / TranslateToHost (table 17, IBM-1141) on a
// 64 MiB buffer (memory-bound) and a 1 MiB buffer (cache-resident), next to
// memcpy of the same buffer and glibc iconv converting it between IBM1141 and
// ISO-8859-1.
//
// Times are CPU times: the machines this runs on share their cores, and
// wall-clock time would charge other processes' time slices to whichever
// benchmark was running. Run (Release build), interleaved so that any
// remaining disturbance spreads over all cases alike:
//   build/bench/translate/translate_bench --benchmark_repetitions=10
//       --benchmark_enable_random_interleaving=true
//       --benchmark_report_aggregates_only=true
// BM_Kernel shows each look-up loop the processor offers (0 scalar, 1 AVX2,
// 2 AVX-512 VBMI); TranslateToPC/ToHost use the one chosen at first use.

#include "translate.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <iconv.h>
#include <random>
#include <vector>

namespace {

constexpr size_t kMiB = 1024 * 1024;

// Random bytes that convert in the given direction: IBM1141's euro sign
// (0x9F) has no ISO-8859-1 counterpart and ISO-8859-1's currency sign (0xA4)
// none in IBM1141, so each buffer leaves out its one unconvertible byte.
std::vector<unsigned char> MakeBuffer(size_t size, unsigned char excluded)
{
    std::vector<unsigned char> buf(size);
    std::mt19937 rng(42);
    for (auto& b : buf) {
        unsigned char v = static_cast<unsigned char>(rng());
        b = v == excluded ? static_cast<unsigned char>(v + 1) : v;
    }
    return buf;
}

void BM_Memcpy(benchmark::State& state)
{
    const size_t size = static_cast<size_t>(state.range(0));
    std::vector<unsigned char> src = MakeBuffer(size, 0x9F);
    std::vector<unsigned char> dst(size, 1);
    for (auto _ : state) {
        std::memcpy(dst.data(), src.data(), size);
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(size));
}

void BM_TranslateToPC(benchmark::State& state)
{
    const size_t size = static_cast<size_t>(state.range(0));
    std::vector<unsigned char> buf = MakeBuffer(size, 0x9F);
    Translate* t = Translate::Instance();
    t->SelectTable(17);
    for (auto _ : state) {
        t->TranslateToPC(buf.data(), static_cast<int>(size));
        benchmark::DoNotOptimize(buf.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(size));
}

void BM_TranslateToHost(benchmark::State& state)
{
    const size_t size = static_cast<size_t>(state.range(0));
    std::vector<unsigned char> buf = MakeBuffer(size, 0xA4);
    Translate* t = Translate::Instance();
    t->SelectTable(17);
    for (auto _ : state) {
        t->TranslateToHost(buf.data(), static_cast<int>(size));
        benchmark::DoNotOptimize(buf.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(size));
}

void BM_Kernel(benchmark::State& state)
{
    const size_t size = static_cast<size_t>(state.range(0));
    const auto kernel = static_cast<Translate::Kernel>(state.range(1));
    if (!Translate::KernelAvailable(kernel)) {
        state.SkipWithError("kernel not available on this processor");
        return;
    }
    std::vector<unsigned char> buf = MakeBuffer(size, 0x9F);
    const unsigned char* table = Translate::Instance()->HostToPCTable(17);
    for (auto _ : state) {
        Translate::TranslateWith(kernel, table, buf.data(), size);
        benchmark::DoNotOptimize(buf.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(size));
}

void RunIconv(benchmark::State& state, const char* from, const char* to, unsigned char excluded)
{
    const size_t size = static_cast<size_t>(state.range(0));
    std::vector<unsigned char> src = MakeBuffer(size, excluded);
    std::vector<unsigned char> dst(size, 1);
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        state.SkipWithError("iconv_open failed");
        return;
    }
    for (auto _ : state) {
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        char* in = reinterpret_cast<char*>(src.data());
        char* out = reinterpret_cast<char*>(dst.data());
        size_t inLeft = size, outLeft = size;
        if (iconv(cd, &in, &inLeft, &out, &outLeft) == static_cast<size_t>(-1) || inLeft != 0) {
            state.SkipWithError("iconv failed");
            break;
        }
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
    }
    iconv_close(cd);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(size));
}

void BM_IconvToPC(benchmark::State& state)
{
    RunIconv(state, "IBM1141", "ISO-8859-1", 0x9F);
}

void BM_IconvToHost(benchmark::State& state)
{
    RunIconv(state, "ISO-8859-1", "IBM1141", 0xA4);
}

} // namespace

#define SIZES Arg(64 * kMiB)->Arg(1 * kMiB)->Unit(benchmark::kMillisecond)
BENCHMARK(BM_Memcpy)->SIZES;
BENCHMARK(BM_TranslateToPC)->SIZES;
BENCHMARK(BM_TranslateToHost)->SIZES;
BENCHMARK(BM_IconvToPC)->SIZES;
BENCHMARK(BM_IconvToHost)->SIZES;
BENCHMARK(BM_Kernel)->ArgsProduct({{64 * kMiB, 1 * kMiB}, {0, 1, 2}})->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
