#pragma once
// The registry of the run's temporary files (the request database, the
// downloads): each is registered when it is created and deleted when the
// registry is destroyed at the end of the run.

#include "cobject.h"
#include "task.h"

#include <string>
#include <vector>

class Trash : public CObject {
public:
    Trash();
    // Deletes every registered regular file, in registration order.
    ~Trash() override;
    Trash(const Trash&) = delete;
    Trash& operator=(const Trash&) = delete;

    // Registers a path with the process-wide registry (g_pTrash); a path may
    // be registered more than once. Without a registry the path is only logged.
    static void Register(const std::string& path);

    // Number of paths waiting for deletion.
    size_t GetCount();

private:
    void Add(const std::string& path);
    bool TakeFirst(std::string& path);
    static void DeleteFile(const std::string& path);

    EMutex m_registerLock;
    std::vector<std::string> m_vecPaths;
    EMutex m_listLock;
};

// The one registry of a run, published by main.
extern Trash* g_pTrash;
