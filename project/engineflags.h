#pragma once
// The flags of the transfer engine that the items raise and lower. The engine
// owns one EngineFlags object; the item registry and every item reach it
// through a pointer. Each flag is written by one thread and read by the other,
// hence atomic.

#include <atomic>
#include <cstdint>

struct EngineFlags {
    // Set while an exchange with the host is open: no new request is taken,
    // the outgoing queue is only drained.
    std::atomic<int32_t> m_iExchange{0};
    // The read thread receives from the host only while this is set.
    std::atomic<int32_t> m_iReadEnabled{0};
    // Queued send records are sent only while this is set.
    std::atomic<int32_t> m_iSendEnabled{1};
    // Set by the options item: uploads and downloads travel untranslated.
    std::atomic<int32_t> m_iBinaryMode{0};
    // Set by the close item: both engine threads leave their loops.
    std::atomic<int32_t> m_iCloseRequest{0};
};
