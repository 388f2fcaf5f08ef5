#pragma once
// The program's one conversation with the started task on the host, over
// the conversation library libwirecomm-2: configuration from the INI
// values, allocation, blocks of less than 32000 bytes in both directions
// under the half-duplex turn, stop and deallocation.

#include "cobject.h"
#include "task.h"
#include "wakeup.h"

#include <atomic>
#include <cstdint>

// A failure of the host link: the library's return code (0 when the
// failure is the program's own) and a message. Its constructor logs
// "ERROR: %s RC=%d\n".
class SocketError : public CObject {
public:
    SocketError(int32_t rc, const char* message);
    ~SocketError() override = default;

    int32_t m_iRC;
    const char* m_pMessage;
};

class BlockSocket : public CObject {
public:
    // The four texts must not be null (an assertion report names the one
    // that is; it is then taken as empty). Configures the library.
    BlockSocket(const char* cIpAddres, const char* cPasswd, const char* cSymdesti, const char* cUsrid);
    ~BlockSocket() override;
    BlockSocket(const BlockSocket&) = delete;
    BlockSocket& operator=(const BlockSocket&) = delete;

    // Allocates the conversation; throws SocketError.
    void Connect();
    // Sends one block when the turn comes within timeout seconds; returns
    // the library's status. A block of 32000 bytes or more throws before
    // anything is sent. When the turn does not come, nothing is sent (see
    // LastSendDropped).
    int32_t Send(const unsigned char* buffer, int32_t length, int32_t timeout, int32_t handOver);
    int32_t Send(const char* buffer, int32_t length, int32_t timeout, int32_t handOver)
    {
        return Send(reinterpret_cast<const unsigned char*>(buffer), length, timeout, handOver);
    }
    // Writes out the blocks the library holds back (sent without passing
    // the turn), keeping the turn: for a sender that pauses. Throws
    // SocketError when the write fails.
    void Flush();
    // Receives one block into a buffer of 32000 bytes: the number of bytes,
    // 0 for an acknowledgement or when nothing is due (turn not given, stop
    // flag, timeout while the program holds the turn). Throws SocketError.
    int32_t Receive(unsigned char* buffer, int32_t timeout);
    int32_t Receive(char* buffer, int32_t timeout)
    {
        return Receive(reinterpret_cast<unsigned char*>(buffer), timeout);
    }
    // Stops the conversation (cm_stop); throws SocketError.
    void Stop();
    // Deallocates the conversation (cm_deal); throws SocketError.
    void Close();
    // Overwrites the password copy (done by Connect once the conversation
    // is allocated).
    void WipePassword();

    void SetHostPort(uint16_t port) { m_iHostPort = port; }
    void SetPCPort(uint16_t port) { m_iPCPort = port; }
    // The next empty block from the host is not taken as the turn.
    void SetIgnoreNextACK() { m_iIgnoreNextACK.store(1); }
    // A waiting receive gives up at once.
    void SetStop()
    {
        m_iStop.store(1);
        m_pWakeup->Notify();
    }
    // The wake-up on which changes of the turn and of the stop flag are
    // announced and on which Send and Receive wait for the turn (the engine
    // shares its own; by default the conversation's). Set before the first
    // Send or Receive.
    void SetWakeup(Wakeup* pWakeup) { m_pWakeup = pWakeup != nullptr ? pWakeup : &m_ownWakeup; }

    int32_t GetRC() const { return m_iRC.load(); }
    int32_t GetTurn() const { return m_iTurn.load(); }
    int32_t GetIgnoreNextACK() const { return m_iIgnoreNextACK.load(); }
    int32_t GetStop() const { return m_iStop.load(); }
    // 1 when the latest Send gave up because the turn did not come back
    // within its timeout (nothing was sent), else 0.
    int32_t LastSendDropped() const { return m_iSendDropped.load(); }

    char* m_cIpaddr = nullptr;
    char* m_cPasswd = nullptr;
    char* m_cSymdest = nullptr;
    char* m_cUserid = nullptr;
    unsigned char* m_cCid = nullptr;
    uint16_t m_iHostPort = 20000;
    uint16_t m_iPCPort = 0;
    uint16_t m_iT0 = 30;
    uint16_t m_iT1 = 60;
    uint16_t m_iPasChk = 1;

private:
    // The construction's steps: the logon values ("notused" for an empty or
    // "*" password and an empty user id), the library's process-wide
    // settings (trace, code page, crypt mode, TLS level and server checks),
    // the time-outs, the step name and password check options.
    void StoreLogon(const char* cIpAddres, const char* cPasswd, const char* cSymdesti, const char* cUsrid);
    void ConfigureLibrary();
    void ConfigureServerChecks(int32_t mode);
    void ReadTimeouts();
    void ReadLogonOptions();

    // Waits in the library for the host's block in slices, so that the stop
    // flag is seen within a second; the whole wait is bounded by T0.
    // Returns the byte count, or -1 when the stop flag ended the wait.
    int32_t ReceiveFromLibrary(unsigned char* buffer, int32_t& rc);
    // Sets the turn and announces the change.
    void SetTurn(int32_t turn);

    std::atomic<int32_t> m_iRC{0};
    std::atomic<int32_t> m_iStatus{0};
    EMutex m_Mutex;
    std::atomic<int32_t> m_iTurn{1};
    std::atomic<int32_t> m_iIgnoreNextACK{0};
    int32_t m_iStepName = 1;
    std::atomic<int32_t> m_iStop{0};
    std::atomic<int32_t> m_iSendDropped{0};
    // The library's receive timeout last set (-1: not yet): set again only
    // when it changes, not once per block.
    int32_t m_iRcvTimeoutSet = -1;
    Wakeup m_ownWakeup;
    Wakeup* m_pWakeup = &m_ownWakeup;
};
