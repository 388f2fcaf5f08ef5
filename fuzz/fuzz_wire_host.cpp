// The host side of the conversation library reading the input as the PC's bytes on a socket pair.
// First byte: bit 0 starts at the greeting or in an open conversation, bit 1 a 100-byte buffer;
// each hand-over is answered as the emulator does.
#include "fuzzcheck.h"
#include "host.cpp"

namespace {

void drain(int fd)
{
    unsigned char sink[4096];
    while (recv(fd, sink, sizeof sink, MSG_DONTWAIT) > 0) {
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    traceToNowhere();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0 || size > 65536)
        return 0;
    const bool open = (data[0] & 1) != 0;
    const int32_t capacity = (data[0] & 2) ? 100 : WC_MAX_BLOCK;

    int sv[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, sv) != 0)
        fail("socketpair");
    int big = 1 << 20;
    setsockopt(sv[1], SOL_SOCKET, SO_SNDBUF, &big, sizeof big);
    if (!sendAll(sv[1], data + 1, size - 1))
        fail("cannot hand the input to the host");
    shutdown(sv[1], SHUT_WR);
    if (!prepareSocket(sv[0]))
        fail("prepareSocket");

    wch_conv* conv = new wch_conv();
    conv->conn.reset(new Connection(sv[0]));
    conv->state = open ? wch_conv::State::Open : wch_conv::State::Connected;

    if (!open) {
        int32_t rc = wch_handshake(conv, 2000);
        if (rc == CM_OK) {
            const wch_alloc_info* info = wch_conv_info(conv);
            if (std::strlen(info->symdest) > WCH_MAX_NAME || std::strlen(info->user) > WCH_MAX_NAME)
                fail("allocation fields over their limits");
            wch_allocate_reply(conv, CM_OK);
        }
        drain(sv[1]);
    }

    std::vector<unsigned char> buffer(static_cast<size_t>(capacity));
    for (int i = 0; i < 100000; ++i) {
        int32_t length = -1, handOver = -1;
        int32_t rc = wch_receive(conv, buffer.data(), capacity, &length, &handOver, 2000);
        if (rc == CM_PROGRAM_PARAMETER_CHECK)
            continue; // a block larger than the buffer: dropped, the conversation goes on
        if (rc != CM_OK)
            break;
        if (length < 0 || length > capacity || (handOver != 0 && handOver != 1))
            fail("received block out of bounds");
        if (handOver) {
            static const unsigned char kAnswer[] = {0xC8, 0xD7, 0xD9, 0xC5, 0xC1, 0xC4, 0xE8, 0x40, 0x40, 0x40};
            wch_send(conv, kAnswer, sizeof kAnswer, 0);
            wch_send_ack(conv);
            drain(sv[1]);
        }
    }
    wch_conv_free(conv);
    close(sv[1]);
    return 0;
}
