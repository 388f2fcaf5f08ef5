#include "blockSocket.h"

#include "linelimits.h"
#include "configmodul.h"
#include "elog.h"
#include "translate.h"

#include "platform/platform.h"

#include <wirecomm.h>

#include <openssl/crypto.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

const int32_t kMaxBlock = Limits::kBlock;
static_assert(Limits::kBlock == WC_MAX_BLOCK, "the conversation library's block limit");
const uint32_t kPollMillis = 125;

// A heap copy of a NUL-terminated text.
char* HeapCopy(const char* text)
{
    size_t len = std::strlen(text);
    char* copy = new char[len + 1];
    std::memcpy(copy, text, len + 1);
    return copy;
}

// Overwrites a heap text before it is freed (used for the password).
void WipeAndFree(char*& text)
{
    if (text) {
        OPENSSL_cleanse(text, std::strlen(text));
        delete[] text;
        text = nullptr;
    }
}

// A time-out in seconds from its text, held in 1..65535.
uint16_t ClampSeconds(const std::string& text)
{
    const long long seconds = std::strtoll(text.c_str(), nullptr, 10);
    if (seconds < 1)
        return 1;
    if (seconds > 65535)
        return 65535;
    return static_cast<uint16_t>(seconds);
}

// Which checks of the host's identity this run makes, at level 1 so that
// every log shows it.
void LogServerChecks(int32_t mode, const std::string& commonName, const std::string& pemCa, const std::string& cryptKey)
{
    if (mode != 3 && mode != 4) {
        ELOG(1, 1, 200, "\tServer checks: none (crypt mode %d has no TLS)\n", mode);
        return;
    }
    ELOG(4, 1, 200, "\tServer checks: CA %s, common name %s, key pin %s (crypt mode %d)\n",
         pemCa.empty() ? "not set (the library's default)" : pemCa.c_str(),
         commonName.empty() ? "not set (the library's default)" : commonName.c_str(), cryptKey.empty() ? "off" : "on",
         mode);
    if (commonName == "*")
        ELOG(0, 1, 200, "WARNING: TCPCOMMONNAME=* accepts any certificate that the CA signed\n");
}

// Whole seconds on the monotonic clock: the waits of Send and Receive count
// in seconds, and it is read for every block, so the cheap reading will do.
int64_t NowSeconds()
{
    return static_cast<int64_t>(Platform::coarseMillis() / 1000);
}

} // namespace

SocketError::SocketError(int32_t rc, const char* message) : m_iRC(rc), m_pMessage(message)
{
    ELOG(2, 1, 200, "ERROR: %s RC=%d\n", message, rc);
}

BlockSocket::BlockSocket(const char* cIpAddres, const char* cPasswd, const char* cSymdesti, const char* cUsrid)
{
    m_iStop.store(0);
    m_cCid = new unsigned char[WC_CID_SIZE];
    std::memset(m_cCid, 0, WC_CID_SIZE);
    ELOG(0, 3, 200, "BlockSocket: creating with follow configuration:\n");
    StoreLogon(cIpAddres, cPasswd, cSymdesti, cUsrid);
    // The library's settings are process-wide: they are set here, before
    // the one conversation of the run is allocated.
    ConfigureLibrary();
    ReadTimeouts();
    ReadLogonOptions();
    ELOG(0, 3, 200, "BlockSocket: created\n");
}

void BlockSocket::StoreLogon(const char* cIpAddres, const char* cPasswd, const char* cSymdesti, const char* cUsrid)
{
    ELOG_ASSERT(cIpAddres);
    ELOG_ASSERT(cPasswd);
    ELOG_ASSERT(cSymdesti);
    ELOG_ASSERT(cUsrid);
    const char* ip = cIpAddres ? cIpAddres : "";
    const char* passwd = cPasswd ? cPasswd : "";
    const char* symdest = cSymdesti ? cSymdesti : "";
    const char* userid = cUsrid ? cUsrid : "";
    m_cIpaddr = HeapCopy(ip);
    m_cPasswd = HeapCopy((passwd[0] == '\0' || std::strcmp(passwd, "*") == 0) ? "notused" : passwd);
    m_cSymdest = HeapCopy(symdest);
    m_cUserid = HeapCopy(userid[0] == '\0' ? "notused" : userid);
}

