// The program's INI reader over any file: stored entries have a non-empty key and value, no NUL,
// no line end in a value, and no more than the line pieces they came from.
#include "fuzzcheck.h"
#include "iniparser.h"

namespace {

std::string g_path;

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    g_path = privateDir() + "/vexlink.ini";
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    writeFile(g_path, data, size);
    IniParser parser(g_path.c_str());
    if (!parser.Parse())
        fail("an existing file was not read");
    for (const auto& entry : parser.m_mapParms) {
        if (entry.first.empty() || entry.second.empty())
            fail("empty key or value stored");
        if (entry.first.find('\0') != std::string::npos || entry.second.find('\0') != std::string::npos)
            fail("NUL byte stored");
        if (entry.second.find('\n') != std::string::npos)
            fail("value runs over a line end");
        // A key is a section name, a dot and an item name, each from one piece.
        if (entry.first.size() > 2 * IniParser::kMaxLineChunk + 1 || entry.second.size() > IniParser::kMaxLineChunk)
            fail("entry longer than its line pieces");
    }
    return 0;
}
