#include "ftpitem.h"

#include "configmodul.h"
#include "elog.h"
#include "ftpline.h"
#include "platform/platform.h"
#include "translate.h"
#include "workdir.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <random>
#include <vector>

namespace {
// 100-nanosecond units between 1601-01-01 (the platform clock's epoch) and 1970-01-01.
const uint64_t kUnixEpoch100ns = 116444736000000000ULL;
} // namespace

FTPItem::FTPItem(const char* pszName, int32_t iId, uint16_t nType, std::atomic<int32_t>* pReady, FTPLine* pLine)
    : m_iId(iId), m_nType(nType), m_piReady(pReady), m_pLine(pLine)
{
    // The name fills at most the 10 bytes of the line prefix.
    const char* name = pszName != nullptr ? pszName : "";
    const size_t nameLen = std::min<size_t>(std::strlen(name), kPrefixSize);
    m_pData.reset(new uint8_t[kBufferSize]);
    m_pszName.reset(new char[nameLen + 1]);
    std::memcpy(m_pszName.get(), name, nameLen);
    m_pszName[nameLen] = '\0';
    std::memset(m_pData.get(), 0, kBufferSize);

    m_pTable = Translate::Instance();
    InitTempPath();
    ELOG(3, 3, 121, "*** AddNewFTPItem Name-ID-Type: %s-%d-%d\n", m_pszName.get(), m_iId, static_cast<int>(m_nType));
}

FTPItem::~FTPItem() = default;

void FTPItem::SaveReceivedString(uint8_t* pBytes, int32_t& iLength)
{
    // Every record of a download passes here: no copy when the line is not
    // written.
    if (!ElogAccepts(4))
        return;
    const size_t length = (pBytes != nullptr && iLength > 0) ? static_cast<size_t>(iLength) : 0;
    std::vector<char> text(length + 1, '\0');
    if (length > 0)
        std::memcpy(text.data(), pBytes, length);
    ELOG(3, 4, 121, "Received FTPItem Name-Length>>Data: %s-%d>>%s\n", m_pszName.get(), iLength, text.data());
}

void FTPItem::BuildSendString(uint8_t* /*pLine*/, int32_t& iLength, int32_t& iHandOver)
{
    iLength = 0;
    iHandOver = 0;
}

void FTPItem::BuildPrefix(uint8_t* pLine, int32_t& iLength)
{
    std::memset(pLine + kPrefixSize, 0, kBufferSize - kPrefixSize);
    std::memset(pLine, ' ', kPrefixSize);
    std::memcpy(pLine, m_pszName.get(), std::strlen(m_pszName.get()));
    iLength = kPrefixSize;
}

int32_t FTPItem::SetData(const uint8_t* pBytes, int32_t& iLength)
{
    // The payload must leave room for the prefix in a line the conversation
    // accepts; a longer one is refused whole rather than cut.
    if (iLength < 0 || iLength > kMaxSendPayload || (pBytes == nullptr && iLength > 0)) {
        ELOG(3, 1, 121, "ERROR: payload of %s refused: %d bytes, at most %d bytes fit a line to the host\n",
             m_pszName.get(), iLength, kMaxSendPayload);
        return -1;
    }
    // The bytes behind the payload are zero: only what the previous payload
    // left beyond the new one needs clearing, which gives the same buffer as
    // clearing all of it.
    if (m_nDataLen > iLength)
        std::memset(m_pData.get() + iLength, 0, static_cast<size_t>(m_nDataLen - iLength));
    if (iLength > 0)
        std::memcpy(m_pData.get(), pBytes, static_cast<size_t>(iLength));
    m_nDataLen = iLength;
    iLength -= m_nDataLen;
    return m_nDataLen;
}

int32_t FTPItem::AppendData(uint8_t* pLine, int32_t& iLength)
{
    if (m_nDataLen == 0)
        return 0;
    if (iLength < 0 || iLength > kBufferSize - m_nDataLen) {
        ELOG_ASSERT(iLength >= 0 && iLength <= kBufferSize - m_nDataLen);
        return 0;
    }
    std::memcpy(pLine + iLength, m_pData.get(), static_cast<size_t>(m_nDataLen));
    iLength += m_nDataLen;
    return m_nDataLen;
}

