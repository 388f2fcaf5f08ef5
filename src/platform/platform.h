#pragma once
// The small layer over the operating system. Everything that differs between
// Windows and POSIX (clock, host name, process id, directories, sleeping) is
// reached through these functions, so a Windows build only replaces platform.cpp.

#include <atomic>
#include <cstdint>
#include <cstdio>
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
// Creates one directory for the owner only (0700 whatever the umask); true
// when it was created or already exists as a directory.
bool makeDir(const std::string& path);
// True when the path itself is a symbolic link.
bool isSymlink(const std::string& path);
// Opens a file for writing for the owner only (0600 whatever the umask),
// never through a symbolic link. exclusive: the file must not exist yet;
// otherwise append or truncate. text: text mode, where the platform has one
// (Windows: LF written as CR LF); otherwise bytes as written. Null on failure.
std::FILE* openPrivateFile(const std::string& path, bool exclusive, bool append, bool text = false);
// An exclusive lock on the file at path (created 0600 when missing, never
// through a symbolic link), held until unlockFile or the end of the process.
// The handle (>= 0), -1 when another process holds the lock, -2 when the
// file cannot be opened.
int lockFile(const std::string& path);
// Removes the lock file while the lock is still held, then releases it.
void unlockFile(int handle, const std::string& path);
// Keeps the process out of core dumps and debugger attachment by other
// processes of the same user (it holds a password).
void setNotDumpable();
// SIGTERM, SIGINT and SIGHUP (Windows: Ctrl-C, Ctrl-Break, the console
// closed, logoff, shutdown) store their signal number into *flag (an
// async-signal-safe store) instead of ending the process; null gives them
// back their default handling.
void watchStopSignals(std::atomic<int32_t>* flag);
#if defined(_WIN32)
// The console control handler watchStopSignals installs (a Windows
// PHANDLER_ROUTINE: event CTRL_C_EVENT..., true when it took the event),
// reachable so a test can hand it an event as Windows does.
int __stdcall consoleControlHandler(unsigned long event);
#endif
// True when the path exists (file or directory).
bool pathExists(const std::string& path);
// True when the path is a directory.
bool isDirectory(const std::string& path);
// True when the path is a regular file.
bool isRegularFile(const std::string& path);
// Current working directory, empty on failure.
std::string currentDir();
// The native path separator.
#if defined(_WIN32)
constexpr char pathSeparator = '\\';
#else
constexpr char pathSeparator = '/';
#endif

// True when path does not depend on the current directory: on POSIX it
// starts with "/"; on Windows it starts with a drive ("C:"), a backslash (the
// current drive's root) or a slash.
inline bool isAbsolutePath(const char* path)
{
    if (path == nullptr)
        return false;
#if defined(_WIN32)
    const bool drive = ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z')) && path[1] == ':';
    return drive || path[0] == '\\' || path[0] == '/';
#else
    return path[0] == '/';
#endif
}

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
#if defined(_WIN32)
    void* m_change = nullptr; // the directory's change notification handle
#endif
    std::string m_prefix;
};

} // namespace Platform
