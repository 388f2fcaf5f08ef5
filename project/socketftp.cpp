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

#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <exception>

namespace {

const uint32_t kPollMillis = 125;
// Records taken from the send queue at a time.
const size_t kDrainBatch = 64;
const size_t kPrefix = static_cast<size_t>(FTPItem::kPrefixSize);
const int32_t kWorkArea = FTPItem::kBufferSize;
// Bytes read from an upload file at a time.
const size_t kReadChunk = 256 * 1024;

int32_t ConfigNumber(const char* key, int32_t fallback)
{
    std::string value;
    return ConfigValue(key, value) ? std::atoi(value.c_str()) : fallback;
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

    size_t taken = 0;  // bytes consumed from the file
    size_t length = 0; // bytes of the piece before decoding
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

    // The line this piece belongs to; a line feed taken ends it.
    m_iPieceLine = m_iLine;
    if (!m_bBinary && taken > 0 && start[taken - 1] == '\n')
        ++m_iLine;

    if (m_bHex && length % 2 != 0) {
        // A digit without its pair: the record cannot be formed. (A long
        // line is cut at an even number of digits, so this is its end.)
        m_nPos += taken;
        return -2;
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

int UploadReader::Check(const char* pszPath, bool bHex, bool bBinary, int64_t& iBadLine)
{
    iBadLine = 0;
    // Only a hexadecimal image can hold a record that cannot be formed.
    if (!bHex || bBinary)
        return 1;
    std::FILE* file = std::fopen(pszPath, "rb");
    if (file == nullptr)
        return -1;
    UploadReader reader(file, bHex, bBinary);
    std::unique_ptr<uint8_t[]> piece(new uint8_t[kMaxPiece + 1]);
    int result = 1;
    for (;;) {
        int32_t length = 0;
        const int read = reader.Next(piece.get(), length);
        if (read == 1)
            continue;
        if (read == -2) {
            iBadLine = reader.PieceLine();
            result = 0;
        } else if (read < 0) {
            result = -1;
        }
        break;
    }
    std::fclose(file);
    return result;
}

// ---------------------------------------------------------------- SocketFTP

SocketFTP::SocketFTP(BlockSocket* pBlockSocket)
    : m_pBlockSocket(pBlockSocket), m_pSendArea(new uint8_t[kWorkArea]), m_pRecvArea(new uint8_t[kWorkArea])
{
    // Start values: the exchange starts as Exchange gives it.
    m_tLastActivity = Now();
    std::memset(m_pSendArea.get(), 0, kWorkArea);
    std::memset(m_pRecvArea.get(), 0, kWorkArea);

    // Settings and database.
    Init();
    if (m_pDb)
        StartDbWatch(WorkDir::FromConfig().database);

    // The item registry, then the opening item: the host expects PHREADY
    // before any request.
    m_pLine.reset(new FTPLine(&m_flags, &m_sendQueue, m_pDb.get()));
    m_pLine->SetBlockSocket(m_pBlockSocket);
    {
        ELock lock(&m_lineLock);
        m_pLine->QueueFTPItem(kOpeningMsgId, "PHREADY", nullptr, 0);
    }

    // The send thread.
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

    // The read thread.
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

    // Wait for both threads.
    if (g_iRC == 0) {
        try {
            // This thread watches the communication timeout: neither engine
            // thread can, since either may wait in a send, a receive or a
            // read of an upload file.
            while (m_iSendEnded == 0 || m_iReadEnded == 0) {
                // A commit of the front end wakes the send thread at once;
                // without one, T0 is looked at every poll interval.
                if (m_dbWatch.wait(kPollMillis))
                    m_flags.Wake();
                Watch();
            }
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
    // The conversation outlives the engine: it no longer announces its
    // turn on the engine's wake-up.
    if (m_pBlockSocket != nullptr)
        m_pBlockSocket->SetWakeup(nullptr);
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
    // Timeouts.
    m_iT0 = ConfigNumber("FTP.T0", 30);
    m_iT1 = ConfigNumber("FTP.T1", 60);

    // The same path the transfer module composed.
    const std::string path = WorkDir::FromConfig().database;

    // The database, recreated for this run. An empty path would give
    // SQLite's private temporary database, which the front end cannot reach:
    // that is no database.
    if (!path.empty()) {
        m_pDb.reset(new MySqlite(path.c_str()));
        if (m_pDb->Create(g_pszDbCreateScript) != 1)
            m_pDb.reset();
    } else {
        ELOG(0, 1, 120, "SocketFTP: no database path (GLOBAL.TEMP_PATH, GLOBAL.WORK_DIR, SQLITE.DBNAME)\n");
    }

    // Deleted at the end of the process, only when this run created it.
    if (WorkDir::CreatedDatabase())
        Trash::Register(path);
}

int64_t SocketFTP::Now()
{
    // Whole seconds on a clock that a change of the system time does not
    // move, read for every record: the cheap reading will do.
    return static_cast<int64_t>(Platform::coarseMillis() / 1000);
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

void SocketFTP::Watch()
{
    if (m_iAbort != 0 || !TimeoutExpired())
        return;
    // Nothing moved for T0. A host that answered and then kept the turn is
    // out of step (NoTurn); one that never said a word is silent.
    if (m_flags.HostAnsweredWithTurn())
        NoTurn();
    else
        CommunicationTimeout();
}

void SocketFTP::StartDbWatch(const std::string& strDbPath)
{
    const std::string::size_type slash = strDbPath.find_last_of(Platform::pathSeparator);
    const std::string directory = slash == std::string::npos ? "." : strDbPath.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? strDbPath : strDbPath.substr(slash + 1);
    // Without the watch the send thread still looks every poll interval.
    if (!m_dbWatch.start(directory, name))
        ELOG(1, 2, 120, "SocketFTP: no change notification for %s, the send thread polls\n", strDbPath.c_str());
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
    m_flags.Wake();
}

void SocketFTP::ftpSendTaskEntry(void* pArg)
{
    SocketFTP* self = static_cast<SocketFTP*>(pArg);
    ELOG(0, 3, 120, "SocketFTP-Send-Thread running..ok\n");
    Wakeup& wake = self->m_flags.Waker();
    int32_t result = 0;
    for (;;) {
        const uint64_t seen = wake.Generation();
        result = self->SendStep();
        if (result != 1 || self->m_flags.Closing() || self->m_iAbort != 0 || g_iStopSignal.load() != 0)
            break;
        // Until the next change (a commit of the front end, the turn back,
        // sending switched on, an exchange closed), at most one poll
        // interval; a pass that changed something runs again at once.
        wake.WaitChange(seen, kPollMillis);
    }
    // What was queued before CLOSE still goes out.
    if (result == 1 && self->m_flags.Closing() && g_iStopSignal.load() == 0)
        self->DrainBeforeClose();
    // The read thread ends with this one, and a receive that still waits
    // for the host gives up.
    self->m_iSendEnded = 1;
    if (self->m_pBlockSocket != nullptr)
        self->m_pBlockSocket->SetStop();
    self->m_flags.Wake();
}

void SocketFTP::ftpReadTaskEntry(void* pArg)
{
    SocketFTP* self = static_cast<SocketFTP*>(pArg);
    ELOG(0, 3, 120, "SocketFTP-Read-Thread running..ok\n");
    Wakeup& wake = self->m_flags.Waker();
    int32_t result = 0;
    for (;;) {
        const uint64_t seen = wake.Generation();
        result = self->ReadStep();
        // It goes on after a close request until the send thread has sent
        // what was queued before it: those records may still need the
        // host's acknowledgement.
        if (result != 1 || self->m_iSendEnded != 0 || self->m_iAbort != 0 || g_iStopSignal.load() != 0)
            break;
        // Reading switched on or the turn passed to the host wake it.
        wake.WaitChange(seen, kPollMillis);
    }
    self->m_iReadEnded = 1;
}

void SocketFTP::DrainBeforeClose()
{
    // Sending may be held while the host answers a line queued before; the
    // watch on T0 ends a host that never lets it go.
    Wakeup& wake = m_flags.Waker();
    while (m_iAbort == 0 && g_iStopSignal.load() == 0 && m_sendQueue.Size() != 0) {
        const uint64_t seen = wake.Generation();
        if (FlushSendQueue() != 1)
            return;
        if (m_sendQueue.Size() != 0)
            wake.WaitChange(seen, kPollMillis);
    }
}

int32_t SocketFTP::SendStep()
{
    if (m_iAbort != 0)
        return 0;

    // No database, no requests.
    if (!m_pDb) {
        ELOG(0, 3, 120, "SocketFTP-Send-Thread SqLite is not ready\n");
        g_iRC = 8;
        return 0;
    }

    // An exchange is open, or CLOSE was taken: only drain the queue.
    if (!m_flags.TakingRows())
        return FlushSendQueue();

    // Take the rows in insertion order.
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

        const int32_t msgId = columns.size() > 1 ? std::atoi(columns[1].c_str()) : 0;
        const char* cmd = columns.size() > 2 ? columns[2].c_str() : "";
        const uint8_t* data = reinterpret_cast<const uint8_t*>(columns.size() > 3 ? columns[3].c_str() : "");
        const char* file = columns.size() > 4 ? columns[4].c_str() : "";
        // The row's file follows its item, and only an item that sends a
        // line: on an unknown Cmd, PING or CLOSE it is ignored.
        const bool upload = file[0] != '\0' && m_pLine->SendsLine(cmd);
        std::string reason;
        if (upload && !CheckUpload(file, reason)) {
            // Refused before anything of it is queued: the front end gets
            // the failure row, the host nothing, the run goes on.
            ELOG(2, 1, 120, "Uploading file '%s' refused: %s\n", file, reason.c_str());
            {
                ELock lock(&m_lineLock);
                m_pLine->TakeMsgId(msgId);
            }
            InsertUploadFailure(msgId, reason, file);
        } else {
            int32_t queued = 0;
            {
                ELock lock(&m_lineLock);
                queued = m_pLine->QueueFTPItem(msgId, cmd, data, 0);
            }
            // The records of the file, outside the line lock: a long file
            // drains the queue, which waits for the host's answers to lines
            // queued before, and the read thread handles those under it.
            if (upload && queued == 1) {
                const int32_t result = UploadFile(file);
                if (result == 0) {
                    ELOG(1, 1, 120, "Uploading file '%s' can't be read\n", file);
                    // The request was taken but cannot be carried out: the
                    // run ends as a failed transfer, not as one that went well.
                    g_iRC = 16;
                    return 0;
                }
                if (result < 0)
                    return 0;
            }
        }

        // An exchange was opened, or CLOSE taken: the rows behind wait
        // (after CLOSE for good); the queue is drained.
        if (!m_flags.TakingRows())
            return FlushSendQueue();
    }
}

bool SocketFTP::CheckUpload(const char* pszPath, std::string& strReason)
{
    // A missing file is left to the upload itself (it cannot be read).
    if (!Platform::pathExists(pszPath))
        return true;
    // A FIFO or a device would block the send thread or never end; a
    // directory has no records.
    if (!Platform::isRegularFile(pszPath)) {
        strReason = "ERROR: the upload file is not a regular file";
        return false;
    }
    std::string format;
    const bool hex = ConfigValue("GLOBAL.UPLOAD_FORMAT", format) && IsHexSetting(format);
    int64_t badLine = 0;
    if (UploadReader::Check(pszPath, hex, m_flags.Binary(), badLine) == 0) {
        strReason = "ERROR: upload line " + std::to_string(badLine) +
                    " has an odd number of hexadecimal digits, nothing was sent";
        return false;
    }
    return true;
}

void SocketFTP::InsertUploadFailure(int32_t iMsgId, const std::string& strReason, const char* pszPath)
{
    char* sql = sqlite3_mprintf("INSERT INTO Response (Id, Cmd, Data, File) VALUES ('%d','%q','%q','%q')",
                                static_cast<int>(iMsgId), kUploadFailedCmd, strReason.c_str(), pszPath);
    if (sql == nullptr || m_pLine->InsertResponse(nullptr, nullptr, sql) != 1)
        ELOG(1, 1, 120, "ERROR: the failure row of request %d could not be written\n", iMsgId);
    sqlite3_free(sql);
}

int32_t SocketFTP::UploadFile(const char* pszPath)
{
    std::string format;
    const bool hex = ConfigValue("GLOBAL.UPLOAD_FORMAT", format) && IsHexSetting(format);
    std::FILE* file = std::fopen(pszPath, "rb");
    if (file == nullptr)
        return 0;

    const bool binary = m_flags.Binary();
    UploadReader reader(file, hex, binary);
    // Found once, not by name for every record.
    FTPItem* dataItem = m_pLine->FindFTPItem("PHDATA");
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
        m_pLine->QueueItem(dataItem, 0, piece.get(), length);
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
    int32_t result = DrainQueue();
    // Records sent without the turn would otherwise wait in the library's
    // buffer until the next send; the host must see them now.
    if (result == 1 && m_bHeldRecords)
        result = FlushHeldRecords();
    // The queue is whole again for whoever looks at it next; the sent
    // records are taken back for the next lines, in one go.
    if (!m_deqTaken.empty())
        m_sendQueue.PushFront(m_deqTaken);
    if (!m_vecSent.empty())
        m_sendQueue.Recycle(m_vecSent);
    return result;
}

int32_t SocketFTP::DrainQueue()
{
    for (;;) {
        if (!m_flags.SendingOn())
            return 1;
        if (m_deqTaken.empty() && m_sendQueue.PopBatch(m_deqTaken, kDrainBatch) == 0)
            return 1;
        std::unique_ptr<::SendRecord> record = std::move(m_deqTaken.front());
        m_deqTaken.pop_front();
        m_tLastActivity = Now();
        if (record->m_iHandOver == static_cast<int32_t>(HandOver::Pass)) {
            // Every answer to the previous line has been handled once the
            // turn is back; from now on the host answers this line.
            if (m_pBlockSocket != nullptr && !WaitForTurn())
                return 0;
            m_flags.LinePassedTurn(record->m_iItemId, record->m_iMsgId);
        }
        if (SendRecord(record->m_data, record->m_iLength, record->m_iHandOver) == 0)
            return 0;
        m_bHeldRecords = record->m_iHandOver != static_cast<int32_t>(HandOver::Pass);
        m_vecSent.push_back(std::move(record));
    }
}

bool SocketFTP::WaitForTurn()
{
    // As BlockSocket::Send waits: more than T0 seconds on a clock of seconds.
    const int64_t start = Now();
    Wakeup& wake = m_flags.Waker();
    for (;;) {
        const uint64_t seen = wake.Generation();
        if (m_pBlockSocket->GetTurn() == 1)
            return true;
        if (m_iAbort != 0 || g_iStopSignal.load() != 0)
            return false;
        if (Now() - start > m_iT0) {
            NoTurn();
            return false;
        }
        // The acknowledgement that returns the turn wakes it.
        wake.WaitChange(seen, kPollMillis);
    }
}

void SocketFTP::NoTurn()
{
    // The host kept the turn for T0. Without a word since it got it, that
    // is the communication timeout; after an answer the conversation is
    // out of step: the run fails at once.
    if (!m_flags.HostAnsweredSinceTurn())
        CommunicationTimeout();
    if (m_iNoTurnLogged.exchange(1) == 0)
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

int32_t SocketFTP::FlushHeldRecords()
{
    m_bHeldRecords = false;
    if (m_pBlockSocket == nullptr)
        return 1;
    try {
        m_pBlockSocket->Flush();
    } catch (const SocketError& e) {
        MarkBroken(e.m_iRC != 0 ? e.m_iRC : CM_PRODUCT_SPECIFIC_ERROR);
        return 0;
    }
    return 1;
}

int32_t SocketFTP::ReceiveBlock()
{
    // Only the bytes past the block are ever looked at unreceived: the
    // prefix translated below. Clearing the whole area for every block would
    // cost a 32000-byte fill per record.
    uint8_t* area = m_pRecvArea.get();
    std::memset(area, 0, kPrefix);
    m_nRecvUsed = 0;
    if (m_pBlockSocket == nullptr)
        return 1;
    int32_t received = 0;
    const int32_t turnBefore = m_pBlockSocket->GetTurn();
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
    if (received > 0 || (turnBefore == 0 && m_pBlockSocket->GetTurn() == 1)) {
        // A record, or the acknowledgement that returned the turn.
        m_flags.HostAnswered();
        m_tLastActivity = Now();
    }
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
    // Nothing is due from the host.
    if (!m_flags.ReadingOn())
        return 1;
    for (;;) {
        // One block, received outside the line lock.
        if (ReceiveBlock() == 0)
            return 0;
        if (m_nRecvUsed == 0)
            return 1;
        // Split and hand over, under the line lock, with the splitter
        // that the unit tests and the fuzz target exercise.
        {
            ELock lineLock(&m_lineLock);
            ELock lock(&m_recvLock);
            FTPLine::SplitBlock(m_vecRecv, [this](const char* pszPrefix, uint8_t* pPayload, int32_t iLength) {
                FTPItem* item = m_pLine->FindFTPItem(pszPrefix);
                if (item != nullptr)
                    item->SaveReceivedString(pPayload, iLength);
                m_tLastActivity = Now();
            });
        }
        // More is due: receive again within this pass.
        if (!m_flags.ReadingOn())
            return 1;
    }
}
