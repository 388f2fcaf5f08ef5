#include "logger/core.h"

#include "logger/formatter.h"
#include "logger/sender.h"
#include "logger/target.h"
#include "platform/platform.h"
#include "xml/xml.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace Logger {

namespace {

const char* const kStars = "*******************************************************";
const char* const kMaker = "Talverix logging framework";

// The smallest first size of the format buffer.
const int32_t kFormatStart = 128;

bool given(const char* text)
{
    return text != nullptr && *text != '\0';
}

bool same(const String& a, const char* b)
{
    return std::strcmp(a.c_str(), b != nullptr ? b : "") == 0;
}

// Prints a record number; a text of 100 characters or more cannot come
// from a 32-bit number and means the process is broken.
void i2a(String& out, int32_t value)
{
    char buffer[100];
    const int n = std::snprintf(buffer, sizeof(buffer), "%d", value);
    if (n < 0 || n >= static_cast<int>(sizeof(buffer))) {
        std::fputs("Logger: internal i2a-error\n", stderr);
        std::abort();
    }
    out.assign(buffer, n);
}

// Class and method from a method name such as "Logger::proLog": the pieces
// between ":" characters, the last one the method, the others the class.
void splitMethod(const char* method, String& className, String& methodName)
{
    std::vector<std::pair<const char*, int32_t>> pieces;
    const char* p = method;
    while (*p != '\0') {
        const char* end = std::strchr(p, ':');
        const int32_t n = end != nullptr ? static_cast<int32_t>(end - p) : static_cast<int32_t>(std::strlen(p));
        if (n > 0)
            pieces.emplace_back(p, n);
        if (end == nullptr)
            break;
        p = end + 1;
    }
    className = "";
    methodName = "";
    for (size_t i = 0; i < pieces.size(); ++i) {
        if (i + 1 == pieces.size()) {
            methodName.assign(pieces[i].first, pieces[i].second);
        } else {
            if (i > 0)
                className.append("::");
            className.append(pieces[i].first, pieces[i].second);
        }
    }
}

} // namespace

// Everything one message carries on its way to the targets.
struct Core::Message {
    int32_t type;
    const char* node;
    const char* program;
    int32_t runNr;
    const char* file;
    int32_t line;
    const char* className;
    const char* method;
    const char* date;
    const char* time;
    int32_t order;
    int32_t msgNr;
    const char* text;
    int32_t length;
};

// Marks the core busy for the time of one call.
class BusyGuard {
public:
    explicit BusyGuard(int32_t& busy) : m_busy(busy) { ++m_busy; }
    ~BusyGuard() { --m_busy; }
    BusyGuard(const BusyGuard&) = delete;
    BusyGuard& operator=(const BusyGuard&) = delete;

private:
    int32_t& m_busy;
};

Core* Core::instance()
{
    static Core* const core = new Core();
    return core;
}

Core::Core() = default;

Core::~Core()
{
    reset();
}

// ---------------------------------------------------------------------------
// Configuration

int32_t Core::start(const char* type, const char* program, int32_t runNr, const char* configFile,
                    const char* configText, Callback* callback, bool append, const char* tag)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    // Called from inside the core (a sender's callback on this thread): the
    // targets in use must not be destroyed under it.
    if (m_iBusy != 0)
        return 2;
    reset();
    BusyGuard busy(m_iBusy);
    m_strNode = Platform::hostName().c_str();
    m_strType = type != nullptr ? type : "";
    m_strProgram = program != nullptr ? program : "";
    m_iRunNr = runNr;
    m_bAppend = append;
    m_strTag = tag != nullptr ? tag : "";

    int32_t result = 2;
    bool fromFile = false;
    if (given(configFile)) {
        String text;
        if (text.readFile(configFile, true, nullptr) && !text.isEmpty()) {
            fromFile = true;
            result = configure(text.c_str(), callback);
        }
    }
    if ((!fromFile || result == 3) && given(configText)) {
        result = configure(configText, callback);
        if (result == 0)
            result = 1;
    }
    return result;
}