void BlockSocket::ConfigureLibrary()
{
    std::string value;
    if (ConfigValue("TCP.TCPDEBUG", value) && value == "YES") {
        ELOG(1, 3, 200, "\tTCPDEBUG is set %s\n", value.c_str());
        if (Platform::pathExists("tcplogger.xml"))
            cm_init_logger(9, "tcplogger.xml");
        else
            ELOG(0, 3, 200, "\tBut tcplogger.xml file is missing\n");
    }

    std::string tableName;
    int table = Translate::Instance()->ChooseFromConfig(tableName);
    ELOG(2, 3, 200, "\tTranslation table code page: %d %s\n", table, tableName.c_str());

    int32_t mode = ConfigValue("TCP.TCPCRYPT", value) ? std::atoi(value.c_str()) : 1;
    cm_set_crypt_mode(mode);
    ELOG(1, 3, 200, "\tCrypt mode set to type: %d\n", mode);

    int32_t level = ConfigValue("TCP.TCPTLSSECLEVEL", value) ? std::atoi(value.c_str()) : 1;
    cm_set_security_level(level);
    ELOG(1, 3, 200, "\tTLS security level set to: %d\n", level);

    ConfigureServerChecks(mode);
}

void BlockSocket::ConfigureServerChecks(int32_t mode)
{
    // Both TLS modes check the host: a client certificate (mode 4) does not
    // make the host's identity any less important.
    std::string commonName, pemCa, cryptKey;
    const bool tls = mode == 3 || mode == 4;
    if (tls) {
        if (ConfigValue("TCP.TCPCOMMONNAME", commonName) && !commonName.empty()) {
            ELOG(1, 3, 200, "\tTCPCOMMONNAME common name is set: %s\n", commonName.c_str());
            cm_set_common_name(commonName.c_str());
        }
        if (ConfigValue("TCP.TCPPEMCA", pemCa) && !pemCa.empty()) {
            ELOG(1, 3, 200, "\tTCPPEMCA is set: %s\n", pemCa.c_str());
            cm_set_pem_ca(pemCa.c_str());
        }
        if (ConfigValue("TCP.TCPCRYPTKEY", cryptKey) && !cryptKey.empty()) {
            // The key is a secret: the log shows the mask only.
            ELOG(1, 3, 200, "\tTCPCRYPTKEY is set %s\n", LoggableValue("TCP.TCPCRYPTKEY", cryptKey));
            cm_set_crypt_key(cryptKey.c_str());
        }
    }
    LogServerChecks(mode, commonName, pemCa, cryptKey);
}

void BlockSocket::ReadTimeouts()
{
    // Held in 1..65535 seconds: a value that does not fit must not become a
    // short wait or no limit at all.
    std::string value;
    if (ConfigValue("FTP.T0", value))
        m_iT0 = ClampSeconds(value);
    if (ConfigValue("FTP.T1", value))
        m_iT1 = ClampSeconds(value);
}

void BlockSocket::ReadLogonOptions()
{
    std::string value;
    bool present = ConfigValue("TCP.USERISSTEPNAME", value);
    m_iStepName = (!present || value.empty() || value == "YES") ? 1 : 0;
    ELOG(1, 3, 200, "\tUserIsStepName is set to: %s\n", m_iStepName ? "YES" : "NO");

    present = ConfigValue("TCP.PASCHK", value);
    if (!present || value.empty() || value == "YES") {
        m_iPasChk = 1;
        ELOG(0, 3, 200, "\tPASCHK option enabled (default)\n");
    } else {
        m_iPasChk = 0;
        ELOG(0, 3, 200, "\tPASCHK option disabled\n");
    }
    // Without a password there is nothing for the host to check.
    if (std::strcmp(m_cPasswd, "notused") == 0)
        m_iPasChk = 0;
}

BlockSocket::~BlockSocket()
{
    if (m_cCid)
        std::memset(m_cCid, 0, WC_CID_SIZE);
    delete[] m_cCid;
    m_cCid = nullptr;
    delete[] m_cIpaddr;
    WipeAndFree(m_cPasswd);
    delete[] m_cSymdest;
    delete[] m_cUserid;
}

