#include "configmodul.h"
#include "elog.h"

#include "globals.h"

#include <cstdint>

std::atomic<int32_t> g_iRC{0};

int main(int argc, char** argv)
{
    g_iRC = 0;
    EventLog* log = new EventLog(argc, argv);
    log->Start();
    g_pConfigModul = new ConfigModul(argc, argv);
    const int r = g_pConfigModul->Parse();
    if (r == 8)
        g_iRC = 8;
    else if (r != 0)
        g_iRC = 4;
    delete g_pConfigModul;
    delete log;
    return g_iRC;
}
