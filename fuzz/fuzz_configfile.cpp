// Ini::IniFile and Xml::ConfigFile: the input is XML and INI text split at the first NUL; the INI
// text is read in each duplicate mode and looked up, then the XML loaded twice with "x.ini" as
// its substitution. Every node must be released.
#include "fuzzcheck.h"
#include "xml/configfile.h"
#include "xml/inifile.h"
#include "xml/node.h"

#include <unistd.h>

namespace {

std::string g_dir;

void lookups(Ini::IniFile& ini)
{
    static const char* const sections[] = {nullptr, "*", "GLOBAL", "a", ""};
    static const char* const items[] = {"MSGLEVEL", "a", "host", "x"};
    for (const char* s : sections)
        for (const char* i : items)
            for (bool cs : {false, true}) {
                Ini::Item* it = ini.find(s, i, cs);
                for (int n = 0; it && n < 1000; ++n)
                    it = it->nextDuplicate();
            }
    for (Ini::Section* s = ini.firstSection(); s; s = s->next())
        for (Ini::Item* it = s->firstItem(); it; it = it->next())
            (void)it->value();
}

} // namespace

// Relative corpus and artifact paths made absolute before the change of directory (libFuzzer reads them later).
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    static std::vector<std::string> paths;
    const std::string cwd = std::filesystem::current_path().string() + "/";
    paths.reserve(static_cast<size_t>(*argc));
    for (int i = 1; i < *argc; ++i) {
        const std::string arg = (*argv)[i];
        const std::string prefix = "-artifact_prefix=";
        if (!arg.empty() && arg[0] != '-' && arg[0] != '/')
            paths.push_back(cwd + arg);
        else if (arg.compare(0, prefix.size(), prefix) == 0 && arg.size() > prefix.size() && arg[prefix.size()] != '/')
            paths.push_back(prefix + cwd + arg.substr(prefix.size()));
        else
            continue;
        (*argv)[i] = &paths.back()[0];
    }
    g_dir = privateDir();
    if (chdir(g_dir.c_str()) != 0)
        fail("no private directory");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const char* bytes = reinterpret_cast<const char*>(data);
    const void* nul = std::memchr(bytes, 0, size);
    size_t xmlLength = nul ? static_cast<size_t>(static_cast<const char*>(nul) - bytes) : size;
    std::string xml(bytes, xmlLength);
    std::string iniText = nul ? std::string(bytes + xmlLength + 1, size - xmlLength - 1) : std::string();

    for (int32_t mode = 0; mode <= 3; ++mode) {
        Ini::IniFile ini("mem.ini", mode);
        ini.load(iniText.c_str());
        lookups(ini);
    }

    writeFile(g_dir + "/x.ini", iniText.data(), iniText.size());
    int32_t liveBefore = Xml::Node::liveCount();
    {
        Xml::ConfigFile cfg((g_dir + "/cfg.xml").c_str(), "x");
        cfg.load(xml.c_str());
        (void)cfg.messages();
        (void)cfg.print(false);
        cfg.load(xml.c_str());
        (void)cfg.print(true);
    }
    if (Xml::Node::liveCount() != liveBefore)
        fail("nodes outlive their configuration document");
    return 0;
}
