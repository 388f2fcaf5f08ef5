#include "sendbuffer.h"

#include "frame.h"

#include "wirecomm.h"

#include <cstring>
#include <ctime>

namespace wc {

namespace {
// The hold rule needs milliseconds, not more: the coarse clock costs a
// fraction of the precise one, and it is read for every block.
int64_t coarseMs()
{
#if defined(CLOCK_MONOTONIC_COARSE)
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC_COARSE, &ts);
    return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
#else
    return monotonicMs(); // Windows: GetTickCount64 underneath, as cheap
#endif
}
} // namespace

void SendBuffer::noteFirst()
{
    if (m_bytes.empty()) {
        m_firstAt = coarseMs();
        if (m_bytes.capacity() == 0)
            m_bytes.reserve(kFlushAt + kHeaderSize + WC_MAX_BLOCK);
    }
}

void SendBuffer::appendFrame(uint8_t type, uint8_t flags, const unsigned char* payload, size_t length)
{
    noteFirst();
    size_t at = m_bytes.size();
    m_bytes.resize(at + kHeaderSize + length);
    unsigned char* p = m_bytes.data() + at;
    p[0] = 'W';
    p[1] = 'C';
    p[2] = type;
    p[3] = flags;
    putU32(p + 4, static_cast<uint32_t>(length));
    if (length > 0)
        std::memcpy(p + kHeaderSize, payload, length);
}

void SendBuffer::appendRaw(const unsigned char* bytes, size_t count)
{
    noteFirst();
    m_bytes.insert(m_bytes.end(), bytes, bytes + count);
}

bool SendBuffer::due() const
{
    return m_bytes.size() >= kFlushAt || (!m_bytes.empty() && coarseMs() - m_firstAt >= kHoldMs);
}

Io SendBuffer::flush(Connection& conn, const Deadline& deadline)
{
    if (m_bytes.empty())
        return Io::Ok;
    Io io = conn.writeAll(m_bytes.data(), m_bytes.size(), deadline);
    m_bytes.clear();
    return io;
}

void SendBuffer::clear()
{
    m_bytes.clear();
}

} // namespace wc
