// The PC side of the conversation library reading a fake host that sends the input after its first
// byte (the receive buffer size / 128) and ends its direction. Checks: a failed allocation never
// gives a code of the PC's own call; every block within the buffer, its flags consistent.
#include "fuzzcheck.h"
#include "wirecomm.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <unistd.h>

#include <thread>

namespace {

int g_listener = -1;
uint16_t g_port = 0;

// One connection: the bytes, the end of the sending direction, then read until the PC closes.
void fakeHost(const uint8_t* data, size_t size)
{
    struct pollfd p = {g_listener, POLLIN, 0};
    if (poll(&p, 1, 10000) <= 0)
        return; // the PC never connected (refused before connecting)
    int fd = accept(g_listener, nullptr, nullptr);
    if (fd < 0)
        return;
    struct timeval tv = {10, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    sendAll(fd, data, size);
    shutdown(fd, SHUT_WR);
    unsigned char sink[4096];
    while (recv(fd, sink, sizeof sink, 0) > 0) {
    }
    close(fd);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    traceToNowhere();
    g_listener = socket(AF_INET, SOCK_STREAM, 0);
    struct sockaddr_in a;
    std::memset(&a, 0, sizeof a);
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = 0;
    socklen_t len = sizeof a;
    if (g_listener < 0 || bind(g_listener, reinterpret_cast<struct sockaddr*>(&a), sizeof a) != 0 ||
        listen(g_listener, 16) != 0 || getsockname(g_listener, reinterpret_cast<struct sockaddr*>(&a), &len) != 0)
        fail("no listener on 127.0.0.1");
    g_port = ntohs(a.sin_port);
    cm_set_crypt_mode(1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0 || size > 65536)
        return 0;
    const int32_t requested =
        static_cast<int32_t>(data[0]) * 128 > WC_MAX_BLOCK ? 0 : static_cast<int32_t>(data[0]) * 128;
    std::thread host(fakeHost, data + 1, size - 1);

    unsigned char cid[WC_CID_SIZE];
    int32_t rc = 0;
    cm_init(cid, "VEXSTC", &rc);
    if (rc != CM_OK)
        fail("cm_init");
    cm_scsu(cid, "VEXUSR1", &rc);
    cm_scsp(cid, "s3cret", &rc);
    cm_set_rcv_timeout(cid, 10);
    cm_allc(cid, "127.0.0.1", g_port, 0, 10, 1, &rc);
    if (rc == CM_OK) {
        std::vector<unsigned char> buffer(WC_MAX_BLOCK);
        const size_t capacity = requested == 0 ? WC_MAX_BLOCK : static_cast<size_t>(requested);
        for (int i = 0; i < 100000; ++i) {
            int32_t dataReceived = -1, status = -1;
            int32_t n = cm_rcv_bin(cid, buffer.data(), requested, &rc, &dataReceived, &status);
            if (rc == CM_PROGRAM_PARAMETER_CHECK)
                continue; // a block larger than the buffer: dropped
            if (rc != CM_OK)
                break;
            if (n < 0 || static_cast<size_t>(n) > capacity || (status != 0 && status != 1) ||
                dataReceived != (n > 0 ? 2 : 0))
                fail("received block out of bounds");
            if (n == 0) {
                static const unsigned char kRequest[] = "PHREADY   ";
                int32_t length = 10, sendStatus = 0;
                cm_send_bin(cid, kRequest, &length, 0, &sendStatus, &rc, 1);
                if (rc != CM_OK)
                    break;
            }
        }
    } else if (rc == CM_PROGRAM_PARAMETER_CHECK || rc == CM_PROGRAM_STATE_CHECK || rc == CM_DEALLOCATED_ABEND ||
               rc == CM_DEALLOCATED_NORMAL) {
        fail("allocation failed with a code of the PC's own call");
    }
    cm_deal(cid, &rc);
    host.join();
    return 0;
}
