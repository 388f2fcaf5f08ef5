#include "configmodul.h"

#include "elog.h"
#include "iniparser.h"
#include "simpleoptions.h"
#include "translate.h"
#include "vexlink_version.h"

#include "platform/platform.h"

#include <openssl/crypto.h>

#include <cstdio>
#include <stdexcept>

ConfigModul* g_pConfigModul = nullptr;

namespace {
// "contains word at a position after its first character"
bool ContainsAfterFirst(const std::string& key, const char* word)
{
    return key.find(word, 1) != std::string::npos;
}

const char kVersion[] = VEXLINK_VERSION_TEXT;
const char kProgramName[] = "vexlink";

// The usage text of -h: version string, then program name.
const char kUsageFormat[] = "\n"
                            " vexlink.exe %s\n"
                            " The TLS encpypted file and command transfer protocol\n"
                            "\n"
                            "\n"
                            " Usage: %s.exe [-c] <filename> [arguments]\n"
                            "   -h                  This help\n"
                            "   -t                  Show all possible Translate Code Pages\n"
                            "   -g                  Generate new default config ini file\n"
                            "   -x                  Generate new tcplogger xml file\n"
                            "   -c <filename>       Parse ini file, the paramater is required\n"
                            "\n"
                            " Arguments:\n"
                            "   -l <0/1>            Switch On/Off loging\n"
                            "   -D <path>           Set a path for log file\n"
                            "   -d <dir>            Set a temporary work directory\n"
                            "   -U <userid>         Set a FTP user id\n"
                            "   -A <ip_address>     Set a FTP IP Address\n"
                            "   -O <port>           Set a FTP PORT\n"
                            "   -S <level>          Set TLS security level (1=default, higher=more secure).\n";

// The configuration key that an option with a value is stored under, or
// null for the other options.
const char* KeyOfOption(char letter)
{
    switch (letter) {
    case 'l':
        return "GLOBAL.LOG";
    case 'D':
        return "GLOBAL.LOG_PATH";
    case 'd':
        return "GLOBAL.WORK_DIR";
    case 'U':
        return "TCP.USERID";
    case 'A':
        return "TCP.IP_ADDR";
    case 'O':
        return "TCP.HOST_PORT";
    case 'S':
        return "TCP.TCPTLSSECLEVEL";
    default:
        return nullptr;
    }
}
} // namespace

bool IsSecretKey(const std::string& key)
{
    return key.find("PASSWORD") != std::string::npos || key.find("CRYPTKEY") != std::string::npos;
}

const char* LoggableValue(const std::string& key, const std::string& value)
{
    return IsSecretKey(key) ? "********" : value.c_str();
}

bool ConfigValue(const char* key, std::string& value)
{
    value.clear();
    return g_pConfigModul != nullptr && g_pConfigModul->GetParm(key, value);
}

bool IsHexSetting(const std::string& value)
{
    return value.size() == 3 && (value[0] | 0x20) == 'h' && (value[1] | 0x20) == 'e' && (value[2] | 0x20) == 'x';
}

ConfigModul::ConfigModul(int argcIn, char** argvIn) : argc(argcIn), argv(argvIn)
{
}

bool ConfigModul::GetParm(const std::string& key, std::string& value)
{
    ELock lock(&m_lock);
    value.clear();
    auto it = m_mapParms.find(key);
    if (it == m_mapParms.end())
        return false;
    value = it->second;
    return true;
}

void ConfigModul::SetParm(const std::string& key, const std::string& value)
{
    std::string existing;
    const bool present = GetParm(key, existing);
    if (present && m_bIniLoaded) {
        {
            ELock lock(&m_lock);
            m_mapParms[key] = value;
        }
        if (!ContainsAfterFirst(key, "PASSWORD"))
            ELOG(2, 3, 130, "*** ChangeINIParmByARG Name=Value: %s=%s\n", key.c_str(), LoggableValue(key, value));
        return;
    }
    if (!present) {
        ELock lock(&m_lock);
        m_mapParms.emplace(key, value);
    }
    if (!m_bIniLoaded && !ContainsAfterFirst(key, "PASSWORD"))
        ELOG(2, 3, 130, "*** AddNewARGParm Name=Value: %s=%s\n", key.c_str(), LoggableValue(key, value));
}

