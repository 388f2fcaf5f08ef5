#include "logger/logger.h"

namespace Logger {

void proLog(const char* title, const char* compiled, const char* started)
{
    Core::instance()->proLog(title, compiled, started);
}

void epiLog(int32_t rc, const char* ended)
{
    Core::instance()->epiLog(rc, ended);
}

void routeLogLine(const char* node, const char* program, int32_t runNr, const char* text)
{
    Core::instance()->routeLogLine(node, program, runNr, text);
}

void routeLogText(const char* node, const char* program, int32_t runNr, const char* text)
{
    Core::instance()->routeLogText(node, program, runNr, text);
}

} // namespace Logger
