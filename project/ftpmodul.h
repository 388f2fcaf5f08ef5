#pragma once
// The transfer module: drives one client run. Its constructor reads the
// run's settings, starts the transfer task and waits for it; the task opens
// the host conversation, runs the engine until both engine threads have
// ended and closes the conversation. A failure is recorded in g_iRC and, for
// the front end, as a negative row in the System table.

#include "cobject.h"
#include "task.h"

#include <cstdint>
#include <string>

class BlockSocket;
class SocketFTP;

class MODUL_FTP : public CObject {
public:
    MODUL_FTP();
    ~MODUL_FTP() override;
    MODUL_FTP(const MODUL_FTP&) = delete;
    MODUL_FTP& operator=(const MODUL_FTP&) = delete;

    // Reads the settings into the fields. A refused GLOBAL.WORK_DIR sets
    // g_iRC to 8: the run does not start.
    void GetConfig();
    // Opens, runs and closes the conversation; catches every exception.
    void Run();
    // Body of the transfer task.
    static void ftpTaskEntry(void* pArg);

    // Base64 text to bytes: "=" padding is added up to a multiple of four
    // characters and counts as zero bits. Text that is not Base64 is logged
    // ("Error decoding Base64") and gives the empty result.
    static std::string DecodeBase64(const std::string& strText);
    // A work directory must lie inside GLOBAL.TEMP_PATH: no ".." component,
    // no leading "/" or "\", no drive letter.
    static bool IsWorkDirAllowed(const std::string& strDir);
    // The failure row: "INSERT INTO System (PID) VALUES ('-%ld')" with iRC,
    // into the database at pszDbPath (the System table is created when
    // missing). True when the row was written.
    static bool WriteFailureRow(const char* pszDbPath, int32_t iRC);
    // A run refused before the host was reached (iCode 8: the password
    // line) or ended by a signal: the tables are made anew and System holds
    // the one row -iCode. True when the row was written.
    static bool WriteRefusalRow(const char* pszDbPath, int32_t iCode);

    BlockSocket* m_pBlockSocket = nullptr;
    SocketFTP* m_pSocketFTP = nullptr;
    Task* m_pTask = nullptr;
    std::string m_strIP;
    std::string m_strPasswd;
    std::string m_strSymdesti;
    std::string m_strUsrid;
    int32_t m_iHostPort = 0;
    int32_t m_iPcPort = 0;
    char* m_pszDbPath = nullptr;
};
