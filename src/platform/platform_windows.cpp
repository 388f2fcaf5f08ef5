// The platform layer on Windows (the portable part is in platform.cpp).
#if defined(_WIN32)

#include "platform/platform.h"

#include <csignal>

#include <direct.h>
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <sys/stat.h>
#include <windows.h>

namespace Platform {

void localTime(std::time_t t, std::tm& out)
{
    localtime_s(&out, &t);
}

int processId()
{
    return static_cast<int>(GetCurrentProcessId());
}

std::string hostName()
{
    char buf[256] = {0};
    DWORD size = sizeof(buf);
    if (!GetComputerNameExA(ComputerNameDnsHostname, buf, &size) || buf[0] == '\0')
        return "unknown";
    return buf;
}

// Directories and files get the default access of their parent folder: on
// Windows that is the user's own profile or what the administrator granted,
// and there is no umask to take bits away.
bool makeDir(const std::string& path)
{
    if (_mkdir(path.c_str()) == 0)
        return true;
    return isDirectory(path);
}

bool isSymlink(const std::string& path)
{
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

std::FILE* openPrivateFile(const std::string& path, bool exclusive, bool append, bool text)
{
    // Never through a link (a junction or symbolic link is a reparse point).
    if (isSymlink(path))
        return nullptr;
    int flags = _O_WRONLY | _O_CREAT | _O_NOINHERIT | (text ? _O_TEXT : _O_BINARY);
    flags |= exclusive ? _O_EXCL : (append ? _O_APPEND : _O_TRUNC);
    const int fd = _open(path.c_str(), flags, _S_IREAD | _S_IWRITE);
    if (fd < 0)
        return nullptr;
    std::FILE* file = _fdopen(fd, append ? (text ? "a" : "ab") : (text ? "w" : "wb"));
    if (file == nullptr)
        _close(fd);
    return file;
}

// The lock file is opened without sharing the right to delete it, so while
// anyone has it open it stays the file under that name: a holder's removal
// on unlock fails while the next holder has it open, and nobody can lock a
// file that has gone from the directory.
int lockFile(const std::string& path)
{
    if (isSymlink(path))
        return -2;
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_SHARING_VIOLATION ? -1 : -2;
    OVERLAPPED whole = {};
    if (!LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD, MAXDWORD, &whole)) {
        CloseHandle(h);
        return -1;
    }
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_RDWR);
    if (fd < 0) {
        CloseHandle(h);
        return -2;
    }
    return fd;
}

void unlockFile(int handle, const std::string& path)
{
    if (handle < 0)
        return;
    HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(handle));
    OVERLAPPED whole = {};
    UnlockFileEx(h, 0, MAXDWORD, MAXDWORD, &whole);
    _close(handle);
    // Fails harmlessly when the next holder has opened it already.
    DeleteFileA(path.c_str());
}

// Windows keeps other users' processes out; there is no dump switch to set.
void setNotDumpable()
{
}

namespace {
std::atomic<int32_t>* g_pStopFlag = nullptr;
} // namespace

BOOL WINAPI consoleControlHandler(DWORD event)
{
    std::atomic<int32_t>* flag = g_pStopFlag;
    if (flag == nullptr)
        return FALSE;
    switch (event) {
    case CTRL_C_EVENT:
        flag->store(SIGINT);
        return TRUE;
    case CTRL_BREAK_EVENT:
        flag->store(SIGBREAK);
        return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        // Windows ends the process when this handler returns (or after
        // about five seconds): wait here so the run can end in order; the
        // process's own exit ends this thread earlier.
        flag->store(SIGTERM);
        Sleep(10000);
        return TRUE;
    default:
        return FALSE;
    }
}

void watchStopSignals(std::atomic<int32_t>* flag)
{
    g_pStopFlag = flag;
    SetConsoleCtrlHandler(&consoleControlHandler, flag != nullptr ? TRUE : FALSE);
}

bool pathExists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool isDirectory(const std::string& path)
{
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool isRegularFile(const std::string& path)
{
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES &&
           (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0;
}

std::string currentDir()
{
    char buf[MAX_PATH * 4];
    const DWORD n = GetCurrentDirectoryA(sizeof(buf), buf);
    if (n == 0 || n >= sizeof(buf))
        return std::string();
    return std::string(buf, n);
}

// Windows tells a change in a directory but not which file: every change of
// the directory wakes the waiter (downloads as well), which then looks at
// the database and, finding nothing new, waits again.
FileChangeWatch::~FileChangeWatch()
{
    if (m_change != nullptr)
        FindCloseChangeNotification(m_change);
}

bool FileChangeWatch::start(const std::string& directory, const std::string& namePrefix)
{
    if (m_change != nullptr)
        FindCloseChangeNotification(m_change);
    m_change = nullptr;
    m_prefix = namePrefix;
    HANDLE h = FindFirstChangeNotificationA(directory.c_str(), FALSE,
                                            FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_SIZE |
                                                FILE_NOTIFY_CHANGE_LAST_WRITE);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    m_change = h;
    return true;
}

bool FileChangeWatch::wait(uint32_t millis)
{
    if (m_change == nullptr) {
        sleepMillis(millis);
        return false;
    }
    if (WaitForSingleObject(m_change, millis) != WAIT_OBJECT_0)
        return false;
    FindNextChangeNotification(m_change);
    return true;
}

} // namespace Platform

#endif // _WIN32
