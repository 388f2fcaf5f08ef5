#pragma once
// The transfer engine of one run: it recreates the request database, builds
// the item registry, queues the opening PHREADY and runs two threads until
// the run ends. The send thread takes the front end's Request rows, turns
// them into send records (with the records of an upload file) and sends
// them. The read thread receives the host's blocks, splits them into item
// records and hands each to its item. The thread that built the engine
// watches the communication timeout T0 meanwhile. The state of the exchange
// lives in one Exchange (see exchange.h).

#include "cobject.h"
#include "linelimits.h"
#include "exchange.h"
#include "ftpline.h"
#include "task.h"

#include "platform/platform.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <memory>
#include <string>
#include <vector>

class BlockSocket;
class MySqlite;

// Cuts an upload file into the payloads of PHDATA records.
//
// Text mode: a piece is a line without its line feed (a carriage return
// before it stays); a line longer than kMaxPiece bytes goes out as several
// pieces, and a line of exactly kMaxPiece bytes is one piece.
// Binary mode (FTTRAIL=Y): pieces of at most kMaxPiece bytes, each ending
// after a line feed when one comes, which stays in the piece.
// Hexadecimal mode: a line of hexadecimal digits (CR LF or LF at its end) is
// decoded pairwise; a line of up to 2 * kMaxPiece digits is one piece, a
// longer one is cut at an even number of digits; a decoded last byte 0x0A
// is dropped; a line with an odd number of digits cannot form a record.
class UploadReader {
public:
    // The largest payload that reaches the host in one line.
    static constexpr int32_t kMaxPiece = Limits::kMaxPayload;

    // The file is read, not owned.
    UploadReader(std::FILE* pFile, bool bHex, bool bBinary);
    UploadReader(const UploadReader&) = delete;
    UploadReader& operator=(const UploadReader&) = delete;

    // The next piece into pPiece (room for kMaxPiece + 1 bytes; a zero byte
    // follows the piece). 1 a piece, 0 end of the file, -1 read error, -2 a
    // hexadecimal line with an odd number of digits (PieceLine names it).
    int Next(uint8_t* pPiece, int32_t& iLength);
    // The line (from 1) of the latest piece; binary pieces count no lines.
    int64_t PieceLine() const { return m_iPieceLine; }
    // Reads the whole file as an upload would: 1 every record can be
    // formed, 0 one cannot (iBadLine names its line), -1 the file cannot be
    // read. Only hexadecimal files are read; the others give 1.
    static int Check(const char* pszPath, bool bHex, bool bBinary, int64_t& iBadLine);

    // Decodes two characters as strtol with base 16 reads them alone.
    static uint8_t HexPair(uint8_t cHigh, uint8_t cLow);

private:
    // Makes at least nWanted bytes available when the file has them.
    bool Fill(size_t nWanted);

    std::FILE* m_pFile;
    bool m_bHex;
    bool m_bBinary;
    std::vector<uint8_t> m_buffer;
    size_t m_nPos = 0;
    size_t m_nEnd = 0;
    bool m_bEof = false;
    bool m_bError = false;
    int64_t m_iLine = 1;
    int64_t m_iPieceLine = 1;
};

class SocketFTP : public CObject {
public:
    // Number of upload pieces after which the queue is drained, so that the
    // records of a large file do not pile up.
    static constexpr int32_t kFlushEvery = 10666;
    // Bytes of upload records after which the queue is drained as well, so
    // that the records of long lines do not pile up either (10666 records of
    // the largest size would hold 341 MB).
    static constexpr int64_t kFlushBytes = 4 * 1024 * 1024;
    // The MsgID of the opening PHREADY; the front end's requests follow.
    static constexpr int32_t kOpeningMsgId = 1;
    // The Response row that answers an upload refused before anything of it
    // was sent: Cmd "PHEODFAIL", Data the reason, File the upload file.
    static constexpr const char* kUploadFailedCmd = "PHEODFAIL";

    // Runs the whole engine on the open conversation (may be null: nothing
    // is then sent or received); returns when both threads have ended or a
    // thread could not be started.
    explicit SocketFTP(BlockSocket* pBlockSocket);
    // Joins the threads first, then destroys the registry (the HPREADY item
    // marks the run as ended in System), the queued records and the database.
    ~SocketFTP() override;
    SocketFTP(const SocketFTP&) = delete;
    SocketFTP& operator=(const SocketFTP&) = delete;

