#pragma once
// Ini::IniFileInfoList: the files read by one load of an INI file (the file
// itself and every included one), newest first, each with its modification
// time in seconds since 1970 (0 when the file could not be read).

#include "string/string.h"

#include <cstdint>

namespace Ini {

class IniFileInfoList {
public:
    class IniFileInfo {
    public:
        const char* path() const { return m_strPath.c_str(); }
        int64_t modified() const { return m_iModified; }
        IniFileInfo* next() const { return m_pNext; }

    private:
        friend class IniFileInfoList;
        IniFileInfo(const char* path, int64_t modified) : m_strPath(path), m_iModified(modified) {}

        String m_strPath;
        int64_t m_iModified;
        IniFileInfo* m_pNext = nullptr;
    };

    IniFileInfoList() = default;
    ~IniFileInfoList();
    IniFileInfoList(const IniFileInfoList&) = delete;
    IniFileInfoList& operator=(const IniFileInfoList&) = delete;

    // Puts a file at the head of the list.
    void add(const char* path, int64_t modified);
    void clear();
    IniFileInfo* first() const { return m_pFirst; }
    int32_t count() const { return m_iCount; }

private:
    IniFileInfo* m_pFirst = nullptr;
    int32_t m_iCount = 0;
};

} // namespace Ini