int32_t Core::configure(const char* text, Callback* callback)
{
    Xml::ConfigFile document("string", m_strProgram.c_str());
    if (!document.load(text)) {
        const char* messages = document.messages();
        std::fprintf(stderr, "Logger: %s\n", messages != nullptr ? messages : "");
        return 3;
    }
    Xml::Node* root = document.root();
    if (root == nullptr || std::strcmp(root->name(), "talverix") != 0)
        return 2;

    // Templates hold only for the rest of this document.
    std::vector<Xml::Node*> templates;
    for (Xml::Node* logger = root->firstChild(); logger != nullptr; logger = logger->next()) {
        if (std::strcmp(logger->name(), "logger") != 0)
            continue;
        const char* node = logger->attribute("node");
        const char* type = logger->attribute("type");
        const char* program = logger->attribute("program");
        if ((given(node) && !same(m_strNode, node)) || (given(type) && !same(m_strType, type)) ||
            (given(program) && !same(m_strProgram, program)))
            continue;
        const char* maxMsgLength = logger->attribute("maxMsgLength");
        if (given(maxMsgLength)) {
            const long value = std::strtol(maxMsgLength, nullptr, 10);
            m_iMaxMsgLength = value < 1 ? 1 : (value > INT32_MAX ? INT32_MAX : static_cast<int32_t>(value));
        }

        for (Xml::Node* element = logger->firstChild(); element != nullptr; element = element->next()) {
            if (std::strcmp(element->name(), "target") != 0)
                continue;
            const char* formatterName = element->attribute("formatter");
            const char* senderName = element->attribute("sender");
            if (!given(formatterName) || !given(senderName)) {
                templates.push_back(element);
                continue;
            }
            const char* idText = element->attribute("id");
            Target* existing = nullptr;
            if (given(idText)) {
                const long id = std::strtol(idText, nullptr, 10);
                for (Target* t = m_pTargets; t != nullptr && id >= 0; t = t->next) {
                    if (t->id == id) {
                        existing = t;
                        break;
                    }
                }
            }
            if (existing != nullptr) {
                configureTarget(existing, element, callback);
                continue;
            }
            Target* target = new Target();
            for (Xml::Node* model : templates) {
                const char* f = model->attribute("formatter");
                const char* s = model->attribute("sender");
                if ((!given(f) || std::strcmp(f, formatterName) == 0) && (!given(s) || std::strcmp(s, senderName) == 0))
                    target->applyFilter(model);
            }
            configureTarget(target, element, callback);
            target->next = m_pTargets;
            m_pTargets = target;
        }
    }

    // Nothing is opened before the first line reaches a target.
    for (Target* t = m_pTargets; t != nullptr; t = t->next) {
        if (t->sender != nullptr)
            t->openPending = true;
    }
    updateAcceptance();
    return 0;
}

void Core::configureTarget(Target* target, Xml::Node* element, Callback* callback)
{
    delete target->formatter;
    target->formatter = nullptr;
    delete target->sender;
    target->sender = nullptr;

    const char* formatterName = element->attribute("formatter");
    const char* senderName = element->attribute("sender");
    target->formatter = Formatter::make(formatterName);
    if (target->formatter == nullptr) {
        std::fputs("Unknown formatter\n", stderr);
        return;
    }
    target->sender = Sender::make(senderName, this);
    if (target->sender == nullptr) {
        std::fprintf(stderr, "Unknown sender: %s\n", senderName);
        return;
    }
    const char* idText = element->attribute("id");
    if (given(idText)) {
        const long id = std::strtol(idText, nullptr, 10);
        if (id >= 0 && id <= INT32_MAX)
            target->id = static_cast<int32_t>(id);
    }
    for (Xml::Node* child = element->firstChild(); child != nullptr; child = child->next()) {
        if (std::strcmp(child->name(), formatterName) == 0)
            target->formatter->configure(target->id, child, callback);
        if (std::strcmp(child->name(), senderName) == 0)
            target->sender->configure(target->id, child, callback);
    }
    target->applyFilter(element);
}

void Core::updateAcceptance()
{
    uint32_t mask = 0;
    bool zero = false;
    for (const Target* t = m_pTargets; t != nullptr; t = t->next) {
        mask |= t->mask;
        zero = zero || t->fields[kFieldZero];
    }
    m_acceptMask.store(mask, std::memory_order_relaxed);
    m_acceptZero.store(zero, std::memory_order_relaxed);
}

