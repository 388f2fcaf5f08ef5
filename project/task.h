#pragma once
// Threads and locks of the program: a non-recursive mutex, the scoped lock
// that holds it, and a thread that runs one entry function with one argument.

#include "cobject.h"

#include <cstdint>
#include <mutex>
#include <thread>

// Holds the platform mutex itself.
class EMutexWrapper : public CObject {
public:
    EMutexWrapper() = default;
    ~EMutexWrapper() override = default;
    std::mutex m_mutex;
};

// Non-recursive mutex; taken only through ELock.
class EMutex : public CObject {
public:
    EMutex() = default;
    ~EMutex() override = default;
    EMutex(const EMutex&) = delete;
    EMutex& operator=(const EMutex&) = delete;

private:
    friend class ELock;
    void Lock();
    void Unlock();
    EMutexWrapper m_wrapper;
};

// Holds an EMutex from construction to destruction. A lock failure of the
// platform is thrown as std::system_error.
class ELock : public CObject {
public:
    explicit ELock(EMutex* mutex);
    ~ELock() override;
    ELock(const ELock&) = delete;
    ELock& operator=(const ELock&) = delete;

private:
    EMutex* m_pMutex;
};

// A thread that runs entry(argument) once.
class Task : public CObject {
public:
    typedef void (*EntryFunction)(void* arg);

    Task() = default;
    // Joins a thread that is still joinable (a Task destroyed by its own
    // thread lets that thread run out instead of deadlocking).
    ~Task() override;
    Task(const Task&) = delete;
    Task& operator=(const Task&) = delete;

    // Starts the thread; false when already started or when the thread cannot
    // be created (then m_iError holds the system error code).
    bool CreateTask(EntryFunction entry, const char* name, void* arg);
    // Sleeps 100 ms, then joins the thread. Throws std::system_error when
    // there is no thread, when called from the thread itself or when the join fails.
    void WaitForEnd();
    // Suspends the calling thread for the given milliseconds.
    static void Sleep(uint32_t millis);

    bool m_bStarted = false;
    int32_t m_iError = 0;
    void* m_pArg = nullptr;

private:
    std::thread m_thread;
};
