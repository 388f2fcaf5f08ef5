#pragma once
// Shared pieces of the fuzz targets: a failed property aborts with its text
// (libFuzzer keeps the input as a finding), and a private directory that is
// removed when the process ends.

#include <cstdio>
#include <cstdlib>
#include <errno.h>
#include <filesystem>
#include <string>

#include <stdlib.h>

[[noreturn]] inline void fail(const char* what)
{
    std::fprintf(stderr, "%s: %s\n", program_invocation_short_name, what);
    std::abort();
}

// Makes a fresh directory below /tmp, removed at exit; its path.
inline const std::string& privateDir()
{
    static std::string dir;
    std::string templ = std::string("/tmp/") + program_invocation_short_name + ".XXXXXX";
    if (mkdtemp(&templ[0]) == nullptr)
        fail("no private directory");
    dir = templ;
    std::atexit([] {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    });
    return dir;
}
