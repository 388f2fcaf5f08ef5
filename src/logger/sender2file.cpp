#include "logger/sender2file.h"

#include "logger/core.h"
#include "xml/xml.h"

#include <cstdlib>
#include <cstring>

namespace Logger {

void Sender2File::configure(int32_t id, Xml::Node* element, Callback* cb)
{
    targetId = id;
    callback = cb;
    if (element == nullptr)
        return;
    // Paths are read with their entity references decoded, so that a path
    // holding an apostrophe, an ampersand or a less-than sign can be written
    // into a configuration document.
    const char* value = element->attributeDecoded("pathMask");
    if (value != nullptr && *value != '\0')
        pathMask = value;
    value = element->attributeDecoded("path");
    if (value != nullptr && *value != '\0')
        path = value;
    configureFlush(element);
}

String Sender2File::fileName() const
{
    if (!path.isEmpty())
        return path;
    if (pathMask.isEmpty())
        return String();
    String name = maskBase(pathMask);
    const char* ext = std::getenv("LOG_STARTTIME_EXT");
    name.replaceFirst(name.c_str(), "%%", ext != nullptr ? ext : "");
    const char* start = std::getenv("LOG_STARTTIME");
    name.replaceFirst(name.c_str(), "%", start != nullptr ? start : "");
    if (std::strchr(name.c_str(), '@') != nullptr) {
        std::tm tm;
        uint32_t micros;
        localNow(tm, micros);
        const unsigned year = static_cast<unsigned>(tm.tm_year + 1900);
        const unsigned month = static_cast<unsigned>(tm.tm_mon + 1);
        const unsigned day = static_cast<unsigned>(tm.tm_mday);
        const unsigned hour = static_cast<unsigned>(tm.tm_hour);
        const unsigned minute = static_cast<unsigned>(tm.tm_min);
        const unsigned second = static_cast<unsigned>(tm.tm_sec);
        char stamp[80];
        std::snprintf(stamp, sizeof(stamp), "%04u-%02u-%02uT%02u.%02u.%02u,%03u%03u", year, month, day, hour, minute,
                      second, micros / 1000, micros % 1000);
        name.replaceFirst(name.c_str(), "@@", stamp);
        std::snprintf(stamp, sizeof(stamp), "%04u%02u%02u%02u%02u%02u%03u", year, month, day, hour, minute, second,
                      micros / 1000);
        name.replaceFirst(name.c_str(), "@", stamp);
    }
    return name;
}

void Sender2File::open()
{
    closeFile();
    const String name = fileName();
    if (name.isEmpty())
        return;
    openFile(name, m_pCore->append(), "path");
}

void Sender2File::write(const String* line, LogRecord&)
{
    if (line == nullptr || line->length() == 0 || !isOpen())
        return;
    writeLine(*line);
}

} // namespace Logger
