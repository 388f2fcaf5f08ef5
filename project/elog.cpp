#include "elog.h"

#include <cstdarg>

int32_t g_bLogOn = 0;
EMutex g_LogMutex;
std::string g_strLogFileName;

// Placeholder until the logging framework is connected: the call sites are
// all in place, nothing is written yet.
void ELOG(int count, int /*level*/, int /*msgNr*/, const char* /*format*/, ...)
{
    if (!g_bLogOn || count > 6)
        return;
    ELock lock(&g_LogMutex);
}

void LogAssertion(const char* /*expression*/, const char* /*file*/, int /*line*/)
{
}

EventLog::EventLog(int /*argc*/, char** /*argv*/) : m_strLogPath(".")
{
}

EventLog::~EventLog() = default;

void EventLog::Start()
{
}
