#include "platform/platform.h"

#include <chrono>
#include <thread>

#include <limits.h>
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
    if (mkdir(path.c_str(), 0777) == 0)
        return true;
    return isDirectory(path);
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