void FTPItem::InitTempPath()
{
    m_strTempPath = WorkDir::FromConfig().directory;
}

std::string FTPItem::MakeTempFileName()
{
    // One clock reading gives both the seconds and the milliseconds.
    const uint64_t now100ns = Platform::systemTime100ns() - kUnixEpoch100ns;
    const std::time_t seconds = static_cast<std::time_t>(now100ns / 10000000ULL);
    const unsigned millis = static_cast<unsigned>((now100ns / 10000ULL) % 1000ULL);

    std::tm local{};
    Platform::localTime(seconds, local);
    char stamp[32] = {0};
    std::strftime(stamp, sizeof(stamp), "%Y%m%d%H%M%S", &local);

    std::random_device source;
    std::mt19937 generator(source());
    std::uniform_int_distribution<int> draw(0, 8999);
    const int random = draw(generator) + 1000;

    return std::string(stamp) + std::to_string(millis) + "-" + std::to_string(random);
}

int32_t FTPItem::BytesToHex(uint8_t* pBuffer, int32_t iLength)
{
    static const char kDigits[] = "0123456789ABCDEF";
    if (pBuffer == nullptr)
        return 0;
    size_t length = iLength > 0 ? static_cast<size_t>(iLength) : std::strlen(reinterpret_cast<char*>(pBuffer));
    // Back to front, so that each byte is read before its place is written.
    for (size_t i = length; i-- > 0;) {
        const uint8_t byte = pBuffer[i];
        pBuffer[2 * i] = static_cast<uint8_t>(kDigits[byte >> 4]);
        pBuffer[2 * i + 1] = static_cast<uint8_t>(kDigits[byte & 0x0F]);
    }
    return static_cast<int32_t>(2 * length);
}

Exchange* FTPItem::GetExchange() const
{
    return m_pLine != nullptr ? m_pLine->GetFlags() : nullptr;
}

std::atomic<int32_t>* FTPItem::GetExchangeFlag() const
{
    Exchange* exchange = GetExchange();
    return exchange != nullptr ? &exchange->m_iExchange : nullptr;
}

void FTPItem::BuildLine(uint8_t* pLine, int32_t& iLength)
{
    // The prefix and the payload, and a zero byte behind them so that the
    // line reads as text. Only the line is ever sent or read: clearing the
    // rest of the buffer, as BuildPrefix does, would cost a 32000-byte fill
    // per upload record.
    std::memset(pLine, ' ', kPrefixSize);
    std::memcpy(pLine, m_pszName.get(), std::strlen(m_pszName.get()));
    iLength = kPrefixSize;
    AppendData(pLine, iLength);
    if (iLength < kBufferSize)
        pLine[iLength] = 0;
}

void FTPItem::Queued(OnQueue effect)
{
    Exchange* exchange = GetExchange();
    if (exchange != nullptr)
        exchange->RequestQueued(effect);
}

void FTPItem::TranslateToHost(uint8_t* pLine, int32_t iLength)
{
    if (m_pTable != nullptr)
        m_pTable->TranslateToHost(pLine, iLength);
}

void FTPItem::BuildRequest(uint8_t* pLine, int32_t& iLength, int32_t& iHandOver, OnQueue effect, HandOver handOver)
{
    BuildLine(pLine, iLength);
    Queued(effect);
    TranslateToHost(pLine, iLength);
    iHandOver = static_cast<int32_t>(handOver);
}

void FTPItem::TakeReceived(uint8_t* pBytes, int32_t& iLength)
{
    if (pBytes != nullptr && iLength > 0 && m_pTable != nullptr)
        m_pTable->TranslateToPC(pBytes, iLength);
    FTPItem::SaveReceivedString(pBytes, iLength);
    int32_t length = pBytes != nullptr && iLength > 0 ? iLength : 0;
    if (SetData(pBytes, length) < 0) {
        // A block never carries more than a line holds; keep what fits.
        int32_t fit = kMaxSendPayload;
        SetData(pBytes, fit);
    }
    iLength = 0;
}
