#pragma once
// Frames of the conversation protocol: an 8-byte header ('W', 'C', type,
// flags, payload length as unsigned 32-bit big-endian) and the payload.

#include "connection.h"
#include "receivebuffer.h"

#include <cstdint>
#include <string>
#include <vector>

namespace wc {

enum FrameType : uint8_t {
    kHello = 0x01,      // PC -> host: version, crypt mode [, X25519 public key]
    kHelloReply = 0x02, // host -> PC: version, rc [, X25519 public key]
    kAlloc = 0x03,      // PC -> host: allocation request
    kAllocReply = 0x04, // host -> PC: rc
    kData = 0x10,       // a block; flag bit 0 = hand-over; empty = ACK
    kDealloc = 0x11,    // normal end of the conversation
    kStop = 0x12,       // abnormal end of the conversation
};

const uint8_t kFlagHandOver = 0x01;
const size_t kHeaderSize = 8;
const uint8_t kProtocolVersion = 1;
const size_t kKeySize = 32;   // X25519 public key
const size_t kNonceSize = 12; // AES-GCM nonce
const size_t kTagSize = 16;   // AES-GCM tag
const size_t kMaxAllocPayload = 1024;

// Largest payload a frame of this type may carry; -1 for an unknown type.
long maxPayload(uint8_t type);

struct Frame {
    uint8_t type = 0;
    uint8_t flags = 0;
    std::vector<unsigned char> payload;
};

enum class FrameResult {
    Ok,
    Timeout,   // nothing complete within the deadline; partial input kept
    Closed,    // the peer closed the connection between frames
    Truncated, // the peer closed the connection inside a frame
    Malformed, // bad magic, unknown type, bad flags or a length over the limit
    Failed,    // socket failure
    TlsFailed, // TLS protocol failure
};

// A frame taken out of a receive buffer: the payload stays in the buffer
// and is valid until its next fill.
struct FrameView {
    uint8_t type = 0;
    uint8_t flags = 0;
    const unsigned char* payload = nullptr;
    size_t length = 0;
};

// Takes the next frame out of inbuf, reading the connection when the frame
// has not arrived whole. The header is checked before anything of the
// payload is used, and reading never waits for more than the current frame,
// so an oversized or malformed length is refused without reading its data;
// bytes beyond the frame that arrived with it stay in inbuf. A deadline that
// passes in the middle of a frame keeps what has arrived for the next call.
FrameResult nextFrame(Connection& conn, ReceiveBuffer& inbuf, const Deadline& deadline, FrameView& frame,
                      std::string& why);

// The same, with the payload copied into frame (the allocation steps).
FrameResult readFrame(Connection& conn, ReceiveBuffer& inbuf, const Deadline& deadline, Frame& frame, std::string& why);

// Writes one frame as one piece.
Io writeFrame(Connection& conn, uint8_t type, uint8_t flags, const unsigned char* payload, size_t length,
              const Deadline& deadline);

void putU32(unsigned char* p, uint32_t v);
uint32_t getU32(const unsigned char* p);
void putU16(unsigned char* p, uint16_t v);
uint16_t getU16(const unsigned char* p);

} // namespace wc
