#include "platform/platform.h"

#include <chrono>
#include <ctime>
#include <thread>

#include <csignal>
#include <cstring>

#if !defined(_WIN32)
#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>
#if defined(__linux__)
#include <sys/inotify.h>
#endif
#endif

namespace Platform {

uint64_t monotonicMillis()
{
    using namespace std::chrono;
    return static_cast<uint64_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

uint64_t coarseMillis()
{
#if defined(CLOCK_MONOTONIC_COARSE)
    // Read from the kernel's last tick, without reading the hardware clock.
    struct timespec ts;
    if (clock_gettime(CLOCK_MONOTONIC_COARSE, &ts) == 0)
        return static_cast<uint64_t>(ts.tv_sec) * 1000ULL + static_cast<uint64_t>(ts.tv_nsec) / 1000000ULL;
#endif
    return monotonicMillis();
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

void sleepMillis(uint32_t millis)
{
    // sleep_until on the steady clock sleeps again when woken early.
    const auto wake = std::chrono::steady_clock::now() + std::chrono::milliseconds(millis);
    while (std::chrono::steady_clock::now() < wake)
        std::this_thread::sleep_until(wake);
}

// The rest differs on Windows: platform_windows.cpp.
#if !defined(_WIN32)

void localTime(std::time_t t, std::tm& out)
{
    localtime_r(&t, &out);
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

std::FILE* openPrivateFile(const std::string& path, bool exclusive, bool append, bool)
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
    action.sa_handler = flag != nullptr ? &StopSignalHandler : SIG_DFL;
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

FileChangeWatch::~FileChangeWatch()
{
    if (m_fd >= 0)
        close(m_fd);
}

#if defined(__linux__)

namespace {

// Whether the event marks a commit to the database named prefix. A rollback
// journal is closed and removed at the commit point; a WAL is written up to
// its commit record (its readers never wait for the writer). Writes to the
// database file or its journal come before the commit, while the writer
// still holds its lock: waking for those would only find it busy.
bool Committed(const struct inotify_event* event, const std::string& prefix)
{
    if (event->len == 0 || std::strncmp(event->name, prefix.c_str(), prefix.size()) != 0)
        return false;
    if ((event->mask & (IN_CLOSE_WRITE | IN_DELETE | IN_MOVED_TO)) != 0)
        return true;
    const size_t length = std::strlen(event->name);
    return (event->mask & IN_MODIFY) != 0 && length >= 4 && std::strcmp(event->name + length - 4, "-wal") == 0;
}

} // namespace

bool FileChangeWatch::start(const std::string& directory, const std::string& namePrefix)
{
    if (m_fd >= 0)
        close(m_fd);
    m_prefix = namePrefix;
    m_fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_fd < 0)
        return false;
    const uint32_t mask = IN_MODIFY | IN_CLOSE_WRITE | IN_DELETE | IN_MOVED_TO;
    if (inotify_add_watch(m_fd, directory.c_str(), mask) < 0) {
        close(m_fd);
        m_fd = -1;
        return false;
    }
    return true;
}

bool FileChangeWatch::wait(uint32_t millis)
{
    if (m_fd < 0) {
        sleepMillis(millis);
        return false;
    }
    const uint64_t end = monotonicMillis() + millis;
    alignas(struct inotify_event) char events[4096];
    for (;;) {
        const uint64_t now = monotonicMillis();
        const int left = now >= end ? 0 : static_cast<int>(end - now);
        struct pollfd pfd = {m_fd, POLLIN, 0};
        const int ready = poll(&pfd, 1, left);
        if (ready <= 0)
            return false;
        bool changed = false;
        // Every event read, so that the next wait starts afresh; the other
        // files of the directory (downloads) are not ours to wake for.
        for (;;) {
            const ssize_t got = read(m_fd, events, sizeof(events));
            if (got <= 0)
                break;
            for (ssize_t pos = 0; pos < got;) {
                const struct inotify_event* event = reinterpret_cast<const struct inotify_event*>(events + pos);
                if ((event->mask & IN_Q_OVERFLOW) != 0 || Committed(event, m_prefix))
                    changed = true;
                pos += static_cast<ssize_t>(sizeof(struct inotify_event) + event->len);
            }
        }
        if (changed)
            return true;
        if (left == 0)
            return false;
    }
}

#else

// No change notification here: the caller's waits are bounded, so sleeping
// keeps it correct, only slower to notice.
bool FileChangeWatch::start(const std::string&, const std::string& namePrefix)
{
    m_prefix = namePrefix;
    return false;
}

bool FileChangeWatch::wait(uint32_t millis)
{
    sleepMillis(millis);
    return false;
}

#endif

#endif // !_WIN32

} // namespace Platform
