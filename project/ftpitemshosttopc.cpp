#include "ftpitemshosttopc.h"

#include "blockSocket.h"
#include "configmodul.h"
#include "elog.h"
#include "ftpline.h"
#include "translate.h"
#include "trash.h"

#include "platform/platform.h"

#include <sqlite3.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <vector>

const char* const g_pszDownloadFailedCmd = "HPEODFAIL";

namespace {

FTPItem_HPDATA* FindDownloadItem(FTPLine* pLine)
{
    return pLine != nullptr ? dynamic_cast<FTPItem_HPDATA*>(pLine->FindFTPItem("HPDATA")) : nullptr;
}

// The row that tells the front end that a download failed on the PC side;
// written in place of HPEOD's row, so the download is never reported as
// complete.
void InsertDownloadFailure(FTPLine* pLine, FTPItem* pItem, const std::string& strReason, const std::string& strPath)
{
    if (pLine == nullptr)
        return;
    ELOG(2, 1, 200, "SaveReceivedString: %s %s\n", strReason.c_str(), strPath.c_str());
    char* sql = sqlite3_mprintf("INSERT INTO Response (Id, Cmd, Data, File) VALUES ('%d','%q','%q','%q')",
                                static_cast<int>(pLine->GetAnswerMsgId()), g_pszDownloadFailedCmd, strReason.c_str(),
                                strPath.c_str());
    if (sql != nullptr)
        pLine->InsertResponse(pItem, nullptr, sql);
    sqlite3_free(sql);
    if (pLine->GetFlags() != nullptr)
        pLine->GetFlags()->AnswerFailed();
}

// Ends the download under way (if any) for an item that closes the exchange;
// a failed download gets its failure row. bHostError: the item is the host's
// error message, which cuts the download off.
void EndDownloadFor(FTPLine* pLine, FTPItem* pItem, const std::string& strHostText, bool bHostError)
{
    FTPItem_HPDATA* data = FindDownloadItem(pLine);
    if (data == nullptr)
        return;
    if (bHostError)
        data->HostEnded();
    std::string reason;
    std::string path;
    if (data->EndDownload(reason, path))
        InsertDownloadFailure(
            pLine, pItem, strHostText.empty() ? reason : reason + "; " + pItem->GetName() + ": " + strHostText, path);
}

} // namespace

// ---------------------------------------------------------------- HPREADY

FTPItem_HPREADY::~FTPItem_HPREADY()
{
    // The front end sees the run ended: the process id becomes -1.
    if (m_pLine != nullptr && m_pLine->GetDb() != nullptr)
        m_pLine->ResetSystemPid(this);
}

void FTPItem_HPREADY::SaveReceivedString(uint8_t* pBytes, int32_t& iLength)
{
    std::string member;
    if (g_pConfigModul != nullptr)
        g_pConfigModul->GetParm("TCP.MEMBER", member);
    ELOG(1, 3, 121, "Connection with %s established\n", member.c_str());
    TakeReceived(pBytes, iLength);
    if (m_pLine != nullptr) {
        m_pLine->InsertResponse(this, nullptr, nullptr);
        m_pLine->InsertSystemPid(this);
    }
    if (GetExchange() != nullptr)
        GetExchange()->ExchangeClosed();
}

// ---------------------------------------------------------------- HPMSG

void FTPItem_HPMSG::SaveReceivedString(uint8_t* pBytes, int32_t& iLength)
{
    TakeReceived(pBytes, iLength);
    if (m_pLine != nullptr)
        m_pLine->InsertResponse(this, nullptr, nullptr);
    Exchange* exchange = GetExchange();
    if (exchange != nullptr)
        exchange->SendingResumed();
    const char* text = reinterpret_cast<const char*>(m_pData.get());
    ELOG(1, 5, 200, "SaveReceivedString: %s\n", text);
    if (m_pLine == nullptr || exchange == nullptr)
        return;

    if (std::strstr(text, "RC=0") == nullptr) {
        ELOG(0, 5, 200, "SaveReceivedString: RC<>0\n");
        exchange->ExchangeClosed();
        // The exchange is over: a download still open is closed (the next
        // one starts a file of its own) and, cut off by the host's error,
        // reported as failed.
        EndDownloadFor(m_pLine, this, text, true);
        return;
    }
    ELOG(0, 5, 200, "SaveReceivedString: RC=0\n");

    // The request this message answers: the one whose line last passed the
    // turn to the host.
    const int32_t lastReqItem = exchange->LastRequestItem();
    FTPItem* last = m_pLine->FindFTPItemById(lastReqItem);
    if (last != nullptr) {
        ELOG(1, 5, 200, "SaveReceivedString->LastReqItem: %s\n", last->GetName());
    } else {
        ELOG(1, 3, 120, "ERROR: unrecognized FTP data item with id: %d\n", lastReqItem);
        ELOG(1, 5, 200, "SaveReceivedString->LastReqItem: %d\n", lastReqItem);
    }

    FTPItem* eod = m_pLine->FindFTPItem("PHEOD");
    if (eod == nullptr || eod->GetId() != lastReqItem)
        return;

    // The last request was the end of an upload.
    if (std::strstr(text, "ROWS=") != nullptr) {
        exchange->UploadStored();
        EndDownloadFor(m_pLine, this, text, false);
        return;
    }
    // An intermediate acknowledgement: the host keeps the exchange open and
    // the empty block that follows it does not give the turn back.
    exchange->IntermediateAck();
}

