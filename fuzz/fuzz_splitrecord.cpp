// The read thread's record splitter over blocks (a length byte, then the bytes): every record has
// an "HP" header and a payload inside the buffer, no more is consumed than arrived, and what stays
// is nothing or an incomplete header.
#include "fuzzcheck.h"
#include "ftpline.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<uint8_t> buffer;
    size_t pos = 0;
    while (pos < size) {
        size_t length = data[pos++];
        if (length > size - pos)
            length = size - pos;
        buffer.insert(buffer.end(), data + pos, data + pos + length);
        pos += length;

        const std::vector<uint8_t> before = buffer;
        const uint8_t* begin = buffer.data();
        const uint8_t* end = buffer.data() + buffer.size();
        size_t recordBytes = 0;
        FTPLine::SplitBlock(buffer, [&](const char* prefix, uint8_t* payload, int32_t n) {
            if (std::strlen(prefix) > 10)
                fail("prefix longer than ten bytes");
            if (prefix[0] != 'H' || prefix[1] != 'P' || prefix[9] != ' ')
                fail("record without an item header");
            if (n < 0 || payload < begin || payload + n > end)
                fail("payload outside the receive buffer");
            if (std::memcmp(payload - 10, prefix, 10) != 0)
                fail("prefix is not the ten bytes before the payload");
            recordBytes += 10 + static_cast<size_t>(n);
        });
        const size_t consumed = before.size() - buffer.size();
        if (recordBytes > consumed)
            fail("records longer than the bytes consumed");
        if (!buffer.empty() && std::memcmp(before.data() + consumed, buffer.data(), buffer.size()) != 0)
            fail("the rest of the buffer is not its tail");
        if (!buffer.empty() && (buffer[0] != 'H' || buffer.size() >= 10))
            fail("a complete header or a stray byte stays in the buffer");
        const SplitStep step = FTPLine::SplitRecord(buffer.data(), buffer.size());
        if (buffer.empty() ? step.m_result != SplitResult::Empty : step.m_result != SplitResult::Wait)
            fail("the rest does not wait for more bytes");
    }
    return 0;
}
