#pragma once
// Incoming bytes of one side of a conversation. The connection is read in
// large pieces (as much as has arrived, up to kReadChunk), and frames are
// taken out of the buffer one at a time; what belongs to the next frames
// waits here for the next receive.

#include "connection.h"

#include <cstddef>
#include <string>
#include <vector>

namespace wc {

enum class FrameResult;

class ReceiveBuffer {
public:
    // Largest read: room for this many bytes beyond the frame being taken.
    static const size_t kReadChunk = 64 * 1024;

    // Reads until at least want bytes are waiting (want is at most one
    // frame). Timeout keeps what has arrived; Closed: the peer closed with
    // nothing waiting; Truncated: it closed with a part of a frame waiting.
    FrameResult fill(Connection& conn, size_t want, const Deadline& deadline, std::string& why);
    size_t size() const { return m_end - m_begin; }
    // True when a whole frame (by its header's length) is waiting: taking
    // it needs no read, so no deadline.
    bool holdsFrame() const;
    // The waiting bytes; valid until the next fill.
    unsigned char* data() { return m_bytes.data() + m_begin; }
    // Drops the first n waiting bytes (a frame that has been taken).
    void consume(size_t n);
    // Forgets everything and gives the memory back.
    void clear();

private:
    std::vector<unsigned char> m_bytes;
    size_t m_begin = 0;
    size_t m_end = 0;
};

} // namespace wc
