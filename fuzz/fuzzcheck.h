#pragma once
// Shared pieces of the fuzz targets: a failed property aborts (libFuzzer keeps the input), a private
// directory removed at exit, whole writes, and a trace that goes nowhere.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <errno.h>
#include <filesystem>
#include <string>
#include <sys/socket.h>
#include <vector>

#if __has_include("trace.h")
#include "trace.h"
#endif

[[noreturn]] inline void fail(const char* what)
{
    std::fprintf(stderr, "%s: %s\n", program_invocation_short_name, what);
    std::abort();
}

// A fresh directory below /tmp, removed at exit.
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

inline void writeFile(const std::string& path, const void* bytes, size_t size)
{
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        fail("cannot write a file of the private directory");
    std::fwrite(bytes, 1, size, f);
    std::fclose(f);
}

// Sends all bytes; false when the peer stops taking them.
inline bool sendAll(int fd, const uint8_t* data, size_t size)
{
    for (size_t off = 0; off < size;) {
        const ssize_t w = send(fd, data + off, size - off, MSG_NOSIGNAL);
        if (w <= 0)
            return false;
        off += static_cast<size_t>(w);
    }
    return true;
}

#if __has_include("trace.h")
// The conversation library's trace on at its highest level, its texts built and dropped.
inline void traceToNowhere()
{
    struct NullSink : wc::TraceSink {
        void write(int, const char*, int, const std::string& text) override { bytes += text.size(); }
        size_t bytes = 0;
    };
    wc::traceInstall(9, std::unique_ptr<wc::TraceSink>(new NullSink()));
}
#endif
