#pragma once
// The state of the half-duplex exchange with the host, in one place: the
// engine flags, which line last passed the turn to the host, which request
// the host's answers belong to, and whether the host has said anything since
// it got the turn. The send thread, the read thread and the items change it
// only through the named operations below; each flag is written by one
// thread and read by the other, hence atomic.
//
// Transitions (who calls what):
//   send thread, queueing a row  RequestQueued (an item that opens an
//                                exchange stops the taking of rows)
//   send thread, sending         LinePassedTurn (reading on, last request
//                                and answer MsgID := that line's)
//   read thread, any block       HostAnswered
//   host items                   SendingResumed, DownloadRecord,
//                                ExchangeClosed, UploadStored,
//                                IntermediateAck, AnswerFailed
//   CLOSE                        CloseRequested
//
// Every change that may let a waiting thread go on (the turn, reading or
// sending switched on, an exchange closed, CLOSE, a commit of the front end)
// is announced on one Wakeup, on which the send thread, the read thread and
// the conversation's waits for the turn sleep between their looks.

#include "cobject.h"
#include "wakeup.h"

#include <atomic>
#include <cstdint>

class BlockSocket;

// The hand-over flag of a line: whether the turn passes to the host after it.
enum class HandOver : int32_t { Keep = 0, Pass = 1 };

// What queueing a request does to the exchange.
enum class OnQueue { Nothing, OpenExchange };

class Exchange : public CObject {
public:
    Exchange() = default;
    ~Exchange() override = default;
    Exchange(const Exchange&) = delete;
    Exchange& operator=(const Exchange&) = delete;

    // The conversation whose turn and acknowledgements the exchange steers;
    // null when there is none. Its turn changes are announced on Waker().
    void SetBlockSocket(BlockSocket* pBlockSocket);
    // The engine's one wake-up: waiters note its generation, look at the
    // state, and wait for the next change.
    Wakeup& Waker() { return m_wake; }
    // Announces a change made outside the operations below (a commit of the
    // front end, a thread that ended).
    void Wake() { m_wake.Notify(); }

    // -- send thread
    // A request was queued; one that opens an exchange stops the taking of
    // rows until the host's answer closes it.
    void RequestQueued(OnQueue effect);
    // The line of item iItemId for request iMsgId is about to be sent and
    // passes the turn: the host's answers from now on belong to it.
    void LinePassedTurn(int32_t iItemId, int32_t iMsgId);
    void CloseRequested()
    {
        m_iCloseRequest = 1;
        m_wake.Notify();
    }
    void SetBinary(bool bBinary) { m_iBinaryMode = bBinary ? 1 : 0; }

    // -- read thread
    // A block (record or acknowledgement) came from the host.
    void HostAnswered() { m_iAnswers.fetch_add(1); }
    // HPMSG, HPTXT: the send thread may send again.
    void SendingResumed();
    // HPDATA: a download is under way; nothing is sent meanwhile.
    void DownloadRecord();
    // HPEOD, HPREADY, an HPMSG without "RC=0": the answer is complete.
    void ExchangeClosed();
    // An HPMSG with "RC=0" and "ROWS=" after an upload: it is stored.
    void UploadStored();
    // An HPMSG with "RC=0" without "ROWS=" after an upload: the host keeps
    // the turn (the empty block that follows does not return it).
    void IntermediateAck();
    // The answer under way ended as a failed download (HPEODFAIL written):
    // an HPEOD that still follows must not report it complete.
    void AnswerFailed() { m_iAnswerFailed = 1; }

    // -- queries
    bool TakingRows() const { return m_iExchange == 0 && m_iCloseRequest == 0; }
    bool ReadingOn() const { return m_iReadEnabled != 0; }
    bool SendingOn() const { return m_iSendEnabled != 0; }
    bool Binary() const { return m_iBinaryMode != 0; }
    bool Closing() const { return m_iCloseRequest != 0; }
    bool AnswerHasFailed() const { return m_iAnswerFailed != 0; }
    int32_t LastRequestItem() const { return m_iLastReqItem; }
    // The MsgID of the request whose line last passed the turn; iFallback
    // until a line has passed it.
    int32_t AnswerMsgId(int32_t iFallback) const { return m_iAnswerSet != 0 ? m_iAnswerMsgId.load() : iFallback; }
    // The Id of a Response row written by the named item: 0 for HPMSG (the
    // host's messages name no request), the answer MsgID for the host's
    // other items, iLastMsgId (the request just queued) for the items
    // answered inside the PC.
    int32_t ResponseId(const char* pszItemName, int32_t iLastMsgId) const;
    // The host holds the turn and has answered since it got it: a host that
    // then stays silent is out of step, not idle.
    bool HostAnsweredWithTurn() const;
    bool HostAnsweredSinceTurn() const { return m_iAnswers != 0; }

    // The engine flags, with the values the log and the front end's
    // documentation use. Read freely; changed through the operations above.
    std::atomic<int32_t> m_iExchange{0};
    std::atomic<int32_t> m_iReadEnabled{0};
    std::atomic<int32_t> m_iSendEnabled{1};
    std::atomic<int32_t> m_iBinaryMode{0};
    std::atomic<int32_t> m_iCloseRequest{0};

private:
    Wakeup m_wake;
    BlockSocket* m_pBlockSocket = nullptr;
    std::atomic<int32_t> m_iLastReqItem{0};
    std::atomic<int32_t> m_iAnswerMsgId{0};
    std::atomic<int32_t> m_iAnswerSet{0};
    std::atomic<int32_t> m_iAnswers{0};
    std::atomic<int32_t> m_iAnswerFailed{0};
};