bool Core::accepts(int32_t type) const
{
    if (type == 0 && m_acceptZero.load(std::memory_order_relaxed))
        return true;
    const uint32_t bit = static_cast<uint32_t>(static_cast<int64_t>(type) - 1) & 31u;
    return (m_acceptMask.load(std::memory_order_relaxed) >> bit) & 1u;
}

bool Core::anyTargetAccepts(int32_t type) const
{
    for (const Target* t = m_pTargets; t != nullptr; t = t->next) {
        if (t->accepts(type))
            return true;
    }
    return false;
}

void Core::reset()
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    if (m_iBusy != 0)
        return; // called from inside the core: see start
    if (!m_strStreamBuffer.isEmpty()) {
        const String node(m_strStreamNode), program(m_strStreamProgram);
        routeLogTextLocked(node.isNull() ? nullptr : node.c_str(), program.isNull() ? nullptr : program.c_str(),
                           m_iStreamRunNr, "\n");
    }
    for (Target* t = m_pTargets; t != nullptr; t = t->next) {
        if (t->formatter != nullptr && t->sender != nullptr && !t->pending.isEmpty()) {
            if (t->openPending) {
                t->openPending = false;
                t->sender->open();
            }
            t->record.msg = t->pending;
            t->sender->write(t->formatter->format(t->record, t->fields), t->record);
        }
        if (t->sender != nullptr)
            t->sender->flush();
    }
    while (m_pTargets != nullptr) {
        Target* t = m_pTargets;
        m_pTargets = t->next;
        delete t;
    }
    updateAcceptance();

    m_iMaxMsgLength = 1024;
    m_strNode = "";
    m_strType = "";
    m_strProgram = "";
    m_strTag = "";
    m_strBaseDir = "";
    m_recordCallback = nullptr;
    m_iRunNr = -1;
    m_bAppend = false;
    m_strLastDate = "";
    m_strLastTime = "";
    m_iLastSeconds = -1;
    m_iOrder = 0;
    m_strRxNode = "";
    m_strRxDate = "";
    m_strRxTime = "";
    m_iRxOrder = 0;
    m_strFormatBuffer = "";
    m_strMessage = "";
    m_strStreamBuffer = "";
    m_strStreamNode = "";
    m_strStreamProgram = "";
    m_iStreamRunNr = -1;
    m_strTestOutput = "";
}

// ---------------------------------------------------------------------------
// Messages

void Core::log(int32_t type, const char* node, const char* program, int32_t runNr, const char* file, int32_t line,
               const char* className, const char* method, const char* date, const char* time, int32_t order,
               int32_t msgNr, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    vlog(type, node, program, runNr, file, line, className, method, date, time, order, msgNr, format, args);
    va_end(args);
}

void Core::vlog(int32_t type, const char* node, const char* program, int32_t runNr, const char* file, int32_t line,
                const char* className, const char* method, const char* date, const char* time, int32_t order,
                int32_t msgNr, const char* format, va_list args)
{
    if (format == nullptr)
        return;
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    // A message no target takes is never formatted.
    if (!anyTargetAccepts(type) || m_iBusy != 0)
        return;
    BusyGuard busy(m_iBusy);
    formatMessage(format, args);
    Message message{type,
                    node,
                    program,
                    runNr,
                    file,
                    line,
                    className,
                    method,
                    date,
                    time,
                    order,
                    msgNr,
                    m_strMessage.c_str(),
                    m_strMessage.length()};
    route(message);
}

void Core::logFormatError(int32_t type, const char* file, int32_t line, const char* method, int32_t msgNr,
                          const char* format)
{
    if (format == nullptr)
        return;
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    if (!anyTargetAccepts(type) || m_iBusy != 0)
        return;
    BusyGuard busy(m_iBusy);
    String text("CANNOT PRINTF, format=");
    text.append(format);
    text.append('\n');
    setMessage(text.c_str(), text.length());
    Message message{type,
                    nullptr,
                    nullptr,
                    -1,
                    file,
                    line,
                    nullptr,
                    method,
                    nullptr,
                    nullptr,
                    0,
                    msgNr,
                    m_strMessage.c_str(),
                    m_strMessage.length()};
    route(message);
}

