#include "platform/platform.h"

#include <chrono>
#include <thread>

#include <csignal>

#include <fcntl.h>
#include <limits.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

namespace Platform {

uint64_t monotonicMillis()
{
    using namespace std::chrono;
    return static_cast<uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

uint64_t systemTime100ns()
{
    using namespace std::chrono;
    // Seconds between 1601-01-01 and 1970-01-01.
    const uint64_t epochDelta = 11644473600ULL;
    const auto sinceUnix = duration_cast<nanoseconds>(system_clock::now().time_since_epoch()).count();
    return epochDelta * 10000000ULL + static_cast<uint64_t>(sinceUnix / 100);
}

int64_t nowSeconds()
{
    return static_cast<int64_t>(std::time(nullptr));
}

void localTime(std::time_t t, std::tm& out)
{
    localtime_r(&t, &out);
}

void sleepMillis(uint32_t millis)
{
    // sleep_until on the steady clock sleeps again when woken early.
    const auto wake = std::chrono::steady_clock::now() + std::chrono::milliseconds(millis);
    while (std::chrono::steady_clock::now() < wake)
        std::this_thread::sleep_until(wake);
}

int processId()
{
    return static_cast<int>(getpid());
}

std::string hostName()
{
    char buf[HOST_NAME_MAX + 1] = {0};
    if (gethostname(buf, sizeof(buf) - 1) != 0 || buf[0] == '\0')
        return "unknown";
    return buf;
}

bool makeDir(const std::string& path)
{
    if (mkdir(path.c_str(), 0700) == 0) {
        // The umask may have taken more than the group and other bits.
        chmod(path.c_str(), 0700);
        return true;
    }
    return isDirectory(path);
}

bool isSymlink(const std::string& path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

std::FILE* openPrivateFile(const std::string& path, bool exclusive, bool append)
{
    int flags = O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC;
    flags |= exclusive ? O_EXCL : (append ? O_APPEND : O_TRUNC);
    const int fd = open(path.c_str(), flags, 0600);
    if (fd < 0)
        return nullptr;
    // An existing file (a log of an earlier run) becomes owner-only as well.
    fchmod(fd, 0600);
    std::FILE* file = fdopen(fd, append ? "a" : "w");
    if (file == nullptr)
        close(fd);
    return file;
}

int lockFile(const std::string& path)
{
    for (int attempt = 0; attempt < 3; ++attempt) {
        const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0)
            return -2;
        fchmod(fd, 0600);
        if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
            close(fd);
            return -1;
        }
        // The holder before us may have removed the file between our open
        // and our lock: then the lock is on a file nobody else will find.
        struct stat held, named;
        if (fstat(fd, &held) == 0 && lstat(path.c_str(), &named) == 0 && held.st_ino == named.st_ino &&
            held.st_dev == named.st_dev)
            return fd;
        close(fd);
    }
    return -1;
}

void unlockFile(int handle, const std::string& path)
{
    if (handle < 0)
        return;
    unlink(path.c_str());
    close(handle);
}

void setNotDumpable()
{
    prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
}

namespace {
std::atomic<int32_t>* g_pStopFlag = nullptr;

extern "C" void StopSignalHandler(int signal)
{
    std::atomic<int32_t>* flag = g_pStopFlag;
    if (flag != nullptr)
        flag->store(signal);
}
} // namespace

void watchStopSignals(std::atomic<int32_t>* flag)
{
    g_pStopFlag = flag;
    struct sigaction action {};
    action.sa_handler = &StopSignalHandler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGTERM, SIGINT, SIGHUP})
        sigaction(signal, &action, nullptr);
}

bool pathExists(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

bool isDirectory(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool isRegularFile(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string currentDir()
{
    char buf[PATH_MAX];
    if (getcwd(buf, sizeof(buf)) == nullptr)
        return std::string();
    return buf;
}

} // namespace Platform