void BlockSocket::Connect()
{
    ELOG(0, 3, 200, "BlockSocket: connecting to:\n");
    ELOG_ASSERT(m_cIpaddr);
    ELOG_ASSERT(m_cPasswd);
    ELOG_ASSERT(m_cUserid);
    ELOG_ASSERT(m_cSymdest);
    ELOG_ASSERT(m_cCid);
    if (!m_cIpaddr || !m_cPasswd || !m_cUserid || !m_cSymdest || !m_cCid)
        throw SocketError(0, "BlockSocket: cm_init failed");

    ELOG(1, 3, 200, "\tHost IP-Address:%s\n", m_cIpaddr);
    ELOG(1, 3, 200, "\tHost Port:%d\n", m_iHostPort);
    ELOG(1, 3, 200, "\tPC Port:%d\n", m_iPCPort);
    ELOG(1, 3, 200, "\tUserID:%s\n", m_cUserid);
    ELOG(1, 3, 200, "\tSTC:%s\n", m_cSymdest);
    ELOG(1, 3, 200, "\tPassword Check:%d\n", m_iPasChk);

    int32_t rc = 0;
    cm_init(m_cCid, m_cSymdest, &rc);
    m_iRC.store(rc);
    if (rc != 0)
        throw SocketError(rc, "BlockSocket: cm_init failed");

    cm_set_rcv_timeout(m_cCid, m_iT0);
    m_iRcvTimeoutSet = m_iT0;

    cm_scsu(m_cCid, m_cUserid, &rc);
    m_iRC.store(rc);
    if (rc != 0)
        throw SocketError(rc, "BlockSocket: cm_scsu failed");

    cm_scsp(m_cCid, m_cPasswd, &rc);
    m_iRC.store(rc);
    if (rc != 0)
        throw SocketError(rc, "BlockSocket: cm_scsp failed");

    if (m_iStepName == 1) {
        cm_set_tag(m_cCid, m_cUserid, &rc);
        m_iRC.store(rc);
        if (rc != 0)
            throw SocketError(rc, "BlockSocket: cm_set_tag failed");
    }

    cm_allc(m_cCid, m_cIpaddr, m_iHostPort, m_iPCPort, m_iT1, m_iPasChk, &rc);
    m_iRC.store(rc);
    if (rc == CM_SECURITY_NOT_VALID) {
        ELOG(0, 1, 200, "ERROR: BlockSocket: The host rejected the userid or password\n");
        throw SocketError(rc, "BlockSocket: cm_allc failed");
    }
    if (rc == CM_SECURITY_MUTUAL_FAILED) {
        // The PC refused the host before the password left it.
        ELOG(2, 1, 200,
             "ERROR: BlockSocket: the host was refused (server certificate, common name, key pin or key "
             "agreement), the password was not sent, RC=%d, sRC=%s\n",
             rc, cm_rc2str(rc));
        throw SocketError(rc, "BlockSocket: cm_allc failed");
    }
    if (rc != 0) {
        ELOG(2, 1, 200, "ERROR: BlockSocket: cm_allc failed for unknown reason, use TCP debug mode, RC=%d, sRC=%s\n",
             rc, cm_rc2str(rc));
        throw SocketError(rc, "BlockSocket: cm_allc failed");
    }
    ELOG(0, 3, 200, "BlockSocket: connection established\n");
    // The library holds the conversation now: the password is not kept.
    WipePassword();
}

void BlockSocket::WipePassword()
{
    if (m_cPasswd != nullptr)
        OPENSSL_cleanse(m_cPasswd, std::strlen(m_cPasswd));
}

int32_t BlockSocket::Send(const unsigned char* buffer, int32_t length, int32_t timeout, int32_t handOver)
{
    ELOG_ASSERT(m_cCid);
    ELOG(0, 5, 200, "BlockSocket: sending...\n");
    int64_t start = NowSeconds();
    m_iSendDropped.store(0);

    if (length >= kMaxBlock)
        throw SocketError(0, "BlockSocket: send buffer limit exceeded");

    // Wait for the turn: woken when it comes back, looking again at least
    // every poll interval.
    for (;;) {
        const uint64_t seen = m_pWakeup->Generation();
        if (m_iTurn.load() == 1)
            break;
        if (NowSeconds() - start > timeout) {
            ELOG(1, 5, 200, "BlockSocket: sending timeout t=%d[sec] expired\n", timeout);
            m_iSendDropped.store(1);
            return m_iStatus.load();
        }
        m_pWakeup->WaitChange(seen, kPollMillis);
    }

    int32_t rc = 0;
    {
        ELock lock(&m_Mutex);
        int32_t len = length;
        int32_t status = 0;
        cm_send_bin(m_cCid, buffer, &len, 0, &status, &rc, handOver);
        m_iRC.store(rc);
        if (rc == 0)
            m_iStatus.store(status);
    }
    if (rc != 0)
        throw SocketError(rc, "BlockSocket: cm_send failed");
    ELOG(1, 5, 200, "BlockSocket: sent bytes: %d\n", length);
    if (handOver == 1)
        SetTurn(0);
    return m_iStatus.load();
}

