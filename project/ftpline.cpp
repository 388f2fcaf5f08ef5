#include "ftpline.h"

#include "elog.h"
#include "ftpitem.h"
#include "ftpitemshosttopc.h"
#include "ftpitemspctohost.h"
#include "mysqlite.h"
#include "platform/platform.h"

#include <sqlite3.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

// ---------------------------------------------------------------- SendQueue

namespace {
// Records are made at least this big, so that one can be reused for a
// slightly longer line.
const int32_t kMinRecord = 128;
} // namespace

std::unique_ptr<SendRecord> SendQueue::Acquire(int32_t iCapacity)
{
    {
        ELock lock(&m_lock);
        if (!m_spare.empty()) {
            std::unique_ptr<SendRecord> record = std::move(m_spare.back());
            m_spare.pop_back();
            m_iSpareBytes -= record->m_iCapacity;
            if (record->m_iCapacity >= iCapacity) {
                record->m_iLength = 0;
                return record;
            }
            // Too small for this line: freed, a new one is made.
        }
    }
    return std::unique_ptr<SendRecord>(new SendRecord(iCapacity > kMinRecord ? iCapacity : kMinRecord));
}

void SendQueue::Recycle(std::vector<std::unique_ptr<SendRecord>>& vecSent)
{
    {
        ELock lock(&m_lock);
        for (std::unique_ptr<SendRecord>& record : vecSent) {
            if (!record || m_spare.size() >= kSpareRecords || m_iSpareBytes + record->m_iCapacity > kSpareBytes)
                break;
            m_iSpareBytes += record->m_iCapacity;
            m_spare.push_back(std::move(record));
        }
    }
    // Those that were not kept are freed here.
    vecSent.clear();
}

void SendQueue::Push(std::unique_ptr<SendRecord> record)
{
    ELock lock(&m_lock);
    m_queue.push_back(std::move(record));
}

std::unique_ptr<SendRecord> SendQueue::Pop()
{
    ELock lock(&m_lock);
    if (m_queue.empty())
        return nullptr;
    std::unique_ptr<SendRecord> record = std::move(m_queue.front());
    m_queue.pop_front();
    return record;
}

size_t SendQueue::PopBatch(std::deque<std::unique_ptr<SendRecord>>& deqOut, size_t nMax)
{
    ELock lock(&m_lock);
    size_t moved = 0;
    for (; moved < nMax && !m_queue.empty(); ++moved) {
        deqOut.push_back(std::move(m_queue.front()));
        m_queue.pop_front();
    }
    return moved;
}

void SendQueue::PushFront(std::deque<std::unique_ptr<SendRecord>>& deqRecords)
{
    ELock lock(&m_lock);
    while (!deqRecords.empty()) {
        m_queue.push_front(std::move(deqRecords.back()));
        deqRecords.pop_back();
    }
}

size_t SendQueue::Size()
{
    ELock lock(&m_lock);
    return m_queue.size();
}

void SendQueue::Clear()
{
    ELock lock(&m_lock);
    m_queue.clear();
    m_spare.clear();
    m_iSpareBytes = 0;
}

// ---------------------------------------------------------------- FTPLine

namespace {
const char* const kWhiteSpace = " \t\n\r\f\v";
// Runs of a Response or System row while the front end keeps the database
// busy: each run waits the busy timeout (SQLITE.T0) first.
const int32_t kBusyAttempts = 12;

// The text without leading and trailing white space (no copy).
std::string_view Trim(const char* text)
{
    const std::string_view s(text != nullptr ? text : "");
    const std::string_view::size_type first = s.find_first_not_of(kWhiteSpace);
    if (first == std::string_view::npos)
        return std::string_view();
    const std::string_view::size_type last = s.find_last_not_of(kWhiteSpace);
    return s.substr(first, last - first + 1);
}

const size_t kPrefix = static_cast<size_t>(FTPItem::kPrefixSize);
} // namespace

