#pragma once
// The program log: the one log call ELOG, the process-wide log state and the
// EventLog object that switches logging on, names the file and writes the
// prologue and the epilogue.

#include "cobject.h"
#include "task.h"

#include <cstdint>
#include <string>

// Logging switch: 0 until the EventLog constructor decides.
extern int32_t g_bLogOn;
// Serialises all ELOG calls of all threads.
extern EMutex g_LogMutex;
// Name of the run's log file (without directory), set by EventLog::Start.
extern std::string g_strLogFileName;

// count: number of arguments after the format (0: the format is written
// literally; above 6: nothing is written); level 1 error .. 5 trace;
// msgNr: the message number of the area; format ends with its own line feed.
void ELOG(int count, int level, int msgNr, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 4, 5)))
#endif
    ;

// The local time as the C runtime's asctime writes it, without its line end
// ("Fri Dec  4 04:49:23 2026"), made from a thread-safe reading.
std::string AscTimeNow();

// Whether ELOG would write a message of this level: callers that must build
// its text first (a copy, a conversion) skip that work when it would not.
bool ElogAccepts(int level);

// A failed assertion: "Assertion failed: %s (%s, %d)\n", type 1, message
// number 110, written through the logger core; the run continues.
void LogAssertion(const char* expression, const char* file, int line);
#define ELOG_ASSERT(expr)                                                                                              \
    do {                                                                                                               \
        if (!(expr))                                                                                                   \
            LogAssertion(#expr, __FILE__, __LINE__);                                                                   \
    } while (0)

class EventLog : public CObject {
public:
    EventLog(int argc, char** argv);
    ~EventLog() override;
    void Start();

    std::string m_strIniFile;
    std::string m_strWorkDir;
    std::string m_strLogPath;

private:
    std::string m_strLogLevel;
};
