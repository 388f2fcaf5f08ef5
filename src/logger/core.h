#pragma once
// The process-wide logger: a list of targets configured from an XML
// document, the formatting of messages, their stamping with date, time and
// order, and their delivery to every target that accepts their type.
//
// Every public operation takes the core's own lock, so the core may be
// called from several threads; a call made from inside the core on the same
// thread (from a sender's callback, for example) finds the core busy and is
// dropped.

#include "logger/callback.h"
#include "logger/logrecord.h"
#include "string/string.h"

#include <atomic>
#include <cstdarg>
#include <cstdint>
#include <functional>
#include <mutex>

namespace Xml {
class Node;
}

namespace Logger {

class Target;

// Receives a record field by field (name, value), then once (null, null)
// at the end of the record; used by Logger::Sender2Db.
typedef std::function<void(const char* name, const char* value)> RecordCallback;

class Core {
public:
    // The process-wide core, made on the first call and never destroyed.
    static Core* instance();

    // A core of its own, for a component that keeps its log apart from the
    // process-wide one.
    Core();
    ~Core();
    Core(const Core&) = delete;
    Core& operator=(const Core&) = delete;

    // Empties the core and configures it from configFile (read whole) or,
    // failing that, from configText. Result: 0 configured from the file,
    // 1 from the text, 2 no configuration root, 3 the document cannot be
    // loaded ("Logger: %s\n" on standard error). Null or empty strings count
    // as not given. Called from inside the core (from a callback while the
    // core is busy) it changes nothing and gives 2.
    int32_t start(const char* type, const char* program, int32_t runNr, const char* configFile, const char* configText,
                  Callback* callback, bool append, const char* tag);

    // Logs one message. Null node and program, and a negative runNr, mean
    // the core's own; date and time, when both are null, are the local time
    // (the order then counts messages within the same second).
    void log(int32_t type, const char* node, const char* program, int32_t runNr, const char* file, int32_t line,
             const char* className, const char* method, const char* date, const char* time, int32_t order,
             int32_t msgNr, const char* format, ...) VEX_PRINTF_FORMAT(14, 15);
    void vlog(int32_t type, const char* node, const char* program, int32_t runNr, const char* file, int32_t line,
              const char* className, const char* method, const char* date, const char* time, int32_t order,
              int32_t msgNr, const char* format, va_list args);
    // Logs "CANNOT PRINTF, format=%s\n" with the format in place of a
    // message whose arguments cannot be printed.
    void logFormatError(int32_t type, const char* file, int32_t line, const char* method, int32_t msgNr,
                        const char* format);

    // The banner at the start of a run: stars, maker, title, "compiled %s"
    // (when compiled is not empty), "started at %s", stars.
    void proLog(const char* title, const char* compiled, const char* started);
    // The banner at the end of a run: stars, "Ended at %s with RC=%d", stars.
    void epiLog(int32_t rc, const char* ended);

    // Takes one line or one XML log record received from elsewhere.
    void routeLogLine(const char* node, const char* program, int32_t runNr, const char* text);
    // Takes a piece of a received stream and passes every complete line or
    // record in it to routeLogLine; the rest waits for more text.
    void routeLogText(const char* node, const char* program, int32_t runNr, const char* text);

    // Writes pending text, destroys every target (closing files) and
    // empties the core; does nothing when called from inside the core.
    void reset();

    // True when some target accepts messages of this type. Lock-free: a
    // caller may test it before it formats anything.
    bool accepts(int32_t type) const;

    // Directory that file senders open relative names in (set after start).
    void setBaseDir(const char* dir);
    // The record callback of Logger::Sender2Db (set after start).
    void setRecordCallback(RecordCallback callback);
    // Lines written by Logger::Sender2Test, each followed by a line feed.
    String testOutput() const;
    void clearTestOutput();
    // The number of targets, and the newest one (for inspection).
    int32_t targetCount() const;
    const Target* firstTarget() const { return m_pTargets; }
    int32_t maxMsgLength() const;

    // For the senders, which run inside the core's calls.
    const String& node() const { return m_strNode; }
    const String& program() const { return m_strProgram; }
    const String& tag() const { return m_strTag; }
    const String& baseDir() const { return m_strBaseDir; }
    int32_t runNr() const { return m_iRunNr; }
    bool append() const { return m_bAppend; }
    const RecordCallback& recordCallback() const { return m_recordCallback; }
    void appendTestOutput(const String& line);

private:
    struct Message;

    int32_t configure(const char* text, Callback* callback);
    void configureTarget(Target* target, Xml::Node* element, Callback* callback);
    void updateAcceptance();
    bool anyTargetAccepts(int32_t type) const;
    // Formats into m_strFormatBuffer and leaves the text, backslashes
    // doubled, in m_strMessage.
    void formatMessage(const char* format, va_list args);
    void setMessage(const char* text, int32_t length);
    void route(Message& message);
    void deliver(Target* target, const Message& message);
    void emitLine(Target* target, const char* text, int32_t length);
    void routeLogTextLocked(const char* node, const char* program, int32_t runNr, const char* text);

    mutable std::recursive_mutex m_mutex;

    Target* m_pTargets = nullptr;
    int32_t m_iMaxMsgLength = 1024;
    String m_strNode;
    String m_strType;
    String m_strProgram;
    String m_strTag;
    String m_strBaseDir;
    RecordCallback m_recordCallback;
    int32_t m_iRunNr = -1;
    bool m_bAppend = false;
    String m_strLastDate;
    String m_strLastTime;
    int64_t m_iLastSeconds = -1;
    int32_t m_iOrder = 0;
    String m_strRxNode;
    String m_strRxDate;
    String m_strRxTime;
    int32_t m_iRxOrder = 0;
    String m_strFormatBuffer;
    String m_strMessage;
    String m_strStreamBuffer;
    String m_strStreamNode;
    String m_strStreamProgram;
    int32_t m_iStreamRunNr = -1;
    int32_t m_iBusy = 0;
    String m_strTestOutput;

    // Union of the targets' masks, and whether a target shows the field "0":
    // the lock-free answer of accepts().
    std::atomic<uint32_t> m_acceptMask{0};
    std::atomic<bool> m_acceptZero{false};
};

} // namespace Logger