// ---------------------------------------------------------------- HPDATA

FTPItem_HPDATA::FTPItem_HPDATA(const char* pszName, int32_t iId, uint16_t nType, std::atomic<int32_t>* pReady,
                               FTPLine* pLine)
    : FTPItem(pszName, iId, nType, pReady, pLine), m_pFileBuffer(new char[kFileBuffer]),
      m_pRecordArea(new uint8_t[2 * static_cast<size_t>(kBufferSize) + 4])
{
}

FTPItem_HPDATA::~FTPItem_HPDATA()
{
    std::string reason;
    std::string path;
    EndDownload(reason, path);
}

void FTPItem_HPDATA::SaveReceivedString(uint8_t* pBytes, int32_t& iLength)
{
    // A download is under way: stop the sender, keep the exchange open.
    Exchange* exchange = GetExchange();
    if (exchange != nullptr)
        exchange->DownloadRecord();
    const bool binary = exchange != nullptr && exchange->Binary();
    if (!binary && pBytes != nullptr && iLength > 0 && m_pTable != nullptr)
        m_pTable->TranslateToPC(pBytes, iLength);

    try {
        FTPItem::SaveReceivedString(pBytes, iLength);
        ELOG(1, 5, 200, "Binary mode: %d\n", binary ? 1 : 0);

        if (!m_bInDownload) {
            m_bInDownload = true;
            m_bFailed = false;
            m_iLost = 0;
            m_strPath.clear();
            m_strFailure.clear();
        }

        if (m_pFileOUT == nullptr) {
            const std::string name = MakeTempFileName();
            ELOG(1, 5, 200, "File temp name: %s\n", name.c_str());
            const std::string path = m_strTempPath + Platform::pathSeparator + name;
            // Owner-only, a new file, never through a link.
            m_pFileOUT = Platform::openPrivateFile(path, true, false);
            ELOG_ASSERT(m_pFileOUT);
            // Large writes; the close at the end of the download (before its
            // HPEOD or HPEODFAIL row) writes the rest.
            if (m_pFileOUT != nullptr)
                std::setvbuf(m_pFileOUT, m_pFileBuffer.get(), _IOFBF, kFileBuffer);
            Trash::Register(path);
            if (m_pLine != nullptr) {
                FTPItem* eod = m_pLine->FindFTPItem("HPEOD");
                if (eod != nullptr)
                    eod->m_pFileOUT = m_pFileOUT;
            }
            int32_t none = 0;
            SetData(nullptr, none);
            // The row that names the file only when there is a file.
            if (m_pFileOUT != nullptr) {
                m_strPath = path;
                // Without its row the front end cannot find the file: the
                // download fails, whatever the host sends.
                if (m_pLine != nullptr && m_pLine->InsertResponse(this, path.c_str(), nullptr) != 1) {
                    m_bFailed = true;
                    m_strFailure = "ERROR: the Response row naming the download file could not be written";
                    ELOG(2, 1, 200, "SaveReceivedString: %s %s\n", m_strFailure.c_str(), path.c_str());
                }
            }
            std::string format;
            if (ConfigValue("GLOBAL.DOWNLOAD_FORMAT", format) && IsHexSetting(format))
                m_bHex = 1;
        }

        if (m_pFileOUT != nullptr) {
            WriteRecord(pBytes, iLength, binary);
        } else {
            ELOG(0, 1, 200, "SaveReceivedString: No temp file created!\n");
            m_bFailed = true;
            ++m_iLost;
            m_strFailure = "ERROR: download file could not be created, " + std::to_string(m_iLost) + " record(s) lost";
        }
    } catch (const std::exception& e) {
        ELOG(2, 1, 200, "SaveReceivedString: Exception occurred at line %d - %s\n", 244, e.what());
        m_bFailed = true;
        m_strFailure = std::string("ERROR: a record of the download was lost: ") + e.what();
    } catch (...) {
        ELOG(1, 1, 200, "SaveReceivedString: Unknown exception occurred at line %d\n", 247);
        m_bFailed = true;
        m_strFailure = "ERROR: a record of the download was lost";
    }
}

