// The whole life of one vexlink process: log, configuration, transfer,
// teardown in reverse order; the exit code tells the front end how the run
// ended (0 done, 4 informational option, 6 communication timeout,
// 8 configuration failure or no database, 16 transfer failed).

#include "configmodul.h"
#include "elog.h"
#include "ftpmodul.h"
#include "globals.h"
#include "trash.h"
#include "workdir.h"

#include "platform/platform.h"

#include <atomic>
#include <cstdint>

int main(int argc, char** argv)
{
    // Nothing has gone wrong yet.
    g_iRC = 0;

    // The program log: decides from the arguments whether logging is on,
    //    names the run's log file and writes the prologue.
    EventLog* eventLog = new EventLog(argc, argv);
    eventLog->Start();

    // The configuration: command line, INI file, password line. The store
    //    is published before parsing, which reaches it through the global.
    g_pConfigModul = nullptr;
    if (g_iRC == 0) {
        g_pConfigModul = new ConfigModul(argc, argv);
        const int r = g_pConfigModul->Parse();
        if (r == 8)
            g_iRC = 8;
        else if (r != 0)
            g_iRC = 4; // -h, -t, -g or -x: stop without error
    }

    // From here on SIGTERM, SIGINT and SIGHUP end the run in order (the
    // download closed and deleted, System told, the conversation
    // deallocated, exit code 16) instead of killing the process.
    if (g_iRC == 0)
        Platform::watchStopSignals(&g_iStopSignal);

    // The transfer, only when the configuration step went through.
    g_pTrash = nullptr;
    if (g_iRC == 0) {
        // The registry of temporary files, published for the engine.
        g_pTrash = new Trash();
        // The transfer module: its construction runs the whole transfer.
        if (g_iRC == 0) {
            MODUL_FTP* modulFtp = new MODUL_FTP();
            delete modulFtp;
        }
        // Deletes the files registered in it (the database, the downloads).
        delete g_pTrash;
        g_pTrash = nullptr;
        // The work directory's lock, held until its files are gone.
        WorkDir::Release();
    }

    // The configuration store, with the INI parser it owns.
    if (g_pConfigModul != nullptr) {
        delete g_pConfigModul;
        g_pConfigModul = nullptr;
    }

    // The epilogue of the log, with the final result code.
    delete eventLog;

    return g_iRC;
}
