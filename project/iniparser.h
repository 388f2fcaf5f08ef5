#pragma once
// Reads the INI file named by -c into a map of "SECTION.KEY" to value.

#include "cobject.h"

#include <cstdio>
#include <map>
#include <string>

class IniParser : public CObject {
public:
    // The name is not copied: it points into the command line.
    explicit IniParser(const char* fileName);
    ~IniParser() override = default;

    // Reads the file into m_mapParms (emptied first); true when the file
    // could be opened, whatever its content. A directory counts as a file
    // that cannot be opened.
    bool Parse();

    // Longest piece of a line taken in one read; a longer line is read as
    // several consecutive lines of at most this many characters.
    static constexpr size_t kMaxLineChunk = 255;

    // Reads the next piece of a line from file as the text-mode reader does:
    // a carriage return right before a line feed is dropped, reading stops
    // after a line feed or after kMaxLineChunk characters, and one trailing
    // line feed is removed. Text after a NUL byte in the piece is discarded,
    // as a C string of that piece would end there. False at end of file
    // when nothing was read.
    static bool ReadLineChunk(std::FILE* file, std::string& line);

    const char* m_pszFileName;
    std::map<std::string, std::string> m_mapParms;

private:
    // Handles one line (already without its line feed); section is the
    // current section, updated by section lines.
    void ParseLine(std::string line, std::string& section);
};
