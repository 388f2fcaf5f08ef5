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
    // end of input, at most kMaxPasswordLength of them. A carriage return
    // right before the line feed is dropped (a front end that ends the line
    // with CR LF). Returns the password, empty when the input ends at once.
    static std::string ReadPasswordLine(std::FILE* in);

    int32_t argc;
    char** argv;
    IniParser* m_pIniParser = nullptr;
    bool m_bIniLoaded = false;

private:
    EMutex m_lock;
    std::map<std::string, std::string> m_mapParms;
};

// The one configuration store, published by main.
extern ConfigModul* g_pConfigModul;

// True when the value of this key must not reach the log in clear.
bool IsSecretKey(const std::string& key);
// The value to log for key: a fixed mask for secrets, else the value itself.
const char* LoggableValue(const std::string& key, const std::string& value);