void ConfigModul::ReplaceParm(const std::string& key, const std::string& value)
{
    ELock lock(&m_lock);
    m_mapParms[key] = value;
}

void ConfigModul::RemoveParm(const std::string& key)
{
    ELock lock(&m_lock);
    m_mapParms.erase(key);
}

void ConfigModul::WipeParm(const std::string& key)
{
    ELock lock(&m_lock);
    auto it = m_mapParms.find(key);
    if (it == m_mapParms.end())
        return;
    OPENSSL_cleanse(&it->second[0], it->second.size());
    m_mapParms.erase(it);
}

ConfigModul::~ConfigModul()
{
    delete m_pIniParser;
}

std::string ConfigModul::ReadPasswordLine(std::FILE* in, bool& bLine)
{
    std::string password;
    // Room for the whole line at once: a growing string would leave copies
    // of the password behind in freed memory.
    password.reserve(kMaxPasswordLength + 1);
    bLine = false;
    while (password.size() < kMaxPasswordLength) {
        const int c = std::fgetc(in);
        if (c == EOF)
            break;
        bLine = true;
        if (c == '\n')
            break;
        password.push_back(static_cast<char>(c));
    }
    // A stray blank or tab from the front end must not change the password.
    const char* const blanks = " \t\r";
    const size_t first = password.find_first_not_of(blanks);
    const size_t last = password.find_last_not_of(blanks);
    std::string trimmed = first == std::string::npos ? std::string() : password.substr(first, last - first + 1);
    OPENSSL_cleanse(&password[0], password.size());
    return trimmed;
}

int ConfigModul::Parse()
{
    // argc 0 (no program name either) counts as no arguments as well.
    if (argc <= 1) {
        ELOG(0, 1, 150, "too few entry arguments, use -h for more details\n");
        std::fputs("too few entry arguments, use -h for more details\n", stdout);
        return 8;
    }

    try {
        CSimpleOptions options(argc, argv, kOptionString, true);
        for (char letter = options.GetNext(); letter != 0; letter = options.GetNext()) {
            switch (letter) {
            case 'l':
            case 'D':
            case 'd':
            case 'U':
            case 'A':
            case 'O':
            case 'S':
                // An empty value leaves the key to its default.
                if (options.OptionArg()[0] == '\0')
                    RemoveParm(KeyOfOption(letter));
                else
                    SetParm(KeyOfOption(letter), options.OptionArg());
                break;
            case 'c': {
                delete m_pIniParser;
                m_pIniParser = new IniParser(options.OptionArg());
                if (!m_pIniParser->Parse())
                    return 8;
                m_bIniLoaded = true;
                // Merge in key order, emptying the parser's map.
                std::map<std::string, std::string>& entries = m_pIniParser->m_mapParms;
                while (!entries.empty()) {
                    auto first = entries.begin();
                    SetParm(first->first, first->second);
                    entries.erase(first);
                }
                break;
            }
            case 'h': {
                char buffer[28000];
                std::snprintf(buffer, sizeof(buffer), kUsageFormat, kVersion, kProgramName);
                std::fputs(buffer, stdout);
                return 1;
            }
            case 't':
                Translate::Instance()->PrintTableList();
                return 1;
            case 'g':
                GenerateIni();
                return 1;
            case 'x':
                GenerateLoggerXml();
                return 1;
            default:
                // Every letter of the option string is handled above.
                break;
            }
        }

        if (!m_bIniLoaded) {
            ELOG(0, 1, 150, "-c argument with .INI file missing\n");
            return 8;
        }
        // From here on the process holds the password: no core dump, no
        // other process of the user reads its memory.
        Platform::setNotDumpable();
        bool line = false;
        // Unbuffered: the line must not stay behind in the stream's buffer.
        std::setvbuf(stdin, nullptr, _IONBF, 0);
        std::string password = ReadPasswordLine(stdin, line);
        m_bPasswordLineMissing = !line;
        if (password.empty())
            ELOG(0, 2, 150, "Password is empty!\n");
        SetParm("TCP.PASSWORD", password);
        OPENSSL_cleanse(&password[0], password.size());
        return 0;
    } catch (const std::invalid_argument& e) {
        ELOG(1, 1, 150, "Invalid argument: %s\n", e.what());
        return 8;
    }
}
