#pragma once
// The library's own trace. Call sites use WC_TRACE; where the lines go is
// decided by the installed TraceSink. cm_init_logger installs a sink with a
// logger core of its own (the support library's Logger::Core), configured
// from the trace configuration file; the process-wide core that carries the
// program's log is never touched.
// Nothing secret (passwords, keys, derived key material) is ever handed to
// the trace.

#include <memory>
#include <string>

namespace wc {

// Receives finished trace lines.
class TraceSink {
public:
    virtual ~TraceSink() = default;
    // level 1 (error) .. 9 (everything); file and line of the call site.
    virtual void write(int level, const char* file, int line, const std::string& text) = 0;
};

// Configures the trace from the XML configuration file: level 0, a file
// that cannot be read or one without a target for "library"/"wiretrace"
// switch it off; otherwise trace types up to level that the file's targets
// accept are written (type 1 error, 3 step, 5 block).
void traceConfigure(int level, const char* configFile);
// Replaces the sink (tests, or another logger); level as above.
void traceInstall(int level, std::unique_ptr<TraceSink> sink);
bool traceEnabled(int level);
void traceWrite(int level, const char* file, int line, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 4, 5)))
#endif
    ;

} // namespace wc

#define WC_TRACE(level, ...)                                                                                           \
    do {                                                                                                               \
        if (::wc::traceEnabled(level))                                                                                 \
            ::wc::traceWrite((level), __FILE__, __LINE__, __VA_ARGS__);                                                \
    } while (0)