void Core::formatMessage(const char* format, va_list args)
{
    // The buffer persists; it starts at 128 bytes and doubles up to
    // maxMsgLength, the bound of a message including its NUL.
    const int32_t maxLength = m_iMaxMsgLength;
    int32_t size = m_strFormatBuffer.size() >= kFormatStart ? m_strFormatBuffer.size() : kFormatStart;
    if (size > maxLength)
        size = maxLength;
    int r;
    for (;;) {
        m_strFormatBuffer.resize(size);
        // legacyVsnprintf prints from a copy of args on every try.
        r = legacyVsnprintf(m_strFormatBuffer.data(), size, format, args);
        if (r >= 0 && r < size)
            break;
        if (size >= maxLength) {
            // A text that fills the whole bound has no room for its NUL: it
            // does not fit, and is not cut (a cut would lose its line feed).
            r = -1;
            break;
        }
        size = static_cast<int64_t>(size) * 2 > maxLength ? maxLength : size * 2;
    }
    if (r < 0) {
        String text("CANNOT PRINTF, format=");
        text.append(format);
        text.append('\n');
        setMessage(text.c_str(), text.length());
    } else {
        setMessage(m_strFormatBuffer.c_str(), r);
    }
}

void Core::setMessage(const char* text, int32_t length)
{
    // Backslashes are doubled; a NUL byte becomes backslash 0, which the line
    // formatter turns back into the byte.
    int32_t extra = 0;
    for (int32_t i = 0; i < length; ++i) {
        if (text[i] == '\\' || text[i] == '\0')
            ++extra;
    }
    m_strMessage.resize(length + extra + 1);
    char* out = m_strMessage.data();
    int32_t n = 0;
    for (int32_t i = 0; i < length; ++i) {
        if (text[i] == '\\') {
            out[n++] = '\\';
            out[n++] = '\\';
        } else if (text[i] == '\0') {
            out[n++] = '\\';
            out[n++] = '0';
        } else {
            out[n++] = text[i];
        }
    }
    out[n] = '\0';
}

