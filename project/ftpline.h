#pragma once
// The item registry and framer: one item object per kind, the lookup by name,
// the queueing of outgoing items as send records, the MsgID of the front
// end's requests, the Response and System rows, and the splitting of received
// bytes into item records.

#include "cobject.h"
#include "exchange.h"
#include "task.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

class BlockSocket;
class FTPItem;
class MySqlite;

// One line for the host: its bytes, its length and whether the turn passes
// to the host after it. The bytes are allocated to fit the line, so that a
// queue of many short upload records stays small.
struct SendRecord {
    explicit SendRecord(int32_t iCapacity)
        : m_storage(new uint8_t[iCapacity > 0 ? static_cast<size_t>(iCapacity) : 1]), m_data(m_storage.get()),
          m_iCapacity(iCapacity > 0 ? iCapacity : 1)
    {
    }
    SendRecord(const SendRecord&) = delete;
    SendRecord& operator=(const SendRecord&) = delete;

    std::unique_ptr<uint8_t[]> m_storage;
    uint8_t* m_data;
    // Bytes m_data has room for.
    int32_t m_iCapacity;
    int32_t m_iLength = 0;
    int32_t m_iHandOver = 0;
    // The MsgID of the request the line belongs to (upload records: that of
    // their request); the host's answers after it are filed under it.
    int32_t m_iMsgId = 0;
    // The id of the item that built the line; when the turn passes with it,
    // the host's next HPMSG answers this item.
    int32_t m_iItemId = 0;
};

// The engine's outgoing queue, first in first out, guarded by its own lock.
// Sent records come back to it and are handed out again, so that an upload
// does not allocate a record per line.
class SendQueue : public CObject {
public:
    // The most records and bytes kept for reuse: what the upload queues
    // between two drains (see SocketFTP::kFlushEvery and kFlushBytes).
    static constexpr size_t kSpareRecords = 10666;
    static constexpr int64_t kSpareBytes = 5 * 1024 * 1024;

    SendQueue() = default;
    ~SendQueue() override = default;
    SendQueue(const SendQueue&) = delete;
    SendQueue& operator=(const SendQueue&) = delete;

    // A record with room for iCapacity bytes: a spare one when it fits,
    // else a new one.
    std::unique_ptr<SendRecord> Acquire(int32_t iCapacity);
    // Takes sent records back for reuse (vecSent is emptied); beyond the
    // limits they are freed.
    void Recycle(std::vector<std::unique_ptr<SendRecord>>& vecSent);
    void Push(std::unique_ptr<SendRecord> record);
    // The first record, removed from the queue; null when empty.
    std::unique_ptr<SendRecord> Pop();
    // Moves up to nMax records from the front to the end of deqOut, under
    // one lock; gives their number.
    size_t PopBatch(std::deque<std::unique_ptr<SendRecord>>& deqOut, size_t nMax);
    // Puts records taken with PopBatch but not sent back at the front, in
    // their order (deqRecords is emptied).
    void PushFront(std::deque<std::unique_ptr<SendRecord>>& deqRecords);
    size_t Size();
    void Clear();

private:
    EMutex m_lock;
    std::deque<std::unique_ptr<SendRecord>> m_queue;
    std::vector<std::unique_ptr<SendRecord>> m_spare;
    int64_t m_iSpareBytes = 0;
};

// What the record splitter found at the front of the receive buffer.
enum class SplitResult {
    Empty,    // nothing left
    Wait,     // the header at the front is incomplete: wait for more bytes
    DropByte, // the front byte does not start a header: drop it
    Record,   // a record of m_nLength bytes starts at the front
};

struct SplitStep {
    SplitResult m_result;
    size_t m_nLength;
};

class FTPLine : public CObject {
public:
    // The registry type of the items answered inside the PC (PING, CLOSE).
    static constexpr uint16_t kLocalItemType = 2;

    // Builds the registry of all item kinds. The engine keeps the flags, the
    // queue and the database; pDb may be null when the database could not be
    // created.
    FTPLine(Exchange* pFlags, SendQueue* pSendQueue, MySqlite* pDb);
    // Destroys the items in registration order.
    ~FTPLine() override;
    FTPLine(const FTPLine&) = delete;
    FTPLine& operator=(const FTPLine&) = delete;

