#pragma once
// Wakes the threads that wait for a change of the engine's state (the turn,
// the engine flags, a commit of the front end) at once instead of at their
// next poll. A waiter notes the generation before it looks at the state and
// waits only while no change was announced since: a change between its look
// and its wait is never missed.

#include "cobject.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

class Wakeup : public CObject {
public:
    Wakeup() = default;
    ~Wakeup() override = default;
    Wakeup(const Wakeup&) = delete;
    Wakeup& operator=(const Wakeup&) = delete;

    // The number of changes announced so far.
    uint64_t Generation() const { return m_iGeneration.load(); }
    // Announces a change (after the state was changed) and wakes every waiter.
    void Notify();
    // Waits until a change after iSeen is announced, at most iMillis ms.
    // true when one was announced.
    bool WaitChange(uint64_t iSeen, uint32_t iMillis);

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::atomic<uint64_t> m_iGeneration{0};
};