FTPLine::FTPLine(Exchange* pFlags, SendQueue* pSendQueue, MySqlite* pDb)
    : m_pFlags(pFlags), m_pSendQueue(pSendQueue), m_pDb(pDb), m_pLineBuffer(new uint8_t[FTPItem::kBufferSize])
{
    std::atomic<int32_t>* sendEnabled = pFlags != nullptr ? &pFlags->m_iSendEnabled : nullptr;
    std::atomic<int32_t>* readEnabled = pFlags != nullptr ? &pFlags->m_iReadEnabled : nullptr;
    try {
        AddNewFTPItem(new FTPItem_HPREADY("HPREADY", 11, 0, sendEnabled, this));
        AddNewFTPItem(new FTPItem_HPMSG("HPMSG", 12, 0, sendEnabled, this));
        AddNewFTPItem(new FTPItem_HPDATA("HPDATA", 13, 0, sendEnabled, this));
        AddNewFTPItem(new FTPItem_HPEOD("HPEOD", 14, 0, sendEnabled, this));
        AddNewFTPItem(new FTPItem_HPTXT("HPTXT", 15, 0, sendEnabled, this));
        AddNewFTPItem(new FTPItem_PHREADY("PHREADY", 31, 1, readEnabled, this));
        AddNewFTPItem(new FTPItem_PHSETOPT("PHSETOPT", 32, 1, readEnabled, this));
        AddNewFTPItem(new FTPItem_PHSUBMIT("PHSUBMIT", 33, 1, readEnabled, this));
        AddNewFTPItem(new FTPItem_PHDELETE("PHDELETE", 34, 1, readEnabled, this));
        AddNewFTPItem(new FTPItem_PHMODIFY("PHMODIFY", 35, 1, readEnabled, this));
        AddNewFTPItem(new FTPItem_PHBPXWDYN("PHBPXWDYN", 36, 1, readEnabled, this));
        AddNewFTPItem(new FTPItem_PHGDSLST("PHGDSLST", 37, 1, readEnabled, this));
        AddNewFTPItem(new FTPItem_PHGDSLSTF("PHGDSLSTF", 38, 1, readEnabled, this));
        AddNewFTPItem(new FTPItem_PHGPODIR("PHGPODIR", 39, 1, readEnabled, this));
        AddNewFTPItem(new FTPItem_PHGPODIRF("PHGPODIRF", 40, 1, readEnabled, this));
        AddNewFTPItem(new FTPItem_PHGETFILE("PHGETFILE", 41, 1, readEnabled, this));
        AddNewFTPItem(new FTPItem_PHDATA("PHDATA", 42, 1, readEnabled, this));
        AddNewFTPItem(new FTPItem_PHEOD("PHEOD", 43, 1, readEnabled, this));
        AddNewFTPItem(new FTPItem_PHTXT("PHTXT", 44, 0, sendEnabled, this));
        AddNewFTPItem(new FTPItem_PING("PING", 100, kLocalItemType, nullptr, this));
        AddNewFTPItem(new FTPItem_CLOSE("CLOSE", 101, kLocalItemType, nullptr, this));
    } catch (...) {
        DeleteItems();
        throw;
    }
}

FTPLine::~FTPLine()
{
    DeleteItems();
}

void FTPLine::DeleteItems()
{
    // Front to back; each item is destroyed outside the registry lock, since
    // a destructor may write a row through this registry.
    for (;;) {
        FTPItem* item = nullptr;
        {
            ELock lock(&m_registryLock);
            if (m_vecItems.empty())
                return;
            item = m_vecItems.front();
            m_vecItems.erase(m_vecItems.begin());
        }
        delete item;
    }
}

void FTPLine::AddNewFTPItem(FTPItem* pItem)
{
    if (pItem == nullptr)
        return;
    std::unique_ptr<FTPItem> guard(pItem);
    ELock lock(&m_registryLock);
    m_vecItems.push_back(pItem);
    guard.release();
}

size_t FTPLine::GetItemCount()
{
    ELock lock(&m_registryLock);
    return m_vecItems.size();
}

FTPItem* FTPLine::GetItemAt(size_t index)
{
    ELock lock(&m_registryLock);
    return index < m_vecItems.size() ? m_vecItems[index] : nullptr;
}

