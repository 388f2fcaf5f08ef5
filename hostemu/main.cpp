// vexlink-hostemu: the host emulator. Listens on a loopback address, prints
// the port in use on the first line of standard output, serves conversations
// until SIGTERM or SIGINT.

#include "config.h"
#include "server.h"

#include "translate.h"

#include <atomic>
#include <csignal>
#include <cstdio>

namespace {

// Lock-free, so the signal handler may set it.
std::atomic<bool> g_bStop{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the stop flag must be lock-free");

void OnSignal(int)
{
    g_bStop.store(true);
}

} // namespace

int main(int argc, char** argv)
{
    hostemu::EmuConfig config;
    std::string error;
    bool help = false;
    if (!config.ParseArgs(argc, argv, error, help)) {
        std::fprintf(stderr, "vexlink-hostemu: %s\n%s", error.c_str(), hostemu::UsageText());
        return 2;
    }
    if (help) {
        std::fputs(hostemu::UsageText(), stdout);
        return 0;
    }
    // One code page per process: the translation object follows the
    // emulator's table, as it does in vexlink.
    Translate::Instance()->SelectTable(config.codepage);

    std::signal(SIGTERM, OnSignal);
    std::signal(SIGINT, OnSignal);

    hostemu::Server server(config);
    if (!server.Start(error)) {
        std::fprintf(stderr, "vexlink-hostemu: %s\n", error.c_str());
        return 1;
    }
    std::printf("%u\n", static_cast<unsigned>(server.Port()));
    std::fflush(stdout);
    server.Run(&g_bStop);
    std::fprintf(stderr, "vexlink-hostemu: stopped\n");
    return 0;
}
