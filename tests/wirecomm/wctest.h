#pragma once
// Helpers of the conversation tests: certificates made with OpenSSL, a host peer on its own thread on
// 127.0.0.1, a raw server for hostile input, a recording relay (plain sockets: testplatform.h).

#include "scratchdir.h"
#include "testplatform.h"

#include <wirecomm.h>
#include <wirecomm_host.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace wctest {

// A CA, a server and a client certificate (PEM files in a directory).
struct Pki {
    std::string caCert, serverCert, serverKey, clientCert, clientKey;
    std::string serverPin; // SHA-256 of the server's public key, hex
};
// keyKind: "ec" (P-256) or "rsa1024" (a key too weak for security level 2).
Pki makePki(const std::string& dir, const std::string& prefix, const std::string& serverCn, const std::string& clientCn,
            const std::string& keyKind = "ec");

// Milliseconds on a monotonic clock.
inline int64_t nowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// One host listener served by body on its own thread; join() or the destructor waits for it.
class HostPeer {
public:
    HostPeer(const wch_config* config, std::function<void(wch_listener*)> body);
    ~HostPeer();
    uint16_t port() const { return m_port; }
    void join() // bounded by the body
    {
        if (m_thread.joinable())
            m_thread.join();
    }

private:
    wch_listener* m_listener = nullptr;
    uint16_t m_port = 0;
    std::thread m_thread;
};

// Accepts one conversation and answers its allocation; nullptr on failure.
wch_conv* acceptAndReply(wch_listener* l, int32_t replyRc, wch_alloc_info* info = nullptr, int32_t* acceptRc = nullptr);

// A PC conversation opened with cm_init, cm_scsu, cm_scsp, cm_set_tag (tag not null) and cm_allc.
struct PcConv {
    unsigned char cid[WC_CID_SIZE] = {0};
    int32_t rc = -1;
};
PcConv allocate(uint16_t port, const char* user = "TESTUSER", const char* password = "secret12",
                const char* member = "TLXJOBSV", const char* tag = "TESTUSER", int32_t t1 = 10,
                int32_t passwordCheck = 1, uint16_t pcPort = 0);

// One block of text (handOver 1 passes the turn); cm_send_bin's return code.
int32_t sendText(unsigned char* cid, const std::string& text, int32_t handOver = 0);
// The next block as text, empty when there is none; rc and the hand-over flag set.
std::string receiveText(unsigned char* cid, int32_t& rc, int32_t* handOver = nullptr);
// cm_deal's return code.
int32_t deal(unsigned char* cid);

// Resets the process-wide cm_set_* defaults.
void resetDefaults();

// Reads exactly n bytes with a time limit; false on EOF, error or time-out.
bool readExact(int fd, unsigned char* p, size_t n, int timeoutMs);

// A plain TCP server running body(fd) on one connection: a host answering with the test's bytes.
class RawServer {
public:
    explicit RawServer(std::function<void(int fd)> body);
    ~RawServer();
    uint16_t port() const { return m_port; }

private:
    int m_listen = -1;
    uint16_t m_port = 0;
    std::thread m_thread;
};

// Relays one connection between a PC and 127.0.0.1:target, recording both directions.
class Relay {
public:
    explicit Relay(uint16_t target);
    ~Relay();
    uint16_t port() const { return m_port; }
    std::string pcToHost();
    std::string hostToPc();

private:
    int m_listen = -1;
    uint16_t m_port = 0;
    std::atomic<int> m_stop{0};
    std::mutex m_lock;
    std::string m_up, m_down;
    std::thread m_thread;
};

// Frame header bytes ('W', 'C', type, flags, length big-endian).
std::string frameHeader(uint8_t type, uint8_t flags, uint32_t length);

} // namespace wctest
