// Benchmarks of the host emulator on a generated catalogue of 50,000 data
// sets and a library of 100,000 members (built once, in a temporary
// directory, before the first benchmark).

#include "catalog.h"
#include "codec.h"
#include "server.h"
#include "session.h"
#include "spool.h"

#include "platform/platform.h"
#include "wirecomm.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <memory>

using namespace hostemu;

namespace {

class NullSink : public AnswerSink {
public:
    bool Send(const std::string& block) override
    {
        bytes += block.size();
        ++blocks;
        return true;
    }
    bool Ack(bool) override { return true; }
    bool SendRaw(const std::string&) override { return true; }
    bool SendOversize(const std::string&) override { return true; }
    void Drop() override {}
    bool Pause(int) override { return true; }
    uint64_t bytes = 0, blocks = 0;
};

struct Fixture {
    std::string dir;
    Fixture()
    {
        dir = (std::filesystem::temp_directory_path() / ("hostemu-bench-" + std::to_string(Platform::processId())))
                  .string();
        std::filesystem::remove_all(dir);
        Catalog c;
        c.Open(dir);
        Codec codec(17);
        DsAttrs attrs;
        attrs.recfm.blocked = true;
        char name[32];
        for (int g = 0; g < 100; ++g)
            for (int d = 0; d < 500; ++d) {
                std::snprintf(name, sizeof name, "BIG.G%03d.D%04d", g, d);
                c.CreateWithRecords(name, attrs, {codec.ToHost(name)});
            }
        std::vector<NewMember> members(100000);
        for (int m = 0; m < 100000; ++m) {
            std::snprintf(name, sizeof name, "M%05d", m);
            members[static_cast<size_t>(m)].name = name;
            members[static_cast<size_t>(m)].records = {codec.ToHost(std::string("MEMBER ") + name)};
        }
        attrs.dsorg = Dsorg::PO;
        c.CreateLibrary("BIG.LIB", attrs, std::move(members));
    }
    ~Fixture() { std::filesystem::remove_all(dir); }
};

Fixture& Big()
{
    static Fixture f;
    return f;
}

std::string Rec(const Codec& codec, const std::string& name, const std::string& payload)
{
    std::string r = name;
    r.resize(10, ' ');
    return codec.ToHost(r + payload);
}

void BM_OpenCatalogue(benchmark::State& state)
{
    Fixture& f = Big();
    for (auto _ : state) {
        Catalog c;
        c.Open(f.dir);
        benchmark::DoNotOptimize(c.Count());
    }
}
BENCHMARK(BM_OpenCatalogue)->Unit(benchmark::kMillisecond);

void SessionList(benchmark::State& state, const char* item, const char* payload)
{
    Fixture& f = Big();
    Catalog c;
    c.Open(f.dir);
    Codec codec(17);
    Spool spool(c, codec);
    spool.Open(f.dir + "/spool");
    HostContext ctx{c, spool, codec, "EMU1", nullptr};
    Session s(ctx, "U", "STC", Faults(), 1);
    NullSink sink;
    const std::string rec = Rec(codec, item, payload);
    for (auto _ : state)
        s.OnBlock(rec, true, sink);
    state.counters["records"] = benchmark::Counter(static_cast<double>(sink.blocks), benchmark::Counter::kIsRate);
}

void BM_SessionListAllDataSets(benchmark::State& state)
{
    SessionList(state, "PHGDSLST", "BIG.**");
}
BENCHMARK(BM_SessionListAllDataSets)->Unit(benchmark::kMillisecond);
void BM_SessionListDataSetsFull(benchmark::State& state)
{
    SessionList(state, "PHGDSLSTF", "BIG.**");
}
BENCHMARK(BM_SessionListDataSetsFull)->Unit(benchmark::kMillisecond);
void BM_SessionListOneGroup(benchmark::State& state)
{
    SessionList(state, "PHGDSLST", "BIG.G042.*");
}
BENCHMARK(BM_SessionListOneGroup)->Unit(benchmark::kMillisecond);
void BM_SessionListAllMembers(benchmark::State& state)
{
    SessionList(state, "PHGPODIR", "BIG.LIB");
}
BENCHMARK(BM_SessionListAllMembers)->Unit(benchmark::kMillisecond);
void BM_SessionListMemberStats(benchmark::State& state)
{
    SessionList(state, "PHGPODIRF", "BIG.LIB");
}
BENCHMARK(BM_SessionListMemberStats)->Unit(benchmark::kMillisecond);
void BM_SessionListMemberPattern(benchmark::State& state)
{
    SessionList(state, "PHGPODIR", "BIG.LIB(M123*)");
}
BENCHMARK(BM_SessionListMemberPattern)->Unit(benchmark::kMicrosecond);

// Replaces one member of the 100,000-member library (the whole library file
// is rewritten aside and renamed into place).
void BM_ReplaceMemberInBigLibrary(benchmark::State& state)
{
    Fixture& f = Big();
    Catalog c;
    c.Open(f.dir);
    DsRef ref;
    ref.dsn = "BIG.LIB";
    ref.member = "M50000";
    for (auto _ : state) {
        Status st;
        auto w = c.BeginWrite(ref, WriteOptions(), st);
        w->Add("REPLACED");
        st = c.Commit(*w);
        if (!st.Ok())
            state.SkipWithError(st.text.c_str());
    }
}
BENCHMARK(BM_ReplaceMemberInBigLibrary)->Unit(benchmark::kMillisecond);

// The member list over a loopback conversation, as vexlink receives it.
void BM_ConversationListAllMembers(benchmark::State& state)
{
    Fixture& f = Big();
    EmuConfig cfg;
    cfg.catalogDir = f.dir;
    Server server(cfg);
    std::string error;
    if (!server.Start(error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    server.RunInBackground();
    unsigned char cid[WC_CID_SIZE] = {0};
    int32_t rc = 0;
    cm_set_crypt_mode(1);
    cm_init(cid, "STC", &rc);
    cm_set_rcv_timeout(cid, 60);
    cm_scsu(cid, "U", &rc);
    cm_scsp(cid, "P", &rc);
    cm_allc(cid, "127.0.0.1", server.Port(), 0, 10, 1, &rc);
    const std::string rec = Rec(server.GetCodec(), "PHGPODIR", "BIG.LIB");
    std::vector<unsigned char> buf(WC_MAX_BLOCK);
    uint64_t blocks = 0;
    for (auto _ : state) {
        int32_t len = static_cast<int32_t>(rec.size()), status = 0;
        cm_send_bin(cid, reinterpret_cast<const unsigned char*>(rec.data()), &len, 0, &status, &rc, 1);
        for (;;) {
            int32_t data = 0, turn = 0;
            cm_rcv_bin(cid, buf.data(), 0, &rc, &data, &turn);
            if (rc != CM_OK || turn == 1)
                break;
            ++blocks;
        }
    }
    state.counters["blocks"] = benchmark::Counter(static_cast<double>(blocks), benchmark::Counter::kIsRate);
    cm_deal(cid, &rc);
    server.Shutdown();
}
BENCHMARK(BM_ConversationListAllMembers)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

BENCHMARK_MAIN();
