#include "iniparser.h"

IniParser::IniParser(const char* fileName) : m_pszFileName(fileName)
{
}

// WORK IN PROGRESS
bool IniParser::Parse()
{
    m_mapParms.clear();
    return false;
}