    // Settings and database.
    void Init();
    // One pass of each thread: 1 the thread goes on, anything else ends it.
    int32_t SendStep();
    int32_t ReadStep();
    // 1 the queue is drained or sending is not enabled, 0 a send failed.
    int32_t FlushSendQueue();
    // 1 the record was sent, 0 it was not (the conversation failed, or the
    // turn did not come back within T0).
    int32_t SendRecord(const uint8_t* pData, int32_t iLength, int32_t iHandOver);
    // Writes out what the conversation holds back of the records sent
    // without the turn: the send thread is about to idle. 1 done, 0 the
    // conversation failed.
    int32_t FlushHeldRecords();
    // 1 a block was taken (possibly empty), 0 the receive failed.
    int32_t ReceiveBlock();
    // Queues the file of a request as PHDATA records and a closing PHEOD.
    // 1 done, 0 the file cannot be opened or read (nothing more is queued,
    // no PHEOD), -1 a send failed while the queue was drained.
    int32_t UploadFile(const char* pszPath);
    // Whether the file of a request may be uploaded: a regular file whose
    // records can all be formed (a missing file is left to UploadFile).
    // false with the reason otherwise.
    bool CheckUpload(const char* pszPath, std::string& strReason);

    static void ftpSendTaskEntry(void* pArg);
    static void ftpReadTaskEntry(void* pArg);

    // The conversation failed during the run (a send or receive failed, or a
    // record could not be sent): the run ends with exit code 16 and the
    // failure row; FailureRC gives the conversation's return code.
    bool ConversationBroken() const { return m_iBroken.load() != 0; }
    int32_t FailureRC() const { return m_iFailureRC.load(); }

    Exchange* GetFlags() { return &m_flags; }
    FTPLine* GetLine() { return m_pLine.get(); }
    MySqlite* GetDb() { return m_pDb.get(); }
    SendQueue* GetSendQueue() { return &m_sendQueue; }
    int32_t GetT0() const { return m_iT0; }
    int32_t GetT1() const { return m_iT1; }

private:
    // FlushSendQueue's sending loop; the sent records go to m_vecSent.
    int32_t DrainQueue();
    // Waits up to T0 for the turn; false when it did not come (handled as
    // NoTurn) or the threads are stopping.
    bool WaitForTurn();
    // The host kept the turn for T0: the communication timeout when it said
    // nothing since it got it, else a broken conversation.
    void NoTurn();
    // The communication timeout, watched by the thread that waits for the
    // engine threads.
    void Watch();
    // Watches the database file and its journal or WAL for commits.
    void StartDbWatch(const std::string& strDbPath);
    // After CLOSE: sends what was queued before it.
    void DrainBeforeClose();
    void InsertUploadFailure(int32_t iMsgId, const std::string& strReason, const char* pszPath);
    // Marks the conversation as failed and stops both threads.
    void MarkBroken(int32_t iRC);
    // Stops the threads that run and waits for them.
    void StopAndJoinThreads();
    // The communication timeout: the log lines, then the end of the process.
    [[noreturn]] void CommunicationTimeout();
    bool TimeoutExpired() const;
    static int64_t Now();

    BlockSocket* m_pBlockSocket;
    std::vector<uint8_t> m_vecRecv;
    EMutex m_recvLock;
    std::unique_ptr<FTPLine> m_pLine;
    std::atomic<int64_t> m_tLastActivity{0};
    int32_t m_iT0 = 30;
    int32_t m_iT1 = 60;
    std::unique_ptr<uint8_t[]> m_pSendArea;
    std::unique_ptr<uint8_t[]> m_pRecvArea;
    // Bytes of the receive work area the last block used (the rest is zero).
    size_t m_nRecvUsed = 0;
    EMutex m_lineLock;
    Exchange m_flags;
    SendQueue m_sendQueue;
    std::unique_ptr<MySqlite> m_pDb;
    // Records taken from the queue a batch at a time (one lock per batch,
    // not per record); what a drain leaves unsent goes back to the queue.
    std::deque<std::unique_ptr<::SendRecord>> m_deqTaken;
    // Sent records, handed back to the queue for reuse once a drain ends.
    std::vector<std::unique_ptr<::SendRecord>> m_vecSent;
    // Records went out without the turn since the last flush: the library
    // may still hold them in its send buffer.
    bool m_bHeldRecords = false;
    // Commits of the front end to the database, which wake the send thread.
    Platform::FileChangeWatch m_dbWatch;
    // Set when the send thread has left its loop: the read thread then ends too.
    std::atomic<int32_t> m_iSendEnded{0};
    std::atomic<int32_t> m_iReadEnded{0};
    std::atomic<int32_t> m_iNoTurnLogged{0};
    // Set when the threads must stop at once (failed conversation, a thread
    // that could not be started).
    std::atomic<int32_t> m_iAbort{0};
    std::atomic<int32_t> m_iBroken{0};
    std::atomic<int32_t> m_iFailureRC{0};
    // Declared last: destroyed (joined) first should the constructor fail.
    std::unique_ptr<Task> m_pReadTask;
    std::unique_ptr<Task> m_pSendTask;
};
