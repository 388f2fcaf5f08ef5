#include "elog.h"

#include "configmodul.h"
#include "globals.h"
#include "iniparser.h"
#include "simpleoptions.h"

#include "logger/logger.h"
#include "platform/platform.h"
#include "string/printfdirective.h"
#include "vexlink_version.h"

#include <sqlite3.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <stdexcept>

int32_t g_bLogOn = 0;
EMutex g_LogMutex;
std::string g_strLogFileName;

namespace {

const char kProgram[] = "vexlink";

// Number of arguments a printf format reads, or -1 when it holds something
// ELOG refuses to print: "%n" (it writes through its argument), positional
// arguments and unknown conversions.
int FormatArgumentCount(const char* format)
{
    int count = 0;
    const bool printable = PrintfDirective::all(format, [&count](const PrintfDirective& directive) {
        if (directive.positional || directive.conversion == '\0' ||
            std::strchr("diouxXfFeEgGaAcsp", directive.conversion) == nullptr)
            return false;
        count += 1 + (directive.widthArgument ? 1 : 0) + (directive.precisionArgument ? 1 : 0);
        return true;
    });
    return printable ? count : -1;
}

// Appends text with its control characters escaped: a line feed or a
// carriage return from the host or the front end must not start a line of
// its own under the log's genuine prefix.
void AppendEscaped(std::string& out, const char* text, size_t length)
{
    for (size_t i = 0; i < length; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if ((c < 0x20 && c != '\t') || c == 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof(hex), "\\x%02X", c);
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
}

// One conversion printed alone, the text of %s and %c escaped.
template <typename T> void AppendConversion(std::string& out, const std::string& directive, T value, bool escape)
{
    const int n = std::snprintf(nullptr, 0, directive.c_str(), value);
    if (n <= 0)
        return;
    std::string text(static_cast<size_t>(n) + 1, '\0');
    std::snprintf(&text[0], text.size(), directive.c_str(), value);
    text.resize(static_cast<size_t>(n));
    if (escape)
        AppendEscaped(out, text.data(), text.size());
    else
        out += text;
}

// Formats as vsnprintf does, conversion by conversion, so that the
// arguments' texts are escaped while the format's own line feeds stay. The
// format has been checked by FormatArgumentCount.
std::string FormatEscaped(const char* format, va_list args)
{
    std::string out;
    for (const char* p = format; *p != '\0'; ++p) {
        if (*p != '%') {
            out += *p;
            continue;
        }
        if (p[1] == '%') {
            out += '%';
            ++p;
            continue;
        }
        PrintfDirective parsed;
        p = parsed.read(p + 1);
        const std::string& length = parsed.length;
        const char conversion = parsed.conversion;
        if (conversion == '\0')
            break;
        // The conversion with any "*" replaced by its argument's value, the
        // width's argument first.
        std::string directive = "%" + parsed.flags;
        directive += parsed.widthArgument ? std::to_string(va_arg(args, int)) : parsed.width;
        if (parsed.hasPrecision)
            directive += "." + (parsed.precisionArgument ? std::to_string(va_arg(args, int)) : parsed.precision);
        directive += length;
        directive += conversion;
        const bool isLong = length == "l";
        const bool isLongLong = length == "ll" || length == "q" || length == "j";
        const bool isSize = length == "z" || length == "t";
        switch (conversion) {
        case 's': {
            const char* text = va_arg(args, const char*);
            AppendConversion(out, directive, text != nullptr ? text : "(null)", true);
            break;
        }
        case 'c':
            AppendConversion(out, directive, va_arg(args, int), true);
            break;
        case 'd':
        case 'i':
            if (isLongLong)
                AppendConversion(out, directive, va_arg(args, long long), false);
            else if (isLong || isSize)
                AppendConversion(out, directive, va_arg(args, long), false);
            else
                AppendConversion(out, directive, va_arg(args, int), false);
            break;
        case 'u':
        case 'o':
        case 'x':
        case 'X':
            if (isLongLong)
                AppendConversion(out, directive, va_arg(args, unsigned long long), false);
            else if (isLong || isSize)
                AppendConversion(out, directive, va_arg(args, unsigned long), false);
            else
                AppendConversion(out, directive, va_arg(args, unsigned int), false);
            break;
        case 'p':
            AppendConversion(out, directive, va_arg(args, void*), false);
            break;
        default:
            if (length == "L")
                AppendConversion(out, directive, va_arg(args, long double), false);
            else
                AppendConversion(out, directive, va_arg(args, double), false);
            break;
        }
    }
    return out;
}

// The text as an attribute value between apostrophes: the characters that
// would end or break the value are written as entity references.
std::string XmlAttributeText(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '\'':
            out += "&apos;";
            break;
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        default:
            out += c;
            break;
        }
    }
    return out;
}

} // namespace

// The local time as the first 24 characters of the C runtime's asctime
// text ("Fri Dec  4 04:49:23 2026"), made from a thread-safe reading.
std::string AscTimeNow()
{
    static const char kDays[7][4] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char kMonths[12][4] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::tm tm;
    Platform::localTime(static_cast<std::time_t>(Platform::nowSeconds()), tm);
    char text[64];
    std::snprintf(text, sizeof(text), "%.3s %.3s%3d %.2d:%.2d:%.2d %d", kDays[(tm.tm_wday % 7 + 7) % 7],
                  kMonths[(tm.tm_mon % 12 + 12) % 12], tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, tm.tm_year + 1900);
    return std::string(text).substr(0, 24);
}

bool ElogAccepts(int level)
{
    return g_bLogOn && Logger::Core::instance()->accepts(level);
}

