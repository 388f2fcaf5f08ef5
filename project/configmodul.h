#pragma once
// The configuration store: every setting of a run as text under
// "SECTION.KEY", filled from the command line and the INI file.

#include "cobject.h"
#include "task.h"

#include <cstdint>
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
    // The command-line and INI step: 0 go on, 8 failure, other: stop (exit 4).
    int Parse();
    // Writes the default INI file.
    void GenerateIni();
    // Writes the conversation library's trace configuration.
    void GenerateLoggerXml();

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
