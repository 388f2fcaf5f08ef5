#pragma once
// Helpers of the conversation tests: a scratch directory, certificates made
// at test time with OpenSSL, a host peer running on its own thread on
// 127.0.0.1, a raw TCP peer for hostile input, and a recording relay.

#include <wirecomm.h>
#include <wirecomm_host.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace wctest {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return m_path; }
    std::string file(const std::string& name) const { return m_path + "/" + name; }
    std::string write(const std::string& name, const std::string& content) const;

private:
    std::string m_path;
};

// Reads a whole file ("" when missing).
std::string readFile(const std::string& path);

// A CA, a server and a client certificate (PEM files in a directory).
struct Pki {
    std::string caCert;       // CA certificate
    std::string serverCert;   // server certificate, signed by the CA
    std::string serverKey;
    std::string clientCert;   // client certificate, signed by the CA
    std::string clientKey;
    std::string serverPin;    // SHA-256 of the server's public key, hex
};
// keyKind: "ec" (P-256) or "rsa1024" (a key too weak for security level 2).
Pki makePki(const std::string& dir, const std::string& prefix, const std::string& serverCn,
            const std::string& clientCn, const std::string& keyKind = "ec");

// A port on 127.0.0.1 that nobody listens on (bound once, then released).
uint16_t unusedPort();

// Milliseconds on a monotonic clock.
int64_t nowMs();

// One host listener served by a function on its own thread. The function
// gets the listener; the peer waits for it in its destructor (every test
// function is bounded by its own time limits).
class HostPeer {
public:
    HostPeer(const wch_config* config, std::function<void(wch_listener*)> body);
    ~HostPeer();
    uint16_t port() const { return m_port; }
    // Waits for the body to finish (at most ms); false on time-out.
    bool join(int ms = 20000);

private:
    wch_listener* m_listener = nullptr;
    uint16_t m_port = 0;
    std::thread m_thread;
    std::promise<void> m_done;
    std::future<void> m_doneFuture;
    bool m_joined = false;
};

// Accepts one conversation and answers its allocation; nullptr on failure.
wch_conv* acceptAndReply(wch_listener* l, int32_t replyRc, wch_alloc_info* info = nullptr,
                         int32_t* acceptRc = nullptr);

// A PC conversation opened with the cm_* calls.
struct PcConv {
    unsigned char cid[WC_CID_SIZE] = {0};
    int32_t rc = -1;
};
// cm_init, cm_scsu, cm_scsp, cm_set_tag (when tag is not null) and cm_allc.
PcConv allocate(uint16_t port, const char* user = "TESTUSER", const char* password = "secret12",
                const char* member = "TLXJOBSV", const char* tag = "TESTUSER", int32_t t1 = 10,
                int32_t passwordCheck = 1, uint16_t pcPort = 0);

// Resets the process-wide cm_set_* defaults.
void resetDefaults();

// A plain TCP server that accepts one connection and runs body(fd).
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

// Connects a plain TCP socket to 127.0.0.1:port (blocking), -1 on failure.
int rawConnect(uint16_t port);
// Reads exactly n bytes with a time limit; false on EOF, error or time-out.
bool readExact(int fd, unsigned char* p, size_t n, int timeoutMs);

// Relays one connection between a PC and 127.0.0.1:target, recording both
// directions.
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
    uint16_t m_target;
    std::atomic<int> m_stop{0};
    std::mutex m_lock;
    std::string m_up, m_down;
    std::thread m_thread;
};

// The trace configuration exactly as `vexlink -x` writes it.
extern const char* const kTcpLoggerXml;

// Frame header bytes ('W', 'C', type, flags, length big-endian).
std::string frameHeader(uint8_t type, uint8_t flags, uint32_t length);

} // namespace wctest
