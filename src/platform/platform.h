#pragma once
// The small layer over the operating system. Everything that differs between
// Windows and POSIX (clock, host name, process id, directories, sleeping) is
// reached through these functions, so a Windows build only replaces platform.cpp.

#include <cstdint>
#include <ctime>
#include <string>

namespace Platform {

// Milliseconds on a monotonic clock (for time-outs and waiting).
uint64_t monotonicMillis();
// The same clock read cheaply, a few milliseconds behind at most: for
// waits and time-outs counted in seconds that are looked at once per
// record.
uint64_t coarseMillis();
// Wall clock in 100-nanosecond units since 1601-01-01 (the Windows file time epoch).
uint64_t systemTime100ns();
// Wall clock seconds since 1970 (time()).
int64_t nowSeconds();
// Thread-safe local time of a time_t.
void localTime(std::time_t t, std::tm& out);
// Suspends the calling thread for at least the given milliseconds.
void sleepMillis(uint32_t millis);
// Process id of this process.
int processId();
// Name of this computer (node name); "unknown" when it cannot be read.
std::string hostName();
// Creates one directory; true when it was created or already exists.
bool makeDir(const std::string& path);
// True when the path exists (file or directory).
bool pathExists(const std::string& path);
// True when the path is a directory.
bool isDirectory(const std::string& path);
// True when the path is a regular file.
bool isRegularFile(const std::string& path);
// Current working directory, empty on failure.
std::string currentDir();
// The native path separator.
constexpr char pathSeparator = '/';

// Tells a waiter when a file of one directory whose name starts with a given
// text changes (written, created, closed after writing, removed, renamed into
// place): the request database with its journal or WAL. Where the system
// gives no such notification, wait only sleeps.
class FileChangeWatch {
public:
    FileChangeWatch() = default;
    ~FileChangeWatch();
    FileChangeWatch(const FileChangeWatch&) = delete;
    FileChangeWatch& operator=(const FileChangeWatch&) = delete;

    // Watches directory for names starting with namePrefix; false when no
    // watch could be set (wait then sleeps).
    bool start(const std::string& directory, const std::string& namePrefix);
    // Waits at most millis ms; true as soon as a watched name changed (or
    // the system lost track of changes).
    bool wait(uint32_t millis);

private:
    int m_fd = -1;
    std::string m_prefix;
};

} // namespace Platform