    void AddNewFTPItem(FTPItem* pItem);
    // The item whose name equals the given text, both trimmed of white space;
    // null (with a log line) when none matches.
    FTPItem* FindFTPItem(const char* pszName);
    // The first registered item with this id, or null.
    FTPItem* FindFTPItemById(int32_t iId);
    size_t GetItemCount();
    FTPItem* GetItemAt(size_t index);

    // Stores the payload (when given; iLength 0 takes its text length) in the
    // named item and queues the item's line. 1 when a send record was queued,
    // 0 otherwise (unknown name, payload refused, item handled inside the PC).
    int32_t QueueFTPItem(int32_t iMsgId, const char* pszName, const uint8_t* pData, int32_t iLength);
    // The same for an item already found (the records of an upload).
    int32_t QueueItem(FTPItem* pItem, int32_t iMsgId, const uint8_t* pData, int32_t iLength);

    // Runs pszSql, or without it writes the item's Response row (file name
    // optional): Id 0 for HPMSG, the answered request's MsgID for the other
    // items from the host, the last MsgID for the items answered inside the
    // PC. The result of MySqlite::Query; -1 without a database.
    int32_t InsertResponse(FTPItem* pItem, const char* pszFile, const char* pszSql);
    // The System row with this process id, and its replacement by -1.
    int32_t InsertSystemPid(FTPItem* pItem);
    int32_t ResetSystemPid(FTPItem* pItem);

    // The record-splitting rule, applied to the front of a receive buffer of
    // n bytes that ends at the end of a received block. Since the host sends
    // each record as one block, a record runs to the end of the buffer; it is
    // never cut at bytes inside the block that look like a further header.
    static SplitStep SplitRecord(const uint8_t* pBuffer, size_t n);
    // Applies SplitRecord to buffer until it is empty or waits for more
    // bytes: dropped bytes and records are removed from its front; onRecord
    // gets each record's 10-byte prefix (as a NUL-terminated text), its
    // payload and the payload length.
    static void
    SplitBlock(std::vector<uint8_t>& buffer,
               const std::function<void(const char* pszPrefix, uint8_t* pPayload, int32_t iLength)>& onRecord);

    Exchange* GetFlags() const { return m_pFlags; }
    MySqlite* GetDb() const { return m_pDb; }
    // The host conversation, reached by the items that steer it (the
    // acknowledgement that HPMSG ignores, the stop that CLOSE requests);
    // null when there is none.
    void SetBlockSocket(BlockSocket* pBlockSocket)
    {
        m_pBlockSocket = pBlockSocket;
        if (m_pFlags != nullptr)
            m_pFlags->SetBlockSocket(pBlockSocket);
    }
    BlockSocket* GetBlockSocket() const { return m_pBlockSocket; }

    // The MsgID of the request queued last (the items answered inside the
    // PC answer it).
    std::atomic<int32_t> m_iLastMsgId{0};
    // The MsgID that the host's answers are filed under: that of the line
    // with which the turn last passed to the host (see Exchange); the last
    // queued MsgID until a line has passed it.
    int32_t GetAnswerMsgId() const
    {
        return m_pFlags != nullptr ? m_pFlags->AnswerMsgId(m_iLastMsgId.load()) : m_iLastMsgId.load();
    }
    // Whether a row with this Cmd sends a line to the host (and so may carry
    // an upload file): a known item that is not answered inside the PC.
    bool SendsLine(const char* pszName);
    // Takes iMsgId as the MsgID of the request being served; one out of
    // sequence is logged.
    void TakeMsgId(int32_t iMsgId);

private:
    void DeleteItems();

    std::vector<FTPItem*> m_vecItems;
    EMutex m_registryLock;
    Exchange* m_pFlags;
    SendQueue* m_pSendQueue;
    MySqlite* m_pDb;
    BlockSocket* m_pBlockSocket = nullptr;
    // The line an item builds before it is copied into a record of its own
    // size; guarded by its own lock.
    std::unique_ptr<uint8_t[]> m_pLineBuffer;
    EMutex m_lineBufferLock;
};
