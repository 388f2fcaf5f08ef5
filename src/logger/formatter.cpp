#include "logger/formatter.h"

#include "logger/formatter2line.h"
#include "logger/formatter2null.h"
#include "logger/formatter2xml.h"

#include <cstring>

namespace Logger {

const char* const kFieldNames[kFieldCount] = {"0",     "node",   "program", "runNr", "type",  "file", "line",
                                              "class", "method", "date",    "time",  "order", "msgNr"};

char typeCode(int32_t type)
{
    static const char codes[] = ".EWIXT";
    if (type < 0)
        return 'D';
    return type <= 5 ? codes[type] : 'D';
}

const char* baseName(const char* path)
{
    if (path == nullptr)
        return nullptr;
    const char* last = path;
    for (const char* p = path; *p != '\0'; ++p) {
        if (*p == '\\' || *p == '/')
            last = p + 1;
    }
    return last;
}

void Formatter::configure(int32_t, Xml::Node*, Callback*)
{
}

const String* Formatter::format(LogRecord&, const bool*)
{
    return nullptr;
}

Formatter* Formatter::make(const char* name)
{
    if (name == nullptr)
        return nullptr;
    if (std::strcmp(name, "line") == 0)
        return new Formatter2Line();
    if (std::strcmp(name, "xml") == 0)
        return new Formatter2Xml();
    if (std::strcmp(name, "null") == 0)
        return new Formatter2Null();
    return nullptr;
}

} // namespace Logger