void Core::route(Message& m)
{
    if (m.node == nullptr)
        m.node = m_strNode.c_str();
    if (m.program == nullptr)
        m.program = m_strProgram.c_str();
    if (m.runNr < 0)
        m.runNr = m_iRunNr;

    if (m.date == nullptr || m.time == nullptr) {
        const int64_t seconds = Platform::nowSeconds();
        if (seconds != m_iLastSeconds) {
            std::tm tm;
            Platform::localTime(static_cast<std::time_t>(seconds), tm);
            char date[64], time[64];
            std::snprintf(date, sizeof(date), "%04d-%02d-%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
            std::snprintf(time, sizeof(time), "%02d:%02d:%02d", tm.tm_hour, tm.tm_min, tm.tm_sec);
            if (same(m_strLastDate, date) && same(m_strLastTime, time)) {
                ++m_iOrder;
            } else {
                m_iOrder = 0;
                m_strLastDate = date;
                m_strLastTime = time;
            }
            m_iLastSeconds = seconds;
        } else {
            ++m_iOrder;
        }
        if (m.time == nullptr)
            m.order = m_iOrder;
        if (m.date == nullptr)
            m.date = m_strLastDate.c_str();
        if (m.time == nullptr)
            m.time = m_strLastTime.c_str();
    }

    for (Target* t = m_pTargets; t != nullptr; t = t->next)
        deliver(t, m);
}

void Core::deliver(Target* t, const Message& m)
{
    if (!t->accepts(m.type) || t->formatter == nullptr || t->sender == nullptr)
        return;
    if (!t->pending.isEmpty()) {
        // The rest of an unfinished line: it keeps the fields of its start.
        t->pending.append(m.text, m.length);
    } else {
        LogRecord& r = t->record;
        i2a(r.type, m.type);
        r.typeCode = typeCode(m.type);
        r.node = m.node;
        r.program = m.program;
        i2a(r.runNr, m.runNr);
        r.file = m.file != nullptr ? m.file : "";
        i2a(r.line, m.line);
        if (m.className == nullptr && m.method != nullptr) {
            splitMethod(m.method, r.className, r.method);
        } else {
            r.className = m.className != nullptr ? m.className : "";
            r.method = m.method != nullptr ? m.method : "";
        }
        r.date = m.date;
        r.time = m.time;
        i2a(r.order, m.order);
        i2a(r.msgNr, m.msgNr);
        t->pending.assign(m.text, m.length);
    }

    // Every complete line is written; empty lines are skipped; the text
    // after the last line feed waits for the next message.
    const char* p = t->pending.c_str();
    const int32_t n = t->pending.length();
    int32_t begin = 0;
    for (int32_t i = 0; i < n; ++i) {
        if (p[i] != '\n')
            continue;
        if (i > begin)
            emitLine(t, p + begin, i - begin);
        begin = i + 1;
    }
    if (begin > 0)
        t->pending.assign(p + begin, n - begin);
}

void Core::emitLine(Target* t, const char* text, int32_t length)
{
    t->record.msg.assign(text, length);
    if (t->openPending) {
        t->openPending = false;
        t->sender->open();
    }
    t->sender->write(t->formatter->format(t->record, t->fields), t->record);
}

// ---------------------------------------------------------------------------
// Banners

void Core::proLog(const char* title, const char* compiled, const char* started)
{
    const char* method = "Logger::proLog";
    log(3, nullptr, nullptr, -1, __FILE__, __LINE__, nullptr, method, nullptr, nullptr, 0, 3, "%s\n", kStars);
    log(3, nullptr, nullptr, -1, __FILE__, __LINE__, nullptr, method, nullptr, nullptr, 0, 3, "%s\n", kMaker);
    log(3, nullptr, nullptr, -1, __FILE__, __LINE__, nullptr, method, nullptr, nullptr, 0, 3, "%s\n",
        title != nullptr ? title : "");
    if (given(compiled))
        log(3, nullptr, nullptr, -1, __FILE__, __LINE__, nullptr, method, nullptr, nullptr, 0, 3, "compiled %s\n",
            compiled);
    log(3, nullptr, nullptr, -1, __FILE__, __LINE__, nullptr, method, nullptr, nullptr, 0, 3, "started at %s\n",
        started != nullptr ? started : "");
    log(3, nullptr, nullptr, -1, __FILE__, __LINE__, nullptr, method, nullptr, nullptr, 0, 3, "%s\n", kStars);
}

void Core::epiLog(int32_t rc, const char* ended)
{
    const char* method = "Logger::epiLog";
    log(3, nullptr, nullptr, -1, __FILE__, __LINE__, nullptr, method, nullptr, nullptr, 0, 3, "%s\n", kStars);
    log(3, nullptr, nullptr, -1, __FILE__, __LINE__, nullptr, method, nullptr, nullptr, 0, 3,
        "Ended at %s with RC=%d\n", ended != nullptr ? ended : "", rc);
    log(3, nullptr, nullptr, -1, __FILE__, __LINE__, nullptr, method, nullptr, nullptr, 0, 3, "%s\n", kStars);
}

// ---------------------------------------------------------------------------
// Received lines

void Core::routeLogLine(const char* node, const char* program, int32_t runNr, const char* text)
{
    if (text == nullptr || *text == '\0')
        return;
    std::lock_guard<std::recursive_mutex> lock(m_mutex);

    const size_t length = std::strlen(text);
    if (length >= 7 && std::strncmp(text, "<log ", 5) == 0 && text[length - 1] == '>') {
        Xml::Document document;
        Xml::Node* record = document.parse(text) ? document.root() : nullptr;
        if (record == nullptr) {
            log(2, nullptr, nullptr, -1, __FILE__, __LINE__, nullptr, "Logger::routeLogLine", nullptr, nullptr, 0, 3,
                "Invalid log message received: %s\n", text);
            return;
        }
        if (m_iBusy != 0)
            return;
        BusyGuard busy(m_iBusy);
        const int32_t type = std::atoi(record->attribute("type", "3"));
        const String recordNode(record->attribute("node"));
        const String recordProgram(record->attribute("program"));
        const int32_t recordRunNr = std::atoi(record->attribute("runNr", "-1"));
        const String file(record->attribute("file"));
        const int32_t line = std::atoi(record->attribute("line", "-1"));
        const String className(record->attribute("class"));
        const String method(record->attribute("method"));
        const String date(record->attribute("date"));
        const String time(record->attribute("time"));
        int32_t order = std::atoi(record->attribute("order", "-1"));
        const int32_t msgNr = std::atoi(record->attribute("msgNr", "0"));
        String msg(record->attributeDecoded("msg"));
        msg.append('\n');

        if (order < 0) {
            if (same(m_strRxNode, recordNode.c_str()) && same(m_strRxDate, date.c_str()) &&
                same(m_strRxTime, time.c_str())) {
                ++m_iRxOrder;
            } else {
                m_iRxOrder = 0;
                m_strRxNode = recordNode;
                m_strRxDate = date;
                m_strRxTime = time;
            }
            order = m_iRxOrder;
        }
        // The record's text keeps the backslashes its sender doubled.
        Message m{type,
                  recordNode.isEmpty() ? nullptr : recordNode.c_str(),
                  recordProgram.isEmpty() ? nullptr : recordProgram.c_str(),
                  recordRunNr,
                  file.c_str(),
                  line,
                  className.isEmpty() ? nullptr : className.c_str(),
                  method.isEmpty() ? nullptr : method.c_str(),
                  date.isEmpty() ? nullptr : date.c_str(),
                  time.isEmpty() ? nullptr : time.c_str(),
                  order,
                  msgNr,
                  msg.c_str(),
                  msg.length()};
        route(m);
        return;
    }

    // A plain line: shown as an X message of the sender named by the caller.
    String plainProgram;
    if (program != nullptr) {
        const char* blank = std::strchr(program, ' ');
        plainProgram.assign(program, blank != nullptr ? static_cast<int32_t>(blank - program)
                                                      : static_cast<int32_t>(std::strlen(program)));
        plainProgram = String(baseName(plainProgram.c_str()));
    }
    log(4, node, program != nullptr ? plainProgram.c_str() : nullptr, runNr, nullptr, -1, nullptr, nullptr, nullptr,
        nullptr, 0, 2, "%s", text);
}

void Core::routeLogText(const char* node, const char* program, int32_t runNr, const char* text)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    routeLogTextLocked(node, program, runNr, text);
}

