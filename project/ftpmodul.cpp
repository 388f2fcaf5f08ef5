#include "ftpmodul.h"

#include "blockSocket.h"
#include "configlimits.h"
#include "configmodul.h"
#include "elog.h"
#include "globals.h"
#include "mysqlite.h"
#include "socketftp.h"
#include "workdir.h"

#include "platform/platform.h"

#include <openssl/crypto.h>

#include <boost/archive/iterators/binary_from_base64.hpp>
#include <boost/archive/iterators/transform_width.hpp>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>

namespace {

// Overwrites a text that held a secret.
void Wipe(std::string& text)
{
    OPENSSL_cleanse(&text[0], text.size());
    text.clear();
}

} // namespace

MODUL_FTP::MODUL_FTP()
{
    ELOG(0, 3, 120, "MODUL_FTP starting\n");
    m_pBlockSocket = nullptr;
    m_pSocketFTP = nullptr;
    GetConfig();
    if (g_iRC != 0)
        return; // the settings refuse the run (exit code 8)

    m_pTask = new Task();
    if (!m_pTask->CreateTask(&MODUL_FTP::ftpTaskEntry, "ftpTaskEntry", this)) {
        ELOG(1, 1, 120, "MODUL_FTP starting failed RC=%d\n", m_pTask->m_iError);
        g_iRC = 16;
        return;
    }
    m_pTask->WaitForEnd();
}

MODUL_FTP::~MODUL_FTP()
{
    delete[] m_pszDbPath;
    m_pszDbPath = nullptr;
    delete m_pTask;
    m_pTask = nullptr;
    Wipe(m_strPasswd);
    ELOG(0, 3, 120, "MODUL_FTP ended\n");
}

std::string MODUL_FTP::DecodeBase64(const std::string& strText)
{
    typedef boost::archive::iterators::transform_width<
        boost::archive::iterators::binary_from_base64<std::string::const_iterator>, 8, 6>
        Decoder;
    // Strict form: the alphabet, then at most two "=" at the end; a single
    // character left over is no byte. "=" inside the text is refused rather
    // than read as zero bits.
    size_t data = strText.size();
    while (data > 0 && strText[data - 1] == '=')
        --data;
    bool valid = !strText.empty() && strText.size() - data <= 2 && data % 4 != 1;
    for (size_t i = 0; valid && i < data; ++i) {
        const unsigned char c = static_cast<unsigned char>(strText[i]);
        valid = (c < 0x80 && std::isalnum(c) != 0) || c == '+' || c == '/';
    }
    if (!valid) {
        ELOG(0, 1, 120, "Error decoding Base64\n");
        return std::string();
    }
    std::string text = strText.substr(0, data);
    while (text.size() % 4 != 0)
        text.push_back('=');
    // The padding stands for no bytes: drop as many from the end.
    const size_t padding = text.size() - data;
    try {
        std::string bytes(Decoder(text.begin()), Decoder(text.end()));
        bytes.resize(bytes.size() > padding ? bytes.size() - padding : 0);
        Wipe(text);
        return bytes;
    } catch (const std::exception&) {
        Wipe(text);
        ELOG(0, 1, 120, "Error decoding Base64\n");
        return std::string();
    }
}

bool MODUL_FTP::IsWorkDirAllowed(const std::string& strDir)
{
    if (strDir.empty())
        return true;
    if (strDir[0] == '/' || strDir[0] == '\\')
        return false;
    if (strDir.size() >= 2 && strDir[1] == ':')
        return false;
    size_t start = 0;
    while (start <= strDir.size()) {
        size_t end = strDir.find_first_of("/\\", start);
        if (end == std::string::npos)
            end = strDir.size();
        if (strDir.compare(start, end - start, "..") == 0)
            return false;
        start = end + 1;
    }
    return true;
}

