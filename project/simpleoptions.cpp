#include "simpleoptions.h"

#include <cctype>
#include <cstring>
#include <stdexcept>
#include <string>

CSimpleOptions::CSimpleOptions(int argc, char** argv, const char* optionString, bool caseSensitive)
    : m_iArgc(argc), m_ppArgv(argv), m_pszOptions(optionString ? optionString : ""), m_bCaseSensitive(caseSensitive)
{
}

char CSimpleOptions::GetNext()
{
    m_pCurrent = nullptr;
    if (m_ppArgv == nullptr || m_iNext >= m_iArgc)
        return 0;

    // A null entry cannot come from a real command line; treat it like an
    // empty argument rather than dereferencing it.
    const char* arg = m_ppArgv[m_iNext] ? m_ppArgv[m_iNext] : "";

    // "-x" or "/x": exactly two characters, the second not ':'.
    const bool isOption = (arg[0] == '-' || arg[0] == '/') && arg[1] != '\0' && arg[1] != ':' && arg[2] == '\0';
    if (!isOption)
        throw std::invalid_argument(arg);

    char letter = arg[1];
    if (!m_bCaseSensitive)
        letter = static_cast<char>(std::tolower(static_cast<unsigned char>(letter)));

    const char* pos = std::strchr(m_pszOptions, letter);
    if (pos == nullptr || letter == ':')
        throw std::invalid_argument(arg);

    if (pos[1] == ':') {
        if (m_iNext + 1 >= m_iArgc)
            throw std::invalid_argument(arg);
        m_iNext += 2;
    } else {
        m_iNext += 1;
    }
    m_pCurrent = pos;
    return letter;
}

const char* CSimpleOptions::OptionArg() const
{
    if (m_pCurrent == nullptr || m_pCurrent[1] != ':')
        return nullptr;
    const char* value = m_ppArgv[m_iNext - 1];
    return value ? value : "";
}
