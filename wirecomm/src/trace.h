#pragma once
// The library's own trace. Call sites use WC_TRACE; where the lines go is
// decided by the installed TraceSink. The default sink configured by
// cm_init_logger writes a plain line file named by the trace configuration.
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

// Configures the trace from the XML configuration file: level 0 switches it
// off; otherwise lines up to min(level, the file's target level) are written.
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

#define WC_TRACE(level, ...)                                                   \
    do {                                                                       \
        if (::wc::traceEnabled(level))                                         \
            ::wc::traceWrite((level), __FILE__, __LINE__, __VA_ARGS__);        \
    } while (0)
