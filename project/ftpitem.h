#pragma once
// Base class of the protocol items: one object per item kind and run, reused
// for every occurrence, holding the payload of the latest one.

#include "cobject.h"
#include "linelimits.h"
#include "exchange.h"
#include "task.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

class FTPLine;
class Translate;

class FTPItem : public CObject {
public:
    // Size of the payload buffer and of a line buffer.
    static constexpr int32_t kBufferSize = Limits::kBlock;
    // Width of the name prefix of a line.
    static constexpr int32_t kPrefixSize = Limits::kPrefix;
    // The longest payload that reaches the host.
    static constexpr int32_t kMaxSendPayload = Limits::kMaxPayload;

    // pReady: the engine flag tied to the item's type (read-enabled for
    // requests, send-enabled for the host's items; may be null); pLine: the
    // owning registry, through which the exchange is reached.
    FTPItem(const char* pszName, int32_t iId, uint16_t nType, std::atomic<int32_t>* pReady, FTPLine* pLine);
    ~FTPItem() override;
    FTPItem(const FTPItem&) = delete;
    FTPItem& operator=(const FTPItem&) = delete;

    // Handles the bytes of a record from the host (after the prefix); the
    // base only logs them and leaves iLength unchanged.
    virtual void SaveReceivedString(uint8_t* pBytes, int32_t& iLength);
    // Writes the complete line for the host into pLine (kBufferSize bytes),
    // its length (below 1: nothing to send) and the hand-over flag. The base
    // produces nothing.
    virtual void BuildSendString(uint8_t* pLine, int32_t& iLength, int32_t& iHandOver);
    // Zero-fills bytes 10.. of the line, writes the blank-padded name to
    // bytes 0..9 and sets iLength to 10.
    virtual void BuildPrefix(uint8_t* pLine, int32_t& iLength);
    // Stores a payload of iLength bytes (iLength becomes 0) and returns the
    // stored length. A payload longer than kMaxSendPayload (or negative) is
    // refused with a log line: nothing changes and -1 is returned.
    virtual int32_t SetData(const uint8_t* pBytes, int32_t& iLength);
    // Appends the stored payload to the line at offset iLength, adds its
    // length to iLength and returns the number of bytes appended.
    virtual int32_t AppendData(uint8_t* pLine, int32_t& iLength);

    // A new download file name without directory and extension: local time
    // "%Y%m%d%H%M%S", the milliseconds, "-", a random number 1000..9999.
    std::string MakeTempFileName();

    const char* GetName() const { return m_pszName.get(); }
    int32_t GetId() const { return m_iId; }
    uint16_t GetType() const { return m_nType; }
    const uint8_t* GetData() const { return m_pData.get(); }
    int32_t GetDataLen() const { return m_nDataLen; }
    const std::string& GetTempPath() const { return m_strTempPath; }
    std::atomic<int32_t>* GetReadyFlag() const { return m_piReady; }
    std::atomic<int32_t>* GetExchangeFlag() const;
    FTPLine* GetLine() const { return m_pLine; }

    FILE* m_pFileOUT = nullptr;

    // Replaces the first iLength bytes of pBuffer (iLength 0: up to the
    // first zero byte) by their hexadecimal image, two upper-case digits per
    // byte; pBuffer must have room for twice the length. Gives the new length.
    static int32_t BytesToHex(uint8_t* pBuffer, int32_t iLength);

protected:
    // The temporary directory: GLOBAL.TEMP_PATH, then "/" and
    // GLOBAL.WORK_DIR when that key is present.
    void InitTempPath();

    // The parts every line to the host is built from: the prefix and the
    // stored payload; the translation of the line to the host code page.
    void BuildLine(uint8_t* pLine, int32_t& iLength);
    void TranslateToHost(uint8_t* pLine, int32_t iLength);
    // The whole build of a request line: prefix and payload, what queueing
    // it does to the exchange, the translation, and the hand-over flag.
    void BuildRequest(uint8_t* pLine, int32_t& iLength, int32_t& iHandOver, OnQueue effect, HandOver handOver);
    // Tells the exchange what queueing this item does to it.
    void Queued(OnQueue effect);
    // The first steps of every item from the host: the payload translated in
    // place to the PC code page, the base log line, the payload stored
    // (iLength becomes 0).
    void TakeReceived(uint8_t* pBytes, int32_t& iLength);
    // The exchange of the owning registry; null without one.
    Exchange* GetExchange() const;

    EMutex m_mutex;
    int32_t m_iId;
    uint16_t m_nType;
    std::unique_ptr<char[]> m_pszName;
    std::atomic<int32_t>* m_piReady;
    FTPLine* m_pLine;
    std::string m_strTempPath;
    std::unique_ptr<uint8_t[]> m_pData;
    int32_t m_nDataLen = 0;
    Translate* m_pTable = nullptr;
    int32_t m_bHex = 0;
};