void ELOG(int count, int level, int msgNr, const char* format, ...)
{
    if (!g_bLogOn)
        return;
    if (count < 0 || count > 6 || format == nullptr)
        return;
    Logger::Core* core = Logger::Core::instance();
    // A level no target takes costs no lock and no formatting.
    if (!core->accepts(level))
        return;

    ELock lock(&g_LogMutex);
    if (count == 0) {
        // Written literally: a "%" in the text stays as it is.
        core->log(level, nullptr, nullptr, -1, __FILE__, __LINE__, nullptr, "ELOG", nullptr, nullptr, 0, msgNr, "%s",
                  format);
        return;
    }
    // A format that reads more arguments than the call gives would read
    // whatever lies beyond them.
    const int wanted = FormatArgumentCount(format);
    if (wanted < 0 || wanted > count) {
        core->logFormatError(level, __FILE__, __LINE__, "ELOG", msgNr, format);
        return;
    }
    va_list args;
    va_start(args, format);
    const std::string text = FormatEscaped(format, args);
    va_end(args);
    // A text beyond the bound of one message is not cut: the core's own
    // replacement line names the format.
    if (static_cast<int64_t>(text.size()) + 1 > core->maxMsgLength()) {
        core->logFormatError(level, __FILE__, __LINE__, "ELOG", msgNr, format);
        return;
    }
    core->log(level, nullptr, nullptr, -1, __FILE__, __LINE__, nullptr, "ELOG", nullptr, nullptr, 0, msgNr, "%s",
              text.c_str());
}

void LogAssertion(const char* expression, const char* file, int line)
{
    // The core serialises this call with ELOG's by its own lock.
    Logger::Core::instance()->log(1, nullptr, nullptr, -1, file, line, nullptr, nullptr, nullptr, nullptr, 0, 110,
                                  "Assertion failed: %s (%s, %d)\n", expression != nullptr ? expression : "",
                                  file != nullptr ? file : "", line);
}

EventLog::EventLog(int argc, char** argv) : m_strLogPath(".")
{
    g_strLogFileName.clear();
    std::string level;
    try {
        CSimpleOptions options(argc, argv, kOptionString, true);
        for (char letter = options.GetNext(); letter != 0; letter = options.GetNext()) {
            const char* value = options.OptionArg();
            if (value == nullptr)
                continue;
            switch (letter) {
            case 'D':
                m_strLogPath = value;
                break;
            case 'c': {
                m_strIniFile = value;
                // Its messages go nowhere: logging is not on yet.
                IniParser parser(value);
                if (parser.Parse()) {
                    const auto it = parser.m_mapParms.find("GLOBAL.LOG_PATH");
                    if (it != parser.m_mapParms.end())
                        m_strLogPath = it->second + Platform::pathSeparator;
                }
                break;
            }
            case 'd':
                m_strWorkDir = value;
                break;
            case 'l':
                level = value;
                break;
            default:
                break;
            }
        }
    } catch (const std::invalid_argument&) {
        // The scan ends; what was gathered counts. ConfigModul::Parse reports it.
    }

    if (!m_strIniFile.empty()) {
        std::FILE* file = Platform::isDirectory(m_strIniFile) ? nullptr : std::fopen(m_strIniFile.c_str(), "rb");
        if (file == nullptr)
            m_strIniFile.clear();
        else
            std::fclose(file);
    }
    m_strLogLevel = level;
    g_bLogOn = (!level.empty() && level != "0") ? 1 : 0;
}

EventLog::~EventLog()
{
    Logger::epiLog(g_iRC.load(), AscTimeNow().c_str());
}

void EventLog::Start()
{
    std::tm tm;
    Platform::localTime(static_cast<std::time_t>(Platform::nowSeconds()), tm);
    char date[64];
    std::snprintf(date, sizeof(date), "%d-%02d-%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
    g_strLogFileName = std::string(kProgram) + "." + date + "." + m_strWorkDir + ".log";
    const std::string logPath = m_strLogPath + g_strLogFileName;

    // The paths are escaped so that any path gives a document that parses;
    // the text is not cut, so a long path still names the whole file. Both
    // are given as literal names ("file" of the INI hook, "path" of the log
    // file), so that "*", "?", "#", "%" or "@" in a work directory, a log
    // directory or an INI path stay what they are instead of being taken as
    // placeholders of a path mask.
    const std::string configuration =
        "<talverix>   <ini file='" + XmlAttributeText(m_strIniFile) +
        "' hook=':INI:'><item name='[*]MSGLEVEL' default='1' /></ini>   <logger>       "
        "<target level=':INI:[*]MSGLEVEL' include='date;time;program' formatter='line' sender='file'>           "
        "<file path='" +
        XmlAttributeText(logPath) + "'/>       </target>   </logger></talverix>";

    if (g_bLogOn)
        Logger::Core::instance()->start("", kProgram, -1, "", configuration.c_str(), nullptr, false, "");

    Logger::proLog("VEXLINK: FTP client, x64, supporting TLS\n", __DATE__ " " __TIME__, AscTimeNow().c_str());

    ELOG(1, 3, 100, "VEXLINK: %s\n", VEXLINK_VERSION_TEXT);
    ELOG(1, 3, 100, "VEXLINK: PID=%d\n", Platform::processId());
    ELOG(1, 3, 100, "VEXLINK: PHP_HANDLER=%s\n", m_strWorkDir.c_str());
    ELOG(1, 3, 100, "VEXLINK: LIBWIRECOMM_VERSION=%s\n", VEXLINK_WIRECOMM_VERSION);
    // The library actually linked, not the version the program was built against.
    ELOG(1, 3, 100, "VEXLINK: SQLITE_VERSION: %s\n", sqlite3_libversion());
}
