#include "task.h"

#include "elog.h"
#include "platform/platform.h"

#include <memory>
#include <system_error>

void EMutex::Lock()
{
    m_wrapper.m_mutex.lock();
}

void EMutex::Unlock()
{
    m_wrapper.m_mutex.unlock();
}

ELock::ELock(EMutex* mutex) : m_pMutex(mutex)
{
    m_pMutex->Lock();
}

ELock::~ELock()
{
    m_pMutex->Unlock();
}

namespace {
// The block handed to the new thread: entry and argument.
struct TaskStart {
    Task::EntryFunction entry;
    void* arg;
};

void Trampoline(TaskStart* start)
{
    std::unique_ptr<TaskStart> block(start);
    block->entry(block->arg);
}
} // namespace

Task::~Task()
{
    if (m_bStarted && m_thread.joinable()) {
        // Destroyed by its own thread: joining would deadlock (and throwing
        // from a destructor ends the process); let the thread run out instead.
        if (m_thread.get_id() == std::this_thread::get_id())
            m_thread.detach();
        else
            m_thread.join();
    }
    m_bStarted = false;
}

bool Task::CreateTask(EntryFunction entry, const char* /*name*/, void* arg)
{
    if (m_bStarted)
        return false;
    m_pArg = arg;
    TaskStart* block = new TaskStart{entry, arg};
    try {
        m_thread = std::thread(Trampoline, block);
    } catch (const std::system_error& e) {
        delete block;
        ELOG(1, 1, 100, "CreateTask failed RC=%s\n", e.what());
        m_iError = e.code().value();
        return false;
    }
    m_bStarted = true;
    return true;
}

void Task::WaitForEnd()
{
    Sleep(100);
    if (!m_thread.joinable())
        throw std::system_error(std::make_error_code(std::errc::invalid_argument), "Task::WaitForEnd: no thread");
    if (m_thread.get_id() == std::this_thread::get_id())
        throw std::system_error(std::make_error_code(std::errc::resource_deadlock_would_occur),
                                "Task::WaitForEnd: called from the task itself");
    m_thread.join();
}

void Task::Sleep(uint32_t millis)
{
    Platform::sleepMillis(millis);
}
