#pragma once
// The logging framework of the support library: the process-wide core
// (Logger::Core) with its targets, formatters and senders, configured by an
// XML document whose values may come from INI files through hooks.
//
// The functions below reach the process-wide core.

#include "logger/callback.h"
#include "logger/core.h"
#include "logger/formatter.h"
#include "logger/formatter2line.h"
#include "logger/formatter2null.h"
#include "logger/formatter2xml.h"
#include "logger/logrecord.h"
#include "logger/sender.h"
#include "logger/sender2cyclicfiles.h"
#include "logger/sender2db.h"
#include "logger/sender2file.h"
#include "logger/sender2stderr.h"
#include "logger/sender2stdout.h"
#include "logger/sender2test.h"
#include "logger/target.h"

#include <cstdint>

namespace Logger {

// The banner at the start of a run (title, build date and time, start time).
void proLog(const char* title, const char* compiled, const char* started);
// The banner at the end of a run.
void epiLog(int32_t rc, const char* ended);
// One line or one XML log record received from another program.
void routeLogLine(const char* node, const char* program, int32_t runNr, const char* text);
// A piece of a received stream of lines and records.
void routeLogText(const char* node, const char* program, int32_t runNr, const char* text);

} // namespace Logger
