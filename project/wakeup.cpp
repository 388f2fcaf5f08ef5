#include "wakeup.h"

#include <chrono>

void Wakeup::Notify()
{
    {
        // Under the lock, so that a waiter between its test and its wait
        // cannot miss it.
        std::lock_guard<std::mutex> lock(m_mutex);
        m_iGeneration.fetch_add(1);
    }
    m_changed.notify_all();
}

bool Wakeup::WaitChange(uint64_t iSeen, uint32_t iMillis)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(iMillis),
                              [this, iSeen] { return m_iGeneration.load() != iSeen; });
}
