#include "frame.h"

#include "wirecomm.h"

#include <cstdio>

namespace wc {

void putU32(unsigned char* p, uint32_t v)
{
    p[0] = static_cast<unsigned char>(v >> 24);
    p[1] = static_cast<unsigned char>(v >> 16);
    p[2] = static_cast<unsigned char>(v >> 8);
    p[3] = static_cast<unsigned char>(v);
}

uint32_t getU32(const unsigned char* p)
{
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}

void putU16(unsigned char* p, uint16_t v)
{
    p[0] = static_cast<unsigned char>(v >> 8);
    p[1] = static_cast<unsigned char>(v);
}

uint16_t getU16(const unsigned char* p)
{
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
}

long maxPayload(uint8_t type)
{
    switch (type) {
    case kHello:
        return 2 + kKeySize;
    case kHelloReply:
        return 5 + kKeySize;
    case kAlloc:
        return kMaxAllocPayload;
    case kAllocReply:
        return 4;
    case kData:
        return WC_MAX_BLOCK - 1;
    case kDealloc:
    case kStop:
        return 0;
    default:
        return -1;
    }
}

FrameResult nextFrame(Connection& conn, ReceiveBuffer& inbuf, const Deadline& deadline, FrameView& frame,
                      std::string& why)
{
    FrameResult r = inbuf.fill(conn, kHeaderSize, deadline, why);
    if (r != FrameResult::Ok)
        return r;
    const unsigned char* h = inbuf.data();
    char text[128];
    if (h[0] != 'W' || h[1] != 'C') {
        std::snprintf(text, sizeof text, "bad frame magic 0x%02x%02x", h[0], h[1]);
        why = text;
        return FrameResult::Malformed;
    }
    long limit = maxPayload(h[2]);
    if (limit < 0) {
        std::snprintf(text, sizeof text, "unknown frame type 0x%02x", h[2]);
        why = text;
        return FrameResult::Malformed;
    }
    uint8_t allowedFlags = h[2] == kData ? kFlagHandOver : 0;
    if ((h[3] & ~allowedFlags) != 0) {
        std::snprintf(text, sizeof text, "bad flags 0x%02x in frame type 0x%02x", h[3], h[2]);
        why = text;
        return FrameResult::Malformed;
    }
    uint32_t length = getU32(h + 4);
    if (length > static_cast<uint32_t>(limit)) {
        std::snprintf(text, sizeof text, "frame type 0x%02x length %lu over the limit %ld", h[2],
                      static_cast<unsigned long>(length), limit);
        why = text;
        return FrameResult::Malformed;
    }
    r = inbuf.fill(conn, kHeaderSize + length, deadline, why);
    if (r == FrameResult::Closed)
        r = FrameResult::Truncated; // the header had arrived
    if (r != FrameResult::Ok)
        return r;
    const unsigned char* p = inbuf.data(); // the fill may have moved the bytes
    frame.type = p[2];
    frame.flags = p[3];
    frame.payload = p + kHeaderSize;
    frame.length = length;
    inbuf.consume(kHeaderSize + length);
    return FrameResult::Ok;
}

FrameResult readFrame(Connection& conn, ReceiveBuffer& inbuf, const Deadline& deadline, Frame& frame, std::string& why)
{
    FrameView view;
    FrameResult r = nextFrame(conn, inbuf, deadline, view, why);
    if (r != FrameResult::Ok)
        return r;
    frame.type = view.type;
    frame.flags = view.flags;
    frame.payload.assign(view.payload, view.payload + view.length);
    if (view.type == kAlloc) {
        // the allocation carries the password: no copy stays in the buffer
        OPENSSL_cleanse(const_cast<unsigned char*>(view.payload), view.length);
    }
    return FrameResult::Ok;
}

Io writeFrame(Connection& conn, uint8_t type, uint8_t flags, const unsigned char* payload, size_t length,
              const Deadline& deadline)
{
    std::vector<unsigned char> out(kHeaderSize + length);
    out[0] = 'W';
    out[1] = 'C';
    out[2] = type;
    out[3] = flags;
    putU32(out.data() + 4, static_cast<uint32_t>(length));
    for (size_t i = 0; i < length; ++i)
        out[kHeaderSize + i] = payload[i];
    Io io = conn.writeAll(out.data(), out.size(), deadline);
    if (type == kAlloc) {
        // the allocation carries the password (encrypted or inside TLS)
        OPENSSL_cleanse(out.data(), out.size());
    }
    return io;
}

} // namespace wc