void BlockSocket::Flush()
{
    if (!m_cCid)
        return;
    int32_t rc = 0;
    {
        ELock lock(&m_Mutex);
        cm_flush(m_cCid, &rc);
        m_iRC.store(rc);
    }
    if (rc != 0)
        throw SocketError(rc, "BlockSocket: cm_flush failed");
}

int32_t BlockSocket::ReceiveFromLibrary(unsigned char* buffer, int32_t& rc)
{
    // One library wait of up to T0 seconds, cut into slices of one second
    // so that the stop flag (CLOSE) ends it at once rather than after T0.
    uint64_t start = Platform::coarseMillis();
    rc = 0;
    for (;;) {
        uint64_t elapsed = Platform::coarseMillis() - start;
        bool lastSlice = m_iT0 != 0 && elapsed + 1000 >= static_cast<uint64_t>(m_iT0) * 1000;
        if (m_iRcvTimeoutSet != 1) {
            cm_set_rcv_timeout(m_cCid, 1);
            m_iRcvTimeoutSet = 1;
        }
        int32_t n = cm_rcv_bin(m_cCid, buffer, 0, &rc, 0, 0);
        if (rc == CM_OPERATION_INCOMPLETE && !lastSlice) {
            // an inner slice ran out; the whole wait goes on
            if (m_iStop.load() == 1)
                return -1;
            continue;
        }
        m_iRC.store(rc);
        if (rc != 0)
            return 0;
        return n;
    }
}

int32_t BlockSocket::Receive(unsigned char* buffer, int32_t timeout)
{
    ELOG_ASSERT(m_cCid);
    ELOG(0, 5, 200, "BlockSocket: receiving...\n");
    int64_t start = NowSeconds();

    // Wait until the host has the turn: woken when the turn passes or the
    // stop flag is set, looking again at least every poll interval.
    for (;;) {
        const uint64_t seen = m_pWakeup->Generation();
        if (m_iTurn.load() == 0 || m_iStop.load() == 1)
            break;
        if (NowSeconds() - start > timeout) {
            ELOG(1, 5, 200, "BlockSocket: receiving timeout t=%d[sec] expired\n", timeout);
            break;
        }
        m_pWakeup->WaitChange(seen, kPollMillis);
    }
    if (m_iTurn.load() != 0)
        return 0;
    if (m_iStop.load() == 1)
        return 0;

    int32_t n;
    int32_t rc = 0;
    {
        ELock lock(&m_Mutex);
        n = ReceiveFromLibrary(buffer, rc);
    }
    if (n < 0)
        return 0; // the stop flag ended the wait
    if (rc != 0)
        throw SocketError(rc, "BlockSocket: cm_rcv failed");

    if (n == 0) {
        if (m_iIgnoreNextACK.load() == 0) {
            SetTurn(1);
            ELOG(0, 5, 200, "BlockSocket: received ACK\n");
        } else {
            m_iIgnoreNextACK.store(0);
            ELOG(0, 5, 200, "BlockSocket: received ACK ignored\n");
        }
        return 0;
    }
    ELOG(1, 5, 200, "BlockSocket: received bytes: %d\n", n);
    return n;
}

void BlockSocket::SetTurn(int32_t turn)
{
    m_iTurn.store(turn);
    m_pWakeup->Notify();
}

void BlockSocket::Stop()
{
    ELOG_ASSERT(m_cCid);
    if (!m_cCid)
        return;
    if (m_iRC.load() != CM_DEALLOCATED_NORMAL) {
        ELOG(0, 3, 200, "BlockSocket: connection stopping ...\n");
        int32_t rc = 0;
        cm_stop(m_cCid, &rc);
        m_iRC.store(rc);
        if (rc != 0)
            throw SocketError(rc, "BlockSocket: cm_stop failed");
    }
    std::memset(m_cCid, 0, WC_CID_SIZE);
    ELOG(0, 3, 200, "BlockSocket: connection stopped\n");
}

void BlockSocket::Close()
{
    ELOG_ASSERT(m_cCid);
    if (!m_cCid)
        return;
    if (m_iRC.load() != CM_DEALLOCATED_NORMAL) {
        ELOG(0, 3, 200, "BlockSocket: connection closing...\n");
        int32_t rc = 0;
        cm_deal(m_cCid, &rc);
        m_iRC.store(rc);
        if (rc != 0)
            throw SocketError(rc, "BlockSocket: cm_deal failed");
    }
    std::memset(m_cCid, 0, WC_CID_SIZE);
    ELOG(0, 3, 200, "BlockSocket: connection closed\n");
}