FTPItem* FTPLine::FindFTPItem(const char* pszName)
{
    // Every record passes here: one lock for the whole scan, no copies.
    const std::string_view wanted = Trim(pszName);
    {
        ELock lock(&m_registryLock);
        for (FTPItem* item : m_vecItems) {
            if (item != nullptr && Trim(item->GetName()) == wanted)
                return item;
        }
    }
    ELOG(1, 3, 120, "ERROR: unrecognized FTP data item with prefix: %s\n", pszName != nullptr ? pszName : "");
    return nullptr;
}

FTPItem* FTPLine::FindFTPItemById(int32_t iId)
{
    const size_t count = GetItemCount();
    for (size_t i = 0; i < count; ++i) {
        FTPItem* item = GetItemAt(i);
        if (item != nullptr && item->GetId() == iId)
            return item;
    }
    return nullptr;
}

int32_t FTPLine::QueueFTPItem(int32_t iMsgId, const char* pszName, const uint8_t* pData, int32_t iLength)
{
    if (pszName == nullptr)
        return 0;
    // Only the first 11 characters of the name count; the buffer keeps a
    // terminating zero behind them.
    char name[11 + 1] = {0};
    std::strncpy(name, pszName, 11);

    FTPItem* item = FindFTPItem(name);
    if (item == nullptr)
        return 0;
    return QueueItem(item, iMsgId, pData, iLength);
}

int32_t FTPLine::QueueItem(FTPItem* item, int32_t iMsgId, const uint8_t* pData, int32_t iLength)
{
    if (item == nullptr)
        return 0;
    // The request the host answers is not this one but the one whose line
    // passes the turn: that is known only when the line is sent.
    TakeMsgId(iMsgId);

    if (pData != nullptr) {
        int32_t length = iLength;
        if (length == 0) {
            const size_t textLength = std::strlen(reinterpret_cast<const char*>(pData));
            length = textLength > static_cast<size_t>(INT32_MAX) ? INT32_MAX : static_cast<int32_t>(textLength);
        }
        if (item->SetData(pData, length) < 0)
            return 0;
    }

    std::unique_ptr<SendRecord> record;
    {
        // The item writes its line into the full-size line buffer; the
        // record then takes a copy of just the line.
        ELock lock(&m_lineBufferLock);
        uint8_t* line = m_pLineBuffer.get();
        int32_t lineLength = 0;
        int32_t handOver = 0;
        item->BuildSendString(line, lineLength, handOver);
        if (lineLength < 1)
            return 0;
        if (lineLength > FTPItem::kBufferSize) {
            ELOG_ASSERT(lineLength <= FTPItem::kBufferSize);
            return 0;
        }
        record = m_pSendQueue != nullptr ? m_pSendQueue->Acquire(lineLength)
                                         : std::unique_ptr<SendRecord>(new SendRecord(lineLength));
        std::memcpy(record->m_data, line, static_cast<size_t>(lineLength));
        record->m_iLength = lineLength;
        record->m_iHandOver = handOver;
        record->m_iMsgId = m_iLastMsgId;
        record->m_iItemId = item->GetId();
    }
    if (m_pSendQueue == nullptr)
        return 0;
    m_pSendQueue->Push(std::move(record));
    return 1;
}

void FTPLine::TakeMsgId(int32_t iMsgId)
{
    if (iMsgId == 0)
        return;
    const int32_t last = m_iLastMsgId;
    if (static_cast<int64_t>(iMsgId) != static_cast<int64_t>(last) + 1)
        ELOG(2, 1, 120, "ERROR: Bad hand-shake sequence of MsgID: last=%d, current=%d\n", last, iMsgId);
    m_iLastMsgId = iMsgId;
}

bool FTPLine::SendsLine(const char* pszName)
{
    if (pszName == nullptr)
        return false;
    char name[11 + 1] = {0};
    std::strncpy(name, pszName, 11);
    FTPItem* item = FindFTPItem(name);
    return item != nullptr && item->GetType() != kLocalItemType;
}

