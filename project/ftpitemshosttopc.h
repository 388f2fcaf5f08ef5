#pragma once
// The items that arrive from the host. Each stores what the front end must
// learn (Response and System rows, download files) and steers the engine
// through its flags.

#include "ftpitem.h"

#include <string>

// The host is ready: the run is announced in the System table; at the end
// of the run the row is replaced by -1.
class FTPItem_HPREADY : public FTPItem {
public:
    using FTPItem::FTPItem;
    ~FTPItem_HPREADY() override;
    void SaveReceivedString(uint8_t* pBytes, int32_t& iLength) override;
};

// A host message: its text carries the return code of a request.
class FTPItem_HPMSG : public FTPItem {
public:
    using FTPItem::FTPItem;
    void SaveReceivedString(uint8_t* pBytes, int32_t& iLength) override;
};

// One record of a download, appended to the download file.
class FTPItem_HPDATA : public FTPItem {
public:
    // Bytes of the download file's stream buffer: records reach the file in
    // writes of this size, not one per record, and the buffer stays in the
    // processor cache (a 1 MB one did not make large records faster).
    static constexpr size_t kFileBuffer = 256 * 1024;

    FTPItem_HPDATA(const char* pszName, int32_t iId, uint16_t nType, std::atomic<int32_t>* pReady, FTPLine* pLine);
    // Closes a download still open: its stream buffer is this item's.
    ~FTPItem_HPDATA() override;
    void SaveReceivedString(uint8_t* pBytes, int32_t& iLength) override;

    // Ends the download under way, if any: closes its file (in this item
    // and in HPEOD) and forgets it. Gives true when a download was under way
    // and it failed (a record was lost, a write or the close failed); then
    // pszReason describes the failure and strPath names the file (empty when
    // none was created).
    bool EndDownload(std::string& strReason, std::string& strPath);
    // The host's error message cut the download under way off (if any): it
    // fails, whatever the file holds.
    void HostEnded();
    // True while the records of a download arrive (from its first record to
    // the end of the download).
    bool InDownload() const { return m_bInDownload; }

private:
    void WriteRecord(uint8_t* pBytes, int32_t& iLength, bool bBinary);

    // The stream buffer of the download file and the area a record is
    // made ready in (hexadecimal image and line feed), both reused.
    std::unique_ptr<char[]> m_pFileBuffer;
    std::unique_ptr<uint8_t[]> m_pRecordArea;
    bool m_bInDownload = false;
    bool m_bFailed = false;
    int64_t m_iLost = 0;
    std::string m_strPath;
    std::string m_strFailure;
};

// The end of a download or of an exchange.
class FTPItem_HPEOD : public FTPItem {
public:
    using FTPItem::FTPItem;
    void SaveReceivedString(uint8_t* pBytes, int32_t& iLength) override;
};

// Text from the host, logged.
class FTPItem_HPTXT : public FTPItem {
public:
    using FTPItem::FTPItem;
    void SaveReceivedString(uint8_t* pBytes, int32_t& iLength) override;
};

// The Response row that takes the place of HPEOD's when a download failed
// on the PC side: Cmd "HPEODFAIL", Data the reason, File the download file
// (empty when none could be created).
extern const char* const g_pszDownloadFailedCmd;
