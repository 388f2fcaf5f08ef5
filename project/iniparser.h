#pragma once
// Reads the INI file named by -c into a map of "SECTION.KEY" to value.

#include "cobject.h"

#include <map>
#include <string>

class IniParser : public CObject {
public:
    explicit IniParser(const char* fileName);
    ~IniParser() override = default;

    // Reads the file into m_mapParms; false when it cannot be opened.
    bool Parse();

    const char* m_pszFileName;
    std::map<std::string, std::string> m_mapParms;
};
