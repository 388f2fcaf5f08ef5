#pragma once
// The configuration store: every setting of a run as text under
// "SECTION.KEY", filled from the command line and the INI file.

#include "cobject.h"
#include "task.h"

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>

class IniParser;

class ConfigModul : public CObject {
public:
    ConfigModul(int argc, char** argv);
    ~ConfigModul() override;

    // Copies the value of key into value (emptied first); false when absent.
    bool GetParm(const std::string& key, std::string& value);
    // Inserts or (once an INI file is loaded) replaces a key.
    void SetParm(const std::string& key, const std::string& value);
    // Replaces (or inserts) a key without a log line: the range checks
    // write back the value they use.
    void ReplaceParm(const std::string& key, const std::string& value);
    // Removes a key: an option given with an empty value leaves the key to
    // its default.
    void RemoveParm(const std::string& key);
    // Overwrites the stored value of a key (the password once the
    // conversation holds it) and removes the key.
    void WipeParm(const std::string& key);
    // The command-line and INI step: 0 go on, 1 an informational option was
    // carried out (exit code 4), 8 failure.
    int Parse();
    // Writes the default INI file vexlink.ini into the current directory.
    void GenerateIni();
    // Writes the conversation library's trace configuration tcplogger.xml
    // into the current directory.
    void GenerateLoggerXml();

    // Longest password line taken from standard input: the Base64 text of a
    // 100-character pass phrase is 136 characters; the rest of a longer line
    // stays unread.
    static constexpr size_t kMaxPasswordLength = 256;
    // Reads the password line from in: characters up to a line feed or the
    // end of input, at most kMaxPasswordLength of them, with blanks, tabs
    // and carriage returns trimmed from both ends. Returns the password;
    // bLine is false when the input ended before any character (no line at
    // all), true for a line, an empty one included.
    static std::string ReadPasswordLine(std::FILE* in, bool& bLine);

    int32_t argc;
    char** argv;
    IniParser* m_pIniParser = nullptr;
    bool m_bIniLoaded = false;
    // Standard input ended without a password line: the run is refused.
    bool m_bPasswordLineMissing = false;

private:
    EMutex m_lock;
    std::map<std::string, std::string> m_mapParms;
};

// The program's option letters for CSimpleOptions (":" after a letter that
// takes a value); the configuration and the log's pre-scan read the same.
constexpr char kOptionString[] = "htgxc:d:l:D:U:A:O:S:";

// The one configuration store, published by main.
extern ConfigModul* g_pConfigModul;

// The value of key in g_pConfigModul: false, with value empty, when the key
// is absent or no store is published.
bool ConfigValue(const char* key, std::string& value);
// Whether a format setting says "HEX", in any case.
bool IsHexSetting(const std::string& value);

// True when the value of this key must not reach the log in clear.
bool IsSecretKey(const std::string& key);
// The value to log for key: a fixed mask for secrets, else the value itself.
const char* LoggableValue(const std::string& key, const std::string& value);
