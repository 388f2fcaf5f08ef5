#include "configmodul.h"

#include "elog.h"
#include "iniparser.h"

ConfigModul* g_pConfigModul = nullptr;

namespace {
// "contains X at a position after its first character"
bool ContainsAfterFirst(const std::string& key, const char* word)
{
    const std::string::size_type pos = key.find(word);
    return pos != std::string::npos && pos > 0;
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

// WORK IN PROGRESS: the command-line step, the generated files.
int ConfigModul::Parse()
{
    return 8;
}

void ConfigModul::GenerateIni()
{
}

void ConfigModul::GenerateLoggerXml()
{
}
