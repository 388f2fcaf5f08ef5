#include "logger/sender.h"

#include "logger/core.h"
#include "logger/sender2cyclicfiles.h"
#include "logger/sender2db.h"
#include "logger/sender2file.h"
#include "logger/sender2stderr.h"
#include "logger/sender2stdout.h"
#include "logger/sender2test.h"
#include "platform/platform.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace Logger {

void localNow(std::tm& tm, uint32_t& micros)
{
    // Seconds between 1601-01-01 and 1970-01-01.
    const uint64_t epochDelta = 11644473600ULL;
    const uint64_t t = Platform::systemTime100ns();
    const uint64_t since1970 = t / 10000000ULL - epochDelta;
    Platform::localTime(static_cast<std::time_t>(since1970), tm);
    micros = static_cast<uint32_t>((t / 10) % 1000000ULL);
}

void Sender::configure(int32_t, Xml::Node*, Callback*)
{
}

void Sender::open()
{
}

void Sender::write(const String*, LogRecord&)
{
}

void Sender::flush()
{
}

Sender* Sender::make(const char* name, Core* core)
{
    if (name == nullptr)
        return nullptr;
    if (std::strcmp(name, "stdout") == 0)
        return new Sender2Stdout(core);
    if (std::strcmp(name, "stderr") == 0)
        return new Sender2Stderr(core);
    if (std::strcmp(name, "file") == 0)
        return new Sender2File(core);
    if (std::strcmp(name, "cyclicFiles") == 0)
        return new Sender2CyclicFiles(core);
    if (std::strcmp(name, "test") == 0)
        return new Sender2Test(core);
    if (std::strcmp(name, "db") == 0)
        return new Sender2Db(core);
    return nullptr;
}

String Sender::maskBase(const String& mask) const
{
    String name;
    name.replaceFirst(mask.c_str(), "*", m_pCore->program().c_str());
    name.replaceFirst(name.c_str(), "?", m_pCore->tag().c_str());
    if (std::strchr(name.c_str(), '#') != nullptr) {
        char stamp[64];
        const int32_t runNr = m_pCore->runNr();
        if (runNr >= 0) {
            std::snprintf(stamp, sizeof(stamp), "%03d", runNr);
        } else {
            std::tm tm;
            uint32_t micros;
            localNow(tm, micros);
            std::snprintf(stamp, sizeof(stamp), "%02u%02u%02u_%02u%02u%02u", static_cast<unsigned>(tm.tm_year % 100),
                          static_cast<unsigned>(tm.tm_mon + 1), static_cast<unsigned>(tm.tm_mday),
                          static_cast<unsigned>(tm.tm_hour), static_cast<unsigned>(tm.tm_min),
                          static_cast<unsigned>(tm.tm_sec));
        }
        name.replaceFirst(name.c_str(), "#", stamp);
    }
    return name;
}

bool Sender::placeInBaseDir(const String& name, String& place) const
{
    // The file senders work relative to the core's base directory. The
    // working directory is shared by every thread of the process, so the
    // base directory is put in front of a relative name instead of changing
    // into it.
    const String& baseDir = m_pCore->baseDir();
    if (baseDir.isEmpty() || Platform::isAbsolutePath(name.c_str())) {
        place = name;
        return true;
    }
    if (!Platform::isDirectory(baseDir.c_str()))
        return false;
    place = baseDir;
    if (baseDir.c_str()[baseDir.length() - 1] != Platform::pathSeparator)
        place.append(Platform::pathSeparator);
    place.append(name);
    return true;
}

void Sender::makeDirectories(const String& name)
{
    // Every component but the last is a directory; a leading separator
    // starts at the root. A component that does not exist is created.
    const std::string path(name.c_str());
    size_t pos = 0;
    while (pos < path.size() && path[pos] == Platform::pathSeparator)
        ++pos;
    for (;;) {
        const size_t sep = path.find(Platform::pathSeparator, pos);
        if (sep == std::string::npos)
            break;
        if (sep > pos) {
            const std::string dir = path.substr(0, sep);
            if (!Platform::isDirectory(dir) && !Platform::makeDir(dir))
                return; // the open reports nothing either; it simply fails
        }
        pos = sep + 1;
    }
}

void Sender::reportOpened(const char* attribute, const String& name)
{
    if (callback == nullptr)
        return;
    String text("<loggerCallback type='sender2File'><sender2File ");
    text.append(attribute);
    text.append("='");
    text.append(name);
    text.append("'/></loggerCallback>");
    callback->call(targetId, text.c_str());
}

} // namespace Logger