void MODUL_FTP::GetConfig()
{
    std::string value;

    // The password, Base64. An empty line or "*" is the passwordless
    // logon; no line at all, or a line that is not Base64, refuses the run:
    // a password that cannot be read must not become "no password".
    bool refusePassword = false;
    ConfigValue("TCP.PASSWORD", value);
    m_strPasswd.clear();
    if (g_pConfigModul != nullptr && g_pConfigModul->m_bPasswordLineMissing) {
        ELOG(0, 1, 120, "Password line missing: standard input ended without a line, run refused\n");
        refusePassword = true;
    } else if (value.empty() || value == "*") {
        ELOG(0, 1, 120, "Password line empty or \"*\": logon without password, password check off\n");
    } else {
        std::string decoded = DecodeBase64(value);
        if (decoded.empty() || decoded.find('\0') != std::string::npos) {
            ELOG(0, 1, 120, "Password line is not a valid Base64 password, run refused\n");
            refusePassword = true;
        } else {
            m_strPasswd = decoded;
            ELOG(0, 3, 120, "Password successfully decoded\n");
        }
        Wipe(decoded);
    }
    Wipe(value);

    // Texts.
    ConfigValue("TCP.IP_ADDR", m_strIP);
    ConfigValue("TCP.MEMBER", m_strSymdesti);
    ConfigValue("TCP.USERID", m_strUsrid);

    // Time-outs and ports in their ranges before anybody reads them.
    if (g_pConfigModul != nullptr && !ConfigLimits::Apply(*g_pConfigModul))
        g_iRC = 8;

    // Ports, by the rules of atoi (range-checked above).
    m_iPcPort = ConfigValue("TCP.PC_PORT", value) ? std::atoi(value.c_str()) : 0;
    m_iHostPort = ConfigValue("TCP.HOST_PORT", value) ? std::atoi(value.c_str()) : 0;

    // Port 0 cannot reach a host: said in the log before the connection fails.
    ELOG_ASSERT(m_iHostPort);

    // The database path; the work directory is created (one level).
    std::string workDir;
    if (ConfigValue("GLOBAL.WORK_DIR", workDir) && !IsWorkDirAllowed(workDir)) {
        // The database is dropped and recreated there: a directory outside
        // GLOBAL.TEMP_PATH could hold another run's queue.
        ELOG(1, 1, 120, "GLOBAL.WORK_DIR '%s' refused: it must lie inside GLOBAL.TEMP_PATH\n", workDir.c_str());
        g_iRC = 8;
    }
    std::string dbName;
    if (ConfigValue("SQLITE.DBNAME", dbName) && !WorkDir::IsPlainFileName(dbName)) {
        ELOG(1, 1, 120, "SQLITE.DBNAME '%s' refused: it must be a plain file name\n", dbName.c_str());
        g_iRC = 8;
    }
    const WorkDir::Paths paths = WorkDir::FromConfig();
    const std::string& path = paths.database;
    delete[] m_pszDbPath;
    m_pszDbPath = new char[path.size() + 1];
    std::memcpy(m_pszDbPath, path.c_str(), path.size() + 1);
    if (g_iRC != 0)
        return;
    // The directory, its lock and the database file, before any table.
    // Without a work directory the run lives in GLOBAL.TEMP_PATH, which it
    // does not create.
    if (!WorkDir::Prepare(paths.directory, paths.bWorkDirSet, path)) {
        g_iRC = 8;
        return;
    }
    if (refusePassword) {
        // Nothing reaches the host; the front end reads the refusal in System.
        g_iRC = 8;
        WriteRefusalRow(m_pszDbPath, 8);
    }
}

void MODUL_FTP::ftpTaskEntry(void* pArg)
{
    ELOG(0, 3, 120, "MODUL_FTP running..ok\n");
    static_cast<MODUL_FTP*>(pArg)->Run();
}

bool MODUL_FTP::WriteFailureRow(const char* pszDbPath, int32_t iRC)
{
    MySqlite db(pszDbPath != nullptr ? pszDbPath : "");
    char sql[100];
    std::snprintf(sql, sizeof(sql), "INSERT INTO System (PID) VALUES ('-%ld')", static_cast<long>(iRC));
    if (db.Create("CREATE TABLE IF NOT EXISTS System (PID INTEGER NOT NULL);") != 1)
        return false;
    return db.Query(sql) == 1;
}

bool MODUL_FTP::WriteRefusalRow(const char* pszDbPath, int32_t iCode)
{
    // No path, no database the front end could read.
    if (pszDbPath == nullptr || pszDbPath[0] == '\0')
        return false;
    MySqlite db(pszDbPath);
    char sql[100];
    std::snprintf(sql, sizeof(sql), "INSERT INTO System (PID) VALUES ('-%ld')", static_cast<long>(iCode));
    if (db.Create(g_pszDbCreateScript) != 1)
        return false;
    return db.Query(sql) == 1;
}

void MODUL_FTP::Run()
{
    bool failed = false;
    int32_t failureRC = 0;
    try {
        // The conversation.
        m_pBlockSocket =
            new BlockSocket(m_strIP.c_str(), m_strPasswd.c_str(), m_strSymdesti.c_str(), m_strUsrid.c_str());
        // Ports, when configured.
        if (m_iHostPort != 0)
            m_pBlockSocket->SetHostPort(static_cast<uint16_t>(m_iHostPort));
        if (m_iPcPort != 0)
            m_pBlockSocket->SetPCPort(static_cast<uint16_t>(m_iPcPort));
        // Connect (throws SocketError).
        m_pBlockSocket->Connect();
        // The conversation is allocated: no copy of the password is kept.
        Wipe(m_strPasswd);
        if (g_pConfigModul != nullptr)
            g_pConfigModul->WipeParm("TCP.PASSWORD");
        // The engine runs until both of its threads have ended (not at
        // all when a stop signal came during the logon).
        if (g_iStopSignal.load() == 0)
            m_pSocketFTP = new SocketFTP(m_pBlockSocket);
        // A send or receive failed: the run failed, whatever comes next.
        if (g_iStopSignal.load() != 0) {
            failed = true;
            failureRC = g_iStopSignal.load();
            ELOG(1, 1, 120, "MODUL_FTP: signal %d received, the run ends\n", failureRC);
        } else if (m_pSocketFTP->ConversationBroken()) {
            failed = true;
            failureRC = m_pSocketFTP->FailureRC();
        }
        // Stop after a communication timeout, then close.
        if (g_iRC == 6)
            m_pBlockSocket->Stop();
        m_pBlockSocket->Close();
    } catch (const SocketError& e) {
        if (!failed) {
            failed = true;
            failureRC = m_pBlockSocket != nullptr ? m_pBlockSocket->GetRC() : e.m_iRC;
        }
    } catch (...) {
        if (!failed) {
            failed = true;
            failureRC = m_pBlockSocket != nullptr ? m_pBlockSocket->GetRC() : 0;
        }
    }

    // The failure in g_iRC and in the System table.
    if (failed) {
        g_iRC = 16;
        WriteFailureRow(m_pszDbPath, failureRC);
    }

    // Engine first, conversation second.
    delete m_pSocketFTP;
    m_pSocketFTP = nullptr;
    delete m_pBlockSocket;
    m_pBlockSocket = nullptr;
}
