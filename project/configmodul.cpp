#include "configmodul.h"

#include "elog.h"
#include "iniparser.h"
#include "simpleoptions.h"
#include "translate.h"
#include "vexlink_version.h"

#include <cstdio>
#include <stdexcept>

ConfigModul* g_pConfigModul = nullptr;

namespace {
// "contains word at a position after its first character"
bool ContainsAfterFirst(const std::string& key, const char* word)
{
    return key.find(word, 1) != std::string::npos;
}

const char kOptionString[] = "htgxc:d:l:D:U:A:O:S:";
const char kVersion[] = VEXLINK_VERSION_TEXT;
const char kProgramName[] = "vexlink";

// The usage text of -h: version string, then program name.
const char kUsageFormat[] =
    "\n"
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
    case 'l': return "GLOBAL.LOG";
    case 'D': return "GLOBAL.LOG_PATH";
    case 'd': return "GLOBAL.WORK_DIR";
    case 'U': return "TCP.USERID";
    case 'A': return "TCP.IP_ADDR";
    case 'O': return "TCP.HOST_PORT";
    case 'S': return "TCP.TCPTLSSECLEVEL";
    default: return nullptr;
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

ConfigModul::~ConfigModul()
{
    delete m_pIniParser;
}

std::string ConfigModul::ReadPasswordLine(std::FILE* in)
{
    std::string password;
    while (password.size() < kMaxPasswordLength) {
        int c = std::fgetc(in);
        if (c == EOF || c == '\n')
            break;
        if (c == '\r') {
            const int next = std::fgetc(in);
            if (next == '\n')
                break;
            if (next != EOF)
                std::ungetc(next, in);
        }
        password.push_back(static_cast<char>(c));
    }
    return password;
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
        const std::string password = ReadPasswordLine(stdin);
        if (password.empty())
            ELOG(0, 2, 150, "Password is empty!\n");
        SetParm("TCP.PASSWORD", password);
        return 0;
    } catch (const std::invalid_argument& e) {
        ELOG(1, 1, 150, "Invalid argument: %s\n", e.what());
        return 8;
    }
}
