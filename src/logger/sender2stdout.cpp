#include "logger/sender2stdout.h"

#include <cstdio>

namespace Logger {

void Sender2Stdout::write(const String* line, LogRecord&)
{
    if (line == nullptr || line->length() == 0)
        return;
    std::fwrite(line->c_str(), 1, static_cast<size_t>(line->length()), stdout);
    std::fputc('\n', stdout);
}

} // namespace Logger
