#pragma once
// Base of the senders: delivers the text a formatter made for one target to
// a stream, a file, a set of rotating files, the core's test buffer or the
// core's record callback.

#include "logger/callback.h"
#include "logger/logrecord.h"

#include <cstdint>
#include <ctime>

namespace Xml {
class Node;
}

namespace Logger {

class Core;

class Sender {
public:
    explicit Sender(Core* core) : m_pCore(core) {}
    virtual ~Sender() = default;
    Sender(const Sender&) = delete;
    Sender& operator=(const Sender&) = delete;

    // Reads the options of the target's child element named after the sender.
    virtual void configure(int32_t targetId, Xml::Node* element, Callback* callback);
    // Opens the output (before the first line).
    virtual void open();
    // Delivers one line (null or empty lines are ignored) with its record.
    virtual void write(const String* line, LogRecord& record);
    virtual void flush();

    // Makes the sender of that name ("stdout", "stderr", "file",
    // "cyclicFiles", "test", "db") for the core, or null.
    static Sender* make(const char* name, Core* core);

protected:
    // The file name of a mask with "*" (program), "?" (tag) and "#" (run
    // number "%03d", or the local time "yymmdd_hhmmss" without one) replaced,
    // each at its first occurrence.
    String maskBase(const String& mask) const;
    // The file as it is opened: relative names lie in the core's base
    // directory when it has one. False when that directory does not exist.
    bool placeInBaseDir(const String& name, String& place) const;
    // Creates the directories of a file name that do not exist yet.
    static void makeDirectories(const String& name);
    // Reports an opened file name to the callback, when there is one, as
    // "<loggerCallback type='sender2File'><sender2File ATTRIBUTE='NAME'/></loggerCallback>".
    void reportOpened(const char* attribute, const String& name);

    Core* m_pCore;
    int32_t targetId = -1;
    Callback* callback = nullptr;
};

// The current local time and the microseconds within its second, both from
// one reading of the system clock.
void localNow(std::tm& tm, uint32_t& micros);

} // namespace Logger