void FTPItem_HPDATA::WriteRecord(uint8_t* pBytes, int32_t& iLength, bool bBinary)
{
    size_t length = pBytes != nullptr && iLength > 0 ? static_cast<size_t>(iLength) : 0;
    // A block never holds more than a line; the area has room for the
    // hexadecimal image of that and the line feed.
    if (length > static_cast<size_t>(kBufferSize))
        length = static_cast<size_t>(kBufferSize);
    uint8_t* buffer = m_pRecordArea.get();
    if (length > 0)
        std::memcpy(buffer, pBytes, length);
    size_t out = length;
    if (!bBinary) {
        if (m_bHex != 0 && length > 0)
            out = static_cast<size_t>(BytesToHex(buffer, static_cast<int32_t>(length)));
        buffer[out++] = 0x0A;
    }
    // A file that already failed gets no more records: what it holds is no
    // longer the host's data.
    if (!m_bFailed && out > 0) {
        errno = 0;
        const size_t written = std::fwrite(buffer, 1, out, m_pFileOUT);
        if (written != out) {
            const int error = errno;
            m_bFailed = true;
            m_strFailure = "ERROR: download file could not be written completely: " +
                           std::string(error != 0 ? std::strerror(error) : "write failed");
            ELOG(2, 1, 200, "SaveReceivedString: %s %s\n", m_strFailure.c_str(), m_strPath.c_str());
        }
    }
    iLength = 0;
}

void FTPItem_HPDATA::HostEnded()
{
    if (m_bInDownload && !m_bFailed) {
        m_bFailed = true;
        m_strFailure = "ERROR: the host ended the download before its end";
    }
}

bool FTPItem_HPDATA::EndDownload(std::string& strReason, std::string& strPath)
{
    if (m_pFileOUT != nullptr) {
        errno = 0;
        // The buffered tail is written by the close: its failure counts too.
        if (std::fclose(m_pFileOUT) != 0 && !m_bFailed) {
            const int error = errno;
            m_bFailed = true;
            m_strFailure = "ERROR: download file could not be written completely: " +
                           std::string(error != 0 ? std::strerror(error) : "close failed");
        }
        m_pFileOUT = nullptr;
        if (m_pLine != nullptr) {
            FTPItem* eod = m_pLine->FindFTPItem("HPEOD");
            if (eod != nullptr)
                eod->m_pFileOUT = nullptr;
        }
    }
    const bool failed = m_bInDownload && m_bFailed;
    if (failed) {
        strReason = m_strFailure;
        strPath = m_strPath;
    }
    m_bInDownload = false;
    m_bFailed = false;
    m_iLost = 0;
    m_strPath.clear();
    m_strFailure.clear();
    return failed;
}

// ---------------------------------------------------------------- HPEOD

void FTPItem_HPEOD::SaveReceivedString(uint8_t* pBytes, int32_t& iLength)
{
    TakeReceived(pBytes, iLength);
    const std::string text(reinterpret_cast<const char*>(m_pData.get()));
    std::string reason;
    std::string path;
    FTPItem_HPDATA* data = FindDownloadItem(m_pLine);
    bool failed = false;
    if (data != nullptr) {
        failed = data->EndDownload(reason, path);
    } else if (m_pFileOUT != nullptr) {
        std::fclose(m_pFileOUT);
    }
    m_pFileOUT = nullptr;
    Exchange* exchange = GetExchange();
    if (m_pLine != nullptr) {
        if (failed)
            InsertDownloadFailure(m_pLine, this, text.empty() ? reason : reason + "; HPEOD: " + text, path);
        else if (exchange != nullptr && exchange->AnswerHasFailed())
            // The host's error already ended this download as failed: its
            // closing HPEOD does not make the file complete.
            ELOG(1, 3, 200, "SaveReceivedString: HPEOD of a failed download not reported: %s\n", text.c_str());
        else
            m_pLine->InsertResponse(this, nullptr, nullptr);
    }
    if (exchange != nullptr)
        exchange->ExchangeClosed();
}

// ---------------------------------------------------------------- HPTXT

void FTPItem_HPTXT::SaveReceivedString(uint8_t* pBytes, int32_t& iLength)
{
    TakeReceived(pBytes, iLength);
    if (m_pLine != nullptr)
        m_pLine->InsertResponse(this, nullptr, nullptr);
    if (GetExchange() != nullptr)
        GetExchange()->SendingResumed();
    ELOG(1, 3, 121, "%s\n", reinterpret_cast<const char*>(m_pData.get()));
}
