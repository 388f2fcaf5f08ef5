#include "logger/sender2test.h"

#include "logger/core.h"

namespace Logger {

void Sender2Test::write(const String* line, LogRecord&)
{
    if (line == nullptr || line->length() == 0)
        return;
    m_pCore->appendTestOutput(*line);
}

} // namespace Logger
