#include "exchange.h"

#include "blockSocket.h"
#include "elog.h"

#include <cstring>

void Exchange::SetBlockSocket(BlockSocket* pBlockSocket)
{
    m_pBlockSocket = pBlockSocket;
    if (m_pBlockSocket != nullptr)
        m_pBlockSocket->SetWakeup(&m_wake);
}

void Exchange::RequestQueued(OnQueue effect)
{
    if (effect == OnQueue::OpenExchange)
        m_iExchange = 1;
}

void Exchange::LinePassedTurn(int32_t iItemId, int32_t iMsgId)
{
    // Set before the line goes out, so that the first answer already finds
    // them; every answer to the previous line has been handled by then (the
    // turn came back after them).
    m_iLastReqItem = iItemId;
    m_iAnswerMsgId = iMsgId;
    m_iAnswerSet = 1;
    m_iAnswers = 0;
    m_iAnswerFailed = 0;
    // The host holds the turn: its answers are read, whatever is queued.
    if (m_iReadEnabled.exchange(1) == 0)
        m_wake.Notify();
}

void Exchange::SendingResumed()
{
    // Only a switch from off wakes anyone: the send thread waits for it.
    if (m_iSendEnabled.exchange(1) == 0)
        m_wake.Notify();
}

void Exchange::DownloadRecord()
{
    // Every record of a download passes here: written only when they change
    // (a store is a full barrier, a load is not).
    if (m_iSendEnabled.load() != 0)
        m_iSendEnabled = 0;
    if (m_iExchange.load() != 1)
        m_iExchange = 1;
}

void Exchange::ExchangeClosed()
{
    m_iSendEnabled = 1;
    m_iExchange = 0;
    m_wake.Notify();
}

void Exchange::UploadStored()
{
    m_iExchange = 0;
    m_iLastReqItem = 0;
    m_wake.Notify();
    ELOG(0, 5, 200, "SaveReceivedString: SetLastReqItem Reset\n");
}

void Exchange::IntermediateAck()
{
    ELOG(0, 5, 200, "SaveReceivedString: ACK Ignored\n");
    m_iSendEnabled = 0;
    m_iExchange = 1;
    if (m_pBlockSocket != nullptr)
        m_pBlockSocket->SetIgnoreNextACK();
}

bool Exchange::HostAnsweredWithTurn() const
{
    return m_pBlockSocket != nullptr && m_pBlockSocket->GetTurn() == 0 && m_iAnswers != 0;
}

int32_t Exchange::ResponseId(const char* pszItemName, int32_t iLastMsgId) const
{
    if (pszItemName == nullptr)
        return iLastMsgId;
    if (std::strcmp(pszItemName, "HPMSG") == 0)
        return 0;
    if (std::strncmp(pszItemName, "HP", 2) == 0)
        return AnswerMsgId(iLastMsgId);
    return iLastMsgId;
}
