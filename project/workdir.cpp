#include "workdir.h"

#include "configmodul.h"
#include "elog.h"

#include "platform/platform.h"

#include <cstdio>
#include <cstring>

namespace {
int g_iLockHandle = -1;
std::string g_strLockPath;
bool g_bCreatedDb = false;
} // namespace

WorkDir::Paths WorkDir::FromConfig()
{
    Paths paths;
    std::string value;
    ConfigValue("GLOBAL.TEMP_PATH", paths.directory);
    paths.bWorkDirSet = ConfigValue("GLOBAL.WORK_DIR", value);
    if (paths.bWorkDirSet)
        paths.directory += Platform::pathSeparator + value;
    paths.database = paths.directory;
    if (ConfigValue("SQLITE.DBNAME", value))
        paths.database += Platform::pathSeparator + value;
    return paths;
}

bool WorkDir::IsPlainFileName(const std::string& name)
{
    if (name.empty() || name == ".")
        return false;
    return name.find_first_of("/\\:") == std::string::npos && name.find("..") == std::string::npos;
}

bool WorkDir::IsSqliteOrEmpty(const std::string& path)
{
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
        return false;
    char header[16] = {0};
    const size_t got = std::fread(header, 1, sizeof header, file);
    std::fclose(file);
    return got == 0 || (got == sizeof header && std::memcmp(header, "SQLite format 3", 16) == 0);
}

bool WorkDir::Prepare(const std::string& directory, bool bCreate, const std::string& dbPath)
{
    if (!directory.empty()) {
        // A link would put the run's files wherever it points.
        if (Platform::isSymlink(directory)) {
            ELOG(1, 1, 120, "Work directory '%s' is a symbolic link: refused\n", directory.c_str());
            return false;
        }
        if (bCreate)
            Platform::makeDir(directory);
        if (!Platform::isDirectory(directory) || Platform::isSymlink(directory)) {
            ELOG(1, 1, 120, "Work directory '%s' can't be created\n", directory.c_str());
            return false;
        }
    }

    const std::string lockPath =
        (directory.empty() ? std::string(".") : directory) + Platform::pathSeparator + kLockName;
    const int handle = Platform::lockFile(lockPath);
    if (handle < 0) {
        ELOG(1, 1, 120,
             handle == -1 ? "Work directory '%s' is in use by another run: refused\n"
                          : "Work directory '%s': lock file can't be created\n",
             directory.c_str());
        return false;
    }
    g_iLockHandle = handle;
    g_strLockPath = lockPath;

    // A directory (no database name) is left to the engine, which finds no
    // database there.
    if (dbPath.empty() || Platform::isDirectory(dbPath))
        return true;
    if (Platform::isSymlink(dbPath) || (Platform::pathExists(dbPath) && !Platform::isRegularFile(dbPath))) {
        ELOG(1, 1, 120, "Database '%s' is not a regular file: refused\n", dbPath.c_str());
        return false;
    }
    if (Platform::pathExists(dbPath)) {
        if (!IsSqliteOrEmpty(dbPath)) {
            ELOG(1, 1, 120, "Database '%s' is not an SQLite database: refused and left alone\n", dbPath.c_str());
            return false;
        }
        return true;
    }
    std::FILE* file = Platform::openPrivateFile(dbPath, true, false);
    if (file == nullptr) {
        ELOG(1, 1, 120, "Database '%s' can't be created\n", dbPath.c_str());
        return false;
    }
    std::fclose(file);
    g_bCreatedDb = true;
    return true;
}

bool WorkDir::CreatedDatabase()
{
    return g_bCreatedDb;
}

void WorkDir::Release()
{
    Platform::unlockFile(g_iLockHandle, g_strLockPath);
    g_iLockHandle = -1;
    g_strLockPath.clear();
}
