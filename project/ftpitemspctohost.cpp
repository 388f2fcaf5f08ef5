#include "ftpitemspctohost.h"

#include "elog.h"
#include "ftpline.h"
#include "platform/platform.h"
#include "vexlink_version.h"

#include <cstdio>
#include <cstring>

// ---------------------------------------------------------------- the lines

namespace {
// Appends a text to the line at iLength.
void AppendText(uint8_t* pLine, int32_t& iLength, const char* text)
{
    const size_t length = std::strlen(text);
    const size_t room = static_cast<size_t>(FTPItem::kBufferSize - 1 - iLength);
    const size_t n = length < room ? length : room;
    std::memcpy(pLine + iLength, text, n);
    iLength += static_cast<int32_t>(n);
}
} // namespace

void FTPItem_PHREADY::BuildSendString(uint8_t* pLine, int32_t& iLength, int32_t& iHandOver)
{
    // The payload is not used: the line identifies the program, its
    // version, its process and its log file.
    BuildPrefix(pLine, iLength);
    AppendText(pLine, iLength, "VEXLINK.EXE: ");
    AppendText(pLine, iLength, VEXLINK_VERSION_TEXT);
    char tail[100];
    std::snprintf(tail, sizeof(tail), ", PID=%d, LOGFILE=%s", Platform::processId(), g_strLogFileName.c_str());
    AppendText(pLine, iLength, tail);
    // The host's HPREADY closes this exchange.
    Queued(OnQueue::OpenExchange);
    TranslateToHost(pLine, iLength);
    iHandOver = static_cast<int32_t>(HandOver::Pass);
}

void FTPItem_PHSETOPT::BuildSendString(uint8_t* pLine, int32_t& iLength, int32_t& iHandOver)
{
    BuildLine(pLine, iLength);
    Queued(OnQueue::Nothing);
    // The payload is zero-terminated (the buffer behind it is zero). "Y"
    // is looked at last, so it wins when both are given.
    const char* options = reinterpret_cast<const char*>(m_pData.get());
    Exchange* exchange = GetExchange();
    if (exchange != nullptr) {
        if (std::strstr(options, "FTTRAIL=N") != nullptr)
            exchange->SetBinary(false);
        if (std::strstr(options, "FTTRAIL=Y") != nullptr)
            exchange->SetBinary(true);
    }
    TranslateToHost(pLine, iLength);
    iHandOver = static_cast<int32_t>(HandOver::Pass);
}

void FTPItem_PHDATA::BuildSendString(uint8_t* pLine, int32_t& iLength, int32_t& iHandOver)
{
    // The host does not answer records. Reading is left as it is: an answer
    // to a line queued before the upload may still be due.
    BuildLine(pLine, iLength);
    Queued(OnQueue::Nothing);
    Exchange* exchange = GetExchange();
    const bool binary = exchange != nullptr && exchange->Binary();
    TranslateToHost(pLine, binary ? kPrefixSize : iLength);
    iHandOver = static_cast<int32_t>(HandOver::Keep);
}

void FTPItem_PHEOD::BuildSendString(uint8_t* pLine, int32_t& iLength, int32_t& iHandOver)
{
    // The prefix alone; a payload is ignored. The host's answer closes the
    // exchange.
    BuildPrefix(pLine, iLength);
    Queued(OnQueue::OpenExchange);
    TranslateToHost(pLine, iLength);
    iHandOver = static_cast<int32_t>(HandOver::Pass);
}

void FTPItem_PHTXT::BuildSendString(uint8_t* pLine, int32_t& iLength, int32_t& iHandOver)
{
    BuildLine(pLine, iLength);
    Queued(OnQueue::Nothing);
    // The line is zero-terminated: the prefix zero-filled the rest.
    ELOG(1, 3, 121, "MSG: %s\n", reinterpret_cast<const char*>(pLine));
    TranslateToHost(pLine, iLength);
    iHandOver = static_cast<int32_t>(HandOver::Pass);
}

void FTPItem_PING::BuildSendString(uint8_t* /*pLine*/, int32_t& iLength, int32_t& iHandOver)
{
    // Nothing goes to the host: the payload comes back as a Response row.
    iLength = 0;
    iHandOver = static_cast<int32_t>(HandOver::Keep);
    if (m_pLine != nullptr)
        m_pLine->InsertResponse(this, nullptr, nullptr);
}

void FTPItem_CLOSE::BuildSendString(uint8_t* /*pLine*/, int32_t& iLength, int32_t& iHandOver)
{
    // Nothing goes to the host. The send thread takes no row behind this
    // one, sends what was queued before it and leaves its loop; the engine
    // then stops a receive that still waits (see SocketFTP).
    iLength = 0;
    iHandOver = static_cast<int32_t>(HandOver::Keep);
    ELOG(0, 3, 121, "Request for close a connection received\n");
    Exchange* exchange = GetExchange();
    if (exchange != nullptr)
        exchange->CloseRequested();
}