void Core::routeLogTextLocked(const char* node, const char* program, int32_t runNr, const char* text)
{
    if (text != nullptr)
        m_strStreamBuffer.append(text);
    if (node != nullptr)
        m_strStreamNode = node;
    else
        m_strStreamNode.makeNull();
    if (program != nullptr)
        m_strStreamProgram = program;
    else
        m_strStreamProgram.makeNull();
    m_iStreamRunNr = runNr;

    while (!m_strStreamBuffer.isEmpty()) {
        const char* p = m_strStreamBuffer.c_str();
        const int32_t n = m_strStreamBuffer.length();
        int32_t pieceEnd; // one past the last character of the piece
        String piece;
        if (std::strncmp(p, "<log ", 5) == 0) {
            const char* close = std::strchr(p, '>');
            if (close == nullptr)
                return; // the record is not complete yet
            pieceEnd = static_cast<int32_t>(close - p) + 1;
            piece.assign(p, pieceEnd);
        } else {
            const char* eol = std::strpbrk(p, "\r\n");
            if (eol == nullptr)
                return; // the line is not complete yet
            pieceEnd = static_cast<int32_t>(eol - p) + 1;
            piece.assign(p, pieceEnd);
            piece.data()[pieceEnd - 1] = '\n';
        }
        int32_t rest = pieceEnd;
        while (rest < n && (p[rest] == '\r' || p[rest] == '\n'))
            ++rest;
        m_strStreamBuffer.assign(p + rest, n - rest);
        routeLogLine(m_strStreamNode.isNull() ? nullptr : m_strStreamNode.c_str(),
                     m_strStreamProgram.isNull() ? nullptr : m_strStreamProgram.c_str(), m_iStreamRunNr, piece.c_str());
    }
}

// ---------------------------------------------------------------------------
// Settings

void Core::setBaseDir(const char* dir)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    m_strBaseDir = dir != nullptr ? dir : "";
}

void Core::setRecordCallback(RecordCallback callback)
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    m_recordCallback = std::move(callback);
}

String Core::testOutput() const
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    return m_strTestOutput;
}

void Core::clearTestOutput()
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    m_strTestOutput = "";
}

void Core::appendTestOutput(const String& line)
{
    m_strTestOutput.append(line);
    m_strTestOutput.append('\n');
}

int32_t Core::targetCount() const
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    int32_t n = 0;
    for (const Target* t = m_pTargets; t != nullptr; t = t->next)
        ++n;
    return n;
}

int32_t Core::maxMsgLength() const
{
    std::lock_guard<std::recursive_mutex> lock(m_mutex);
    return m_iMaxMsgLength;
}

} // namespace Logger
