#include "receivebuffer.h"

#include "frame.h"

#include "wirecomm.h"

#include <cstring>

namespace wc {

FrameResult ReceiveBuffer::fill(Connection& conn, size_t want, const Deadline& deadline, std::string& why)
{
    while (size() < want) {
        if (m_bytes.empty())
            m_bytes.resize(kReadChunk + kHeaderSize + WC_MAX_BLOCK);
        if (m_begin > 0) {
            // What is left is a part of one frame: move it to the front, so
            // that the read has the whole chunk behind it.
            if (m_end > m_begin)
                std::memmove(m_bytes.data(), m_bytes.data() + m_begin, m_end - m_begin);
            m_end -= m_begin;
            m_begin = 0;
        }
        size_t got = 0;
        Io io = conn.readSome(m_bytes.data() + m_end, m_bytes.size() - m_end, got, deadline);
        m_end += got;
        switch (io) {
        case Io::Ok:
            break;
        case Io::Timeout:
            return FrameResult::Timeout;
        case Io::Eof:
            why = "connection closed by the peer";
            return size() == 0 ? FrameResult::Closed : FrameResult::Truncated;
        case Io::Error:
            why = conn.m_strError;
            return FrameResult::Failed;
        case Io::Protocol:
            why = conn.m_strError;
            return FrameResult::TlsFailed;
        }
    }
    return FrameResult::Ok;
}

bool ReceiveBuffer::holdsFrame() const
{
    size_t n = size();
    return n >= kHeaderSize && n - kHeaderSize >= getU32(m_bytes.data() + m_begin + 4);
}

void ReceiveBuffer::consume(size_t n)
{
    m_begin += n;
    if (m_begin >= m_end)
        m_begin = m_end = 0;
}

void ReceiveBuffer::clear()
{
    std::vector<unsigned char>().swap(m_bytes);
    m_begin = m_end = 0;
}

} // namespace wc
