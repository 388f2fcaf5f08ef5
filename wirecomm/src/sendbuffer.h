#pragma once
// Outgoing frames of one side of a conversation, collected while that side
// holds the turn and written in one piece. The caller decides when to write
// (the turn passes, a receive follows, an end frame, an explicit flush);
// the buffer itself says when it is full or has held a block long enough.

#include "connection.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace wc {

class SendBuffer {
public:
    // Writing starts once this many bytes are waiting (a block of up to
    // 32007 frame bytes may go over it).
    static const size_t kFlushAt = 64 * 1024;
    // A block waits at most this long when more blocks follow it.
    static const int64_t kHoldMs = 50;

    // Appends one frame: the 8-byte header and the payload.
    void appendFrame(uint8_t type, uint8_t flags, const unsigned char* payload, size_t length);
    // Appends bytes outside any frame (fault-injection writes).
    void appendRaw(const unsigned char* bytes, size_t count);
    // True when the waiting bytes should be written now even though the
    // turn stays: the buffer is full, or its first block has waited kHoldMs.
    bool due() const;
    bool empty() const { return m_bytes.empty(); }
    size_t size() const { return m_bytes.size(); }
    // Writes everything waiting; the buffer is empty afterwards, whatever
    // the result (a failed write ends the conversation).
    Io flush(Connection& conn, const Deadline& deadline);
    // Forgets what is waiting (the conversation is over).
    void clear();

private:
    void noteFirst();

    std::vector<unsigned char> m_bytes;
    int64_t m_firstAt = 0; // when the oldest waiting block came in
};

} // namespace wc
