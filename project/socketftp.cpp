#include "socketftp.h"

#include "blockSocket.h"
#include "configmodul.h"
#include "elog.h"
#include "ftpitem.h"
#include "globals.h"
#include "mysqlite.h"
#include "translate.h"
#include "trash.h"
#include "workdir.h"

#include "platform/platform.h"

#include <wirecomm.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <exception>

namespace {

const uint32_t kPollMillis = 125;
const size_t kPrefix = static_cast<size_t>(FTPItem::kPrefixSize);
const int32_t kWorkArea = FTPItem::kBufferSize;
// Bytes read from an upload file at a time.
const size_t kReadChunk = 256 * 1024;

bool GetConfig(const char* key, std::string& value)
{
    value.clear();
    return g_pConfigModul != nullptr && g_pConfigModul->GetParm(key, value);
}

int32_t ConfigNumber(const char* key, int32_t fallback)
{
    std::string value;
    return GetConfig(key, value) ? std::atoi(value.c_str()) : fallback;
}

bool IsHexFormat(const std::string& value)
{
    if (value.size() != 3)
        return false;
    return (value[0] | 0x20) == 'h' && (value[1] | 0x20) == 'e' && (value[2] | 0x20) == 'x';
}

int HexDigit(uint8_t c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// The local time as asctime writes it, without its line end
// (for example "Fri Dec  4 04:52:04 2026").
std::string AscTimeNow()
{
    std::tm local{};
    Platform::localTime(static_cast<std::time_t>(Platform::nowSeconds()), local);
    char text[64] = {0};
    std::strftime(text, sizeof(text), "%a %b %e %H:%M:%S %Y", &local);
    return text;
}

} // namespace

// ---------------------------------------------------------------- UploadReader

UploadReader::UploadReader(std::FILE* pFile, bool bHex, bool bBinary)
    : m_pFile(pFile), m_bHex(bHex && !bBinary), m_bBinary(bBinary), m_buffer(kReadChunk + 2 * kMaxPiece + 4)
{
}

bool UploadReader::Fill(size_t nWanted)
{
    while (m_nEnd - m_nPos < nWanted && !m_bEof && !m_bError) {
        if (m_nPos > 0) {
            std::memmove(m_buffer.data(), m_buffer.data() + m_nPos, m_nEnd - m_nPos);
            m_nEnd -= m_nPos;
            m_nPos = 0;
        }
        const size_t room = m_buffer.size() - m_nEnd;
        const size_t got = std::fread(m_buffer.data() + m_nEnd, 1, room, m_pFile);
        m_nEnd += got;
        if (got < room) {
            if (std::ferror(m_pFile))
                m_bError = true;
            else
                m_bEof = true;
        }
    }
    return !m_bError;
}

uint8_t UploadReader::HexPair(uint8_t cHigh, uint8_t cLow)
{
    const int high = HexDigit(cHigh);
    const int low = HexDigit(cLow);
    if (high >= 0 && low >= 0)
        return static_cast<uint8_t>(high * 16 + low);
    // Anything else reads as strtol reads it: blanks, a sign, the valid
    // leading part.
    const char pair[3] = {static_cast<char>(cHigh), static_cast<char>(cLow), 0};
    return static_cast<uint8_t>(std::strtol(pair, nullptr, 16));
}

int UploadReader::Next(uint8_t* pPiece, int32_t& iLength)
{
    iLength = 0;
    const size_t maxPiece = static_cast<size_t>(kMaxPiece);
    // The most bytes one piece looks at: its content and its line end.
    const size_t content = m_bHex ? 2 * maxPiece : maxPiece;
    const size_t scan = m_bBinary ? maxPiece : (m_bHex ? content + 2 : content + 1);
    if (!Fill(scan))
        return -1;
    const size_t avail = m_nEnd - m_nPos;
    if (avail == 0)
        return 0;
    const uint8_t* start = m_buffer.data() + m_nPos;
    const size_t window = std::min(avail, scan);
    const uint8_t* lf = static_cast<const uint8_t*>(std::memchr(start, '\n', window));

    size_t taken = 0;   // bytes consumed from the file
    size_t length = 0;  // bytes of the piece before decoding
    if (m_bBinary) {
        taken = lf != nullptr ? static_cast<size_t>(lf - start) + 1 : std::min(avail, maxPiece);
        length = taken;
    } else if (lf != nullptr) {
        length = static_cast<size_t>(lf - start);
        taken = length + 1;
        if (m_bHex && length > 0 && start[length - 1] == '\r')
            --length;
        if (length > content) {
            // A line longer than a piece: cut it, the rest follows.
            length = content;
            taken = content;
        }
    } else {
        taken = std::min(avail, content);
        length = taken;
    }

    if (m_bHex) {
        const size_t pairs = length / 2;
        for (size_t i = 0; i < pairs; ++i)
            pPiece[i] = HexPair(start[2 * i], start[2 * i + 1]);
        length = pairs;
        // A decoded line feed at the end is taken as the line's end.
        if (length > 0 && pPiece[length - 1] == 0x0A)
            --length;
    } else {
        std::memcpy(pPiece, start, length);
    }
    pPiece[length] = 0;
    m_nPos += taken;
    iLength = static_cast<int32_t>(length);
    return 1;
}

// ---------------------------------------------------------------- SocketFTP

SocketFTP::SocketFTP(BlockSocket* pBlockSocket)
    : m_pBlockSocket(pBlockSocket), m_pSendArea(new uint8_t[kWorkArea]), m_pRecvArea(new uint8_t[kWorkArea])
{
    // 1. Start values: the flags start as EngineFlags gives them.
    m_tLastActivity = Now();
    std::memset(m_pSendArea.get(), 0, kWorkArea);
    std::memset(m_pRecvArea.get(), 0, kWorkArea);

    // 2. Settings and database.
    Init();

    // 3. The item registry, 4. the opening item.
    m_pLine.reset(new FTPLine(&m_flags, &m_sendQueue, m_pDb.get()));
    m_pLine->SetBlockSocket(m_pBlockSocket);
    {
        ELock lock(&m_lineLock);
        m_pLine->QueueFTPItem(1, "PHREADY", nullptr, 0);
    }

    // 5. The send thread.
    ELOG(0, 3, 120, "SocketFTP-Send-Thread starting\n");
    m_pSendTask.reset(new Task());
    const bool sendStarted = m_pSendTask->CreateTask(&SocketFTP::ftpSendTaskEntry, "ftpSendTaskEntry", this);
    if (!sendStarted) {
        ELOG(1, 1, 120, "SocketFTP-Send-Thread starting failed RC=%d\n", m_pSendTask->m_iError);
        g_iRC = 16;
        // Without a send thread the read thread has nothing to wait for.
        m_iSendEnded = 1;
        m_iAbort = 1;
    }

    // 6. The read thread.
    ELOG(0, 3, 120, "SocketFTP-Read-Thread starting\n");
    m_pReadTask.reset(new Task());
    if (!m_pReadTask->CreateTask(&SocketFTP::ftpReadTaskEntry, "ftpReadTaskEntry", this)) {
        ELOG(1, 1, 120, "SocketFTP-Read-Thread starting failed RC=%d\n", m_pReadTask->m_iError);
        g_iRC = 16;
        // The send thread must not run on alone: stop it, the destruction
        // joins it.
        m_iAbort = 1;
        if (m_pBlockSocket != nullptr)
            m_pBlockSocket->SetStop();
        return;
    }

    // 7. Wait for both threads.
    if (g_iRC == 0) {
        try {
            m_pReadTask->WaitForEnd();
            m_pSendTask->WaitForEnd();
        } catch (...) {
            StopAndJoinThreads();
            throw;
        }
        ELOG(0, 3, 120, "SocketFTP-Send-Thread ended\n");
        ELOG(0, 3, 120, "SocketFTP-Read-Thread ended\n");
    } else {
        // A thread failed to start: the one that runs is told to stop; the
        // destruction joins it.
        m_iAbort = 1;
        if (m_pBlockSocket != nullptr)
            m_pBlockSocket->SetStop();
    }
}

SocketFTP::~SocketFTP()
{
    // Nothing the threads use is destroyed before they have ended.
    StopAndJoinThreads();
    // The registry first: the HPREADY item marks the run as ended while the
    // database is still open.
    m_pLine.reset();
    m_sendQueue.Clear();
    m_pDb.reset();
    m_pReadTask.reset();
    m_pSendTask.reset();
}

void SocketFTP::StopAndJoinThreads()
{
    const bool running = (m_pSendTask && m_pSendTask->m_bStarted) || (m_pReadTask && m_pReadTask->m_bStarted);
    if (!running)
        return;
    // Threads that already ended are joined at once; threads that still run
    // (after a failed start or an exception) are stopped first.
    m_iAbort = 1;
    m_iSendEnded = 1;
    if (m_pBlockSocket != nullptr)
        m_pBlockSocket->SetStop();
    // Destroying a started Task joins its thread.
    m_pSendTask.reset();
    m_pReadTask.reset();
}

void SocketFTP::Init()
{
    // 1. Timeouts.
    m_iT0 = ConfigNumber("FTP.T0", 30);
    m_iT1 = ConfigNumber("FTP.T1", 60);

    // 2. The same path the transfer module composed.
    const std::string path = ComposeDbPath();

    // 3. The database, recreated for this run. An empty path would give
    // SQLite's private temporary database, which the front end cannot reach:
    // that is no database.
    if (!path.empty()) {
        m_pDb.reset(new MySqlite(path.c_str()));
        if (m_pDb->Create(g_pszDbCreateScript) != 1)
            m_pDb.reset();
    } else {
        ELOG(0, 1, 120, "SocketFTP: no database path (GLOBAL.TEMP_PATH, GLOBAL.WORK_DIR, SQLITE.DBNAME)\n");
    }

    // 4. Deleted at the end of the process, only when this run created it.
    if (WorkDir::CreatedDatabase())
        Trash::Register(path);
}

std::string SocketFTP::ComposeDbPath(std::string* pDirectory)
{
    std::string value;
    std::string path;
    GetConfig("GLOBAL.TEMP_PATH", path);
    if (pDirectory != nullptr)
        pDirectory->clear();
    if (GetConfig("GLOBAL.WORK_DIR", value)) {
        path += "/" + value;
        if (pDirectory != nullptr)
            *pDirectory = path;
    }
    if (GetConfig("SQLITE.DBNAME", value))
        path += "/" + value;
    return path;
}

int64_t SocketFTP::Now()
{
    // Whole seconds on a clock that a change of the system time does not move.
    return static_cast<int64_t>(Platform::monotonicMillis() / 1000);
}

bool SocketFTP::TimeoutExpired() const
{
    return m_tLastActivity.load() + m_iT0 < Now();
}

void SocketFTP::CommunicationTimeout()
{
    ELOG(1, 3, 120, "SocketFTP Communication timeout T0=%d[sec] expired\n", m_iT0);
    g_iRC = 6;
    ELOG(2, 5, 200, "Ended at %s with RC=%d\n", AscTimeNow().c_str(), 6);
    // The work directory's lock file goes, so that the front end finds the
    // directory as it left it plus the database and the downloads.
    WorkDir::Release();
    // Nothing else is closed or deleted on this path. _Exit rather than exit: the
    // other threads still run, and static destructors and library cleanup
    // must not run under them.
    std::_Exit(6);
}

void SocketFTP::MarkBroken(int32_t iRC)
{
    int32_t none = 0;
    m_iFailureRC.compare_exchange_strong(none, iRC);
    m_iBroken = 1;
    m_iAbort = 1;
    // A receive that still waits gives up at once.
    if (m_pBlockSocket != nullptr)
        m_pBlockSocket->SetStop();
}

void SocketFTP::ftpSendTaskEntry(void* pArg)
{
    SocketFTP* self = static_cast<SocketFTP*>(pArg);
    ELOG(0, 3, 120, "SocketFTP-Send-Thread running..ok\n");
    int32_t result = 0;
    do {
        Task::Sleep(kPollMillis);
        result = self->SendStep();
    } while (result == 1 && self->m_flags.m_iCloseRequest == 0 && self->m_iAbort == 0 && g_iStopSignal.load() == 0);
    // The read thread ends with this one, and a receive that still waits
    // for the host gives up.
    self->m_iSendEnded = 1;
    if (self->m_pBlockSocket != nullptr)
        self->m_pBlockSocket->SetStop();
}

void SocketFTP::ftpReadTaskEntry(void* pArg)
{
    SocketFTP* self = static_cast<SocketFTP*>(pArg);
    ELOG(0, 3, 120, "SocketFTP-Read-Thread running..ok\n");
    int32_t result = 0;
    do {
        Task::Sleep(kPollMillis);
        result = self->ReadStep();
        // It goes on after a close request until the send thread has sent
        // what was queued before it: those records may still need the
        // host's acknowledgement.
    } while (result == 1 && self->m_iSendEnded == 0 && self->m_iAbort == 0 && g_iStopSignal.load() == 0);
}

int32_t SocketFTP::SendStep()
{
    if (m_iAbort != 0)
        return 0;
    // 1. Communication timeout.
    if (TimeoutExpired())
        CommunicationTimeout();

    // 2. No database, no requests.
    if (!m_pDb) {
        ELOG(0, 3, 120, "SocketFTP-Send-Thread SqLite is not ready\n");
        g_iRC = 8;
        return 0;
    }

    // 3. An exchange is open: only drain the queue.
    if (m_flags.m_iExchange != 0)
        return FlushSendQueue();

    // 4. Take the rows in insertion order.
    std::vector<std::string> columns;
    for (;;) {
        if (m_pDb->Get(columns) != 1)
            return FlushSendQueue();

        // Removed first; served only when the removal went through, so that
        // a row is never served twice. A row the front end keeps locked
        // stays for a later pass.
        char sql[200];
        const long long rowId = std::strtoll(columns[0].c_str(), nullptr, 10);
        std::snprintf(sql, sizeof(sql), "DELETE FROM Request WHERE ROWID=%lld", rowId);
        if (m_pDb->Query(sql) != 1) {
            ELOG(1, 2, 120, "SocketFTP-Send-Thread Request row %lld not removed, left for a later pass\n", rowId);
            return FlushSendQueue();
        }

        {
            ELock lock(&m_lineLock);
            const int32_t msgId = columns.size() > 1 ? std::atoi(columns[1].c_str()) : 0;
            const char* cmd = columns.size() > 2 ? columns[2].c_str() : "";
            const uint8_t* data = reinterpret_cast<const uint8_t*>(columns.size() > 3 ? columns[3].c_str() : "");
            const int32_t queued = m_pLine->QueueFTPItem(msgId, cmd, data, 0);

            // 5. The row's file follows its item, and only an item that was
            // queued: an unknown Cmd, PING or CLOSE send nothing.
            if (columns.size() == 5 && columns[4].c_str()[0] != '\0' && queued == 1) {
                const int32_t upload = UploadFile(columns[4].c_str());
                if (upload == 0) {
                    ELOG(1, 1, 120, "Uploading file '%s' can't be read\n", columns[4].c_str());
                    // The request was taken but cannot be carried out: the
                    // run ends as a failed transfer, not as one that went well.
                    g_iRC = 16;
                    return 0;
                }
                if (upload < 0)
                    return 0;
            }
        }

        // 7. An exchange was opened: drain the queue, the host answers first.
        if (m_flags.m_iExchange != 0)
            return FlushSendQueue();
    }
}

int32_t SocketFTP::UploadFile(const char* pszPath)
{
    std::string format;
    const bool hex = GetConfig("GLOBAL.UPLOAD_FORMAT", format) && IsHexFormat(format);
    std::FILE* file = std::fopen(pszPath, "rb");
    if (file == nullptr)
        return 0;

    const bool binary = m_flags.m_iBinaryMode != 0;
    UploadReader reader(file, hex, binary);
    std::unique_ptr<uint8_t[]> piece(new uint8_t[UploadReader::kMaxPiece + 1]);
    int32_t count = 0;
    int64_t bytes = 0;
    int32_t result = 1;
    for (;;) {
        int32_t length = 0;
        const int read = reader.Next(piece.get(), length);
        if (read == 0)
            break;
        if (read < 0) {
            // A file that cannot be read to its end is not closed with PHEOD:
            // the host must not store a part of it.
            result = 0;
            break;
        }
        if (g_iStopSignal.load() != 0) {
            // The run is asked to end: no PHEOD, the host stores nothing.
            result = -1;
            break;
        }
        m_pLine->QueueFTPItem(0, "PHDATA", piece.get(), length);
        bytes += length + static_cast<int64_t>(kPrefix);
        if (++count == kFlushEvery || bytes >= kFlushBytes) {
            count = 0;
            bytes = 0;
            if (FlushSendQueue() != 1) {
                result = -1;
                break;
            }
        }
    }
    std::fclose(file);
    if (result == 1)
        m_pLine->QueueFTPItem(0, "PHEOD", nullptr, 0);
    return result;
}

int32_t SocketFTP::FlushSendQueue()
{
    if (m_sendQueue.Size() == 0)
        return 1;
    for (;;) {
        if (m_flags.m_iSendEnabled == 0)
            return 1;
        std::unique_ptr<::SendRecord> record = m_sendQueue.Pop();
        if (!record)
            return 1;
        m_tLastActivity = Now();
        if (record->m_iHandOver != 0 && m_pBlockSocket != nullptr) {
            // The host's answers after this line belong to its request. They
            // are filed under it from the moment the turn is back with the PC:
            // by then every answer to the previous request has been handled.
            if (!WaitForTurn())
                return 0;
            m_pLine->SetAnswerMsgId(record->m_iMsgId);
            // Likewise the request that the host's HPMSG answers is the item
            // of this line, not the one queued last: a delete queued in one
            // pass with an upload behind it would otherwise have its "RC=0"
            // taken for the upload's intermediate acknowledgement, and the
            // turn that follows it would be ignored.
            m_pLine->m_iLastReqItem = record->m_iItemId;
        }
        if (SendRecord(record->m_data, record->m_iLength, record->m_iHandOver) == 0)
            return 0;
        if (m_sendQueue.Size() == 0)
            return 1;
    }
}

bool SocketFTP::WaitForTurn()
{
    // As BlockSocket::Send waits: more than T0 seconds on a clock of seconds.
    const int64_t start = Now();
    while (m_pBlockSocket->GetTurn() != 1) {
        if (m_iAbort != 0 || g_iStopSignal.load() != 0)
            return false;
        if (Now() - start > m_iT0) {
            NoTurn();
            return false;
        }
        Task::Sleep(kPollMillis);
    }
    return true;
}

void SocketFTP::NoTurn()
{
    // The host kept the turn. Nothing at all moved for T0: that is the
    // communication timeout. Otherwise the host talked without ever giving
    // the turn back: the conversation is out of step.
    if (TimeoutExpired())
        CommunicationTimeout();
    ELOG(1, 1, 120, "SocketFTP-Send-Thread record not sent: no turn within T0=%d[sec]\n", m_iT0);
    MarkBroken(CM_OPERATION_INCOMPLETE);
}

int32_t SocketFTP::SendRecord(const uint8_t* pData, int32_t iLength, int32_t iHandOver)
{
    if (m_pBlockSocket == nullptr)
        return 1;
    try {
        m_pBlockSocket->Send(pData, iLength, m_iT0, iHandOver);
    } catch (const SocketError& e) {
        MarkBroken(e.m_iRC != 0 ? e.m_iRC : CM_PROGRAM_PARAMETER_CHECK);
        return 0;
    } catch (const std::exception&) {
        MarkBroken(CM_PRODUCT_SPECIFIC_ERROR);
        return 0;
    }
    if (m_pBlockSocket->LastSendDropped() != 0) {
        NoTurn();
        return 0;
    }
    return 1;
}

int32_t SocketFTP::ReceiveBlock()
{
    // Cleared: the rest of the area is still zero from the previous clear.
    uint8_t* area = m_pRecvArea.get();
    std::memset(area, 0, std::max(m_nRecvUsed, kPrefix));
    m_nRecvUsed = 0;
    if (m_pBlockSocket == nullptr)
        return 1;
    int32_t received = 0;
    try {
        received = m_pBlockSocket->Receive(area, m_iT0);
    } catch (const SocketError& e) {
        // The host did not answer within T0: nothing was received and the
        // conversation stays usable; the send thread's watch on T0 decides.
        if (e.m_iRC == CM_OPERATION_INCOMPLETE)
            return 1;
        MarkBroken(e.m_iRC != 0 ? e.m_iRC : CM_PROGRAM_PARAMETER_CHECK);
        return 0;
    } catch (const std::exception&) {
        MarkBroken(CM_PRODUCT_SPECIFIC_ERROR);
        return 0;
    }
    // Where a record's name prefix stands; the items translate their data.
    Translate::Instance()->TranslateToPC(area, static_cast<int>(kPrefix));
    if (received > 0) {
        const size_t n = std::min(static_cast<size_t>(received), static_cast<size_t>(kWorkArea));
        m_nRecvUsed = n;
        ELock lock(&m_recvLock);
        m_vecRecv.insert(m_vecRecv.end(), area, area + n);
    }
    return 1;
}

int32_t SocketFTP::ReadStep()
{
    // 1. Nothing is due from the host.
    if (m_flags.m_iReadEnabled == 0)
        return 1;
    // 2.
    if (ReceiveBlock() == 0)
        return 0;

    // 3. Split and hand over, under the line lock.
    ELock lineLock(&m_lineLock);
    std::vector<uint8_t> record;
    for (;;) {
        SplitStep step;
        {
            ELock lock(&m_recvLock);
            step = FTPLine::SplitRecord(m_vecRecv.data(), m_vecRecv.size());
            if (step.m_result == SplitResult::Record)
                record.assign(m_vecRecv.begin(), m_vecRecv.begin() + static_cast<std::ptrdiff_t>(step.m_nLength));
            if (step.m_result == SplitResult::Record || step.m_result == SplitResult::DropByte)
                m_vecRecv.erase(m_vecRecv.begin(), m_vecRecv.begin() + static_cast<std::ptrdiff_t>(step.m_nLength));
        }
        if (step.m_result == SplitResult::Empty || step.m_result == SplitResult::Wait)
            return 1;
        if (step.m_result == SplitResult::DropByte)
            continue;

        // A record: its item by the name prefix.
        char prefix[kPrefix + 1] = {0};
        std::memcpy(prefix, record.data(), kPrefix);
        FTPItem* item = m_pLine->FindFTPItem(prefix);
        if (item != nullptr) {
            int32_t length = static_cast<int32_t>(record.size() - kPrefix);
            item->SaveReceivedString(record.data() + kPrefix, length);
        }
        m_tLastActivity = Now();

        // 4. More is due: receive again within this pass.
        if (m_flags.m_iReadEnabled != 0 && ReceiveBlock() == 0)
            return 0;
    }
}
