#include "trash.h"

#include "elog.h"
#include "platform/platform.h"

#include <cstdio>

Trash* g_pTrash = nullptr;

namespace {
// A file that cannot be removed is tried again every 125 ms for this long.
const uint64_t kRetryWindowMillis = 1000;
const uint32_t kRetryPauseMillis = 125;
} // namespace

Trash::Trash() = default;

Trash::~Trash()
{
    std::string path;
    while (TakeFirst(path))
        DeleteFile(path);
}

void Trash::Register(const std::string& path)
{
    Trash* trash = g_pTrash;
    if (trash == nullptr) {
        ELOG(1, 2, 140, "TRASH: no registry, file %s will not be deleted\n", path.c_str());
        return;
    }
    ELock lock(&trash->m_registerLock);
    trash->Add(path);
    ELOG(1, 4, 140, "TRASH: New file created %s\n", path.c_str());
}

size_t Trash::GetCount()
{
    ELock lock(&m_listLock);
    return m_vecPaths.size();
}

void Trash::Add(const std::string& path)
{
    ELock lock(&m_listLock);
    m_vecPaths.push_back(path);
}

bool Trash::TakeFirst(std::string& path)
{
    ELock lock(&m_listLock);
    if (m_vecPaths.empty())
        return false;
    path = m_vecPaths.front();
    m_vecPaths.erase(m_vecPaths.begin());
    return true;
}

void Trash::DeleteFile(const std::string& path)
{
    const char* name = path.c_str();
    FILE* file = std::fopen(name, "rb");
    if (file == nullptr) {
        ELOG(1, 4, 140, "TRASH: File %s can't be deleted, probably doesn't exist yet (OK)\n", name);
        return;
    }
    std::fclose(file);
    // Only regular files are deleted: a directory (the database path when no
    // database name is configured) or a device stays where it is.
    if (!Platform::isRegularFile(path)) {
        ELOG(1, 4, 140, "TRASH: %s is not a regular file and is not deleted\n", name);
        return;
    }
    const uint64_t start = Platform::monotonicMillis();
    for (;;) {
        if (std::remove(name) == 0) {
            ELOG(1, 4, 140, "TRASH: File %s has been deleted\n", name);
            return;
        }
        if (Platform::monotonicMillis() - start > kRetryWindowMillis) {
            ELOG(1, 4, 140, "TRASH: File %s can't be deleted, probably is in use\n", name);
            return;
        }
        Platform::sleepMillis(kRetryPauseMillis);
    }
}
