#include "logger/sender2stderr.h"

#include <cstdio>

namespace Logger {

void Sender2Stderr::write(const String* line, LogRecord&)
{
    if (line == nullptr || line->length() == 0)
        return;
    std::fwrite(line->c_str(), 1, static_cast<size_t>(line->length()), stderr);
    std::fputc('\n', stderr);
}

} // namespace Logger
