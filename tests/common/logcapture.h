#pragma once
// The program log into the logger's test sender for one scope: a line per message with the fields
// of include (by default the type letter E W I X T for levels 1 to 5 and the message number).

#include "elog.h"
#include "logger/logger.h"
#include "scratchdir.h"

#include <string>
#include <vector>

class LogCapture {
public:
    explicit LogCapture(const std::string& level = "5", const std::string& include = "type;msgNr")
    {
        const std::string config = "<talverix><logger><target formatter='line' sender='test' level='" + level +
                                   "' include='" + include + "'/></logger></talverix>";
        Logger::Core::instance()->start("", "vexlink", -1, "", config.c_str(), nullptr, false, "");
        Logger::Core::instance()->clearTestOutput();
        g_bLogOn = 1;
    }
    ~LogCapture()
    {
        g_bLogOn = 0;
        Logger::Core::instance()->reset();
    }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::string Text() const
    {
        const String s = Logger::Core::instance()->testOutput();
        return std::string(s.c_str(), static_cast<size_t>(s.length()));
    }
    std::vector<std::string> Lines() const { return SplitLines(Text()); }
    // Number of lines that equal line exactly.
    size_t Count(const std::string& line) const
    {
        size_t n = 0;
        for (const std::string& l : Lines())
            n += l == line ? 1 : 0;
        return n;
    }
    // Number of lines that start with prefix.
    size_t CountPrefix(const std::string& prefix) const
    {
        size_t n = 0;
        for (const std::string& l : Lines())
            n += l.compare(0, prefix.size(), prefix) == 0 ? 1 : 0;
        return n;
    }
    void Clear() { Logger::Core::instance()->clearTestOutput(); }
};