int32_t FTPLine::InsertResponse(FTPItem* pItem, const char* pszFile, const char* pszSql)
{
    const char* itemName = pItem != nullptr ? pItem->GetName() : "";
    if (m_pDb == nullptr) {
        ELOG(1, 1, 121, "ERROR: no database, the row of %s is not written\n", itemName);
        return -1;
    }
    if (pszSql != nullptr)
        return m_pDb->QueryRetryBusy(pszSql, kBusyAttempts);
    if (pItem == nullptr)
        return -1;

    const int32_t id = m_pFlags != nullptr ? m_pFlags->ResponseId(itemName, m_iLastMsgId) : m_iLastMsgId.load();
    // The payload as text: up to its first zero byte, never past the buffer.
    const char* data = reinterpret_cast<const char*>(pItem->GetData());
    const int dataLength = static_cast<int>(strnlen(data, static_cast<size_t>(FTPItem::kBufferSize)));
    // The quoting may double the text, so the statement is built in a buffer
    // of its own size rather than cut at a fixed length.
    char* quotedData = sqlite3_mprintf("%.*q", dataLength, data);
    char* quotedFile = sqlite3_mprintf("%q", pszFile != nullptr ? pszFile : "");
    char* statement = nullptr;
    if (quotedData != nullptr && quotedFile != nullptr)
        statement = sqlite3_mprintf("INSERT INTO Response (Id, Cmd, Data, File) VALUES ('%d','%s','%s','%s')", id,
                                    itemName, quotedData, quotedFile);
    int32_t result = -1;
    if (statement != nullptr)
        result = m_pDb->QueryRetryBusy(statement, kBusyAttempts);
    else
        ELOG(1, 1, 121, "ERROR: no memory for the row of %s\n", itemName);
    sqlite3_free(statement);
    sqlite3_free(quotedFile);
    sqlite3_free(quotedData);
    return result;
}

int32_t FTPLine::InsertSystemPid(FTPItem* pItem)
{
    char sql[200];
    std::snprintf(sql, sizeof(sql), "INSERT INTO System (PID) VALUES ('%d')", Platform::processId());
    return InsertResponse(pItem, nullptr, sql);
}

int32_t FTPLine::ResetSystemPid(FTPItem* pItem)
{
    char sql[200];
    std::snprintf(sql, sizeof(sql), "UPDATE System SET PID=%d WHERE PID=%d", -1, Platform::processId());
    return InsertResponse(pItem, nullptr, sql);
}

SplitStep FTPLine::SplitRecord(const uint8_t* pBuffer, size_t n)
{
    if (n == 0)
        return {SplitResult::Empty, 0};
    if (pBuffer[0] != 0x48)
        return {SplitResult::DropByte, 1};
    if (n < kPrefix)
        return {SplitResult::Wait, 0};
    if (pBuffer[1] != 0x50 || pBuffer[kPrefix - 1] != 0x20)
        return {SplitResult::DropByte, 1};
    // The record is the rest of the block, whatever its payload holds.
    return {SplitResult::Record, n};
}

void FTPLine::SplitBlock(std::vector<uint8_t>& buffer,
                         const std::function<void(const char* pszPrefix, uint8_t* pPayload, int32_t iLength)>& onRecord)
{
    // Dropped bytes and handled records are removed from the front in one
    // go at the end; the effect is that of removing them one by one.
    size_t pos = 0;
    for (bool more = true; more;) {
        const SplitStep step = SplitRecord(buffer.data() + pos, buffer.size() - pos);
        switch (step.m_result) {
        case SplitResult::Empty:
        case SplitResult::Wait:
            more = false;
            break;
        case SplitResult::DropByte:
            pos += 1;
            break;
        case SplitResult::Record: {
            char prefix[kPrefix + 1] = {0};
            std::memcpy(prefix, buffer.data() + pos, kPrefix);
            const size_t payloadLength = step.m_nLength - kPrefix;
            if (onRecord)
                onRecord(prefix, buffer.data() + pos + kPrefix, static_cast<int32_t>(payloadLength));
            pos += step.m_nLength;
            break;
        }
        }
    }
    buffer.erase(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(pos));
}
