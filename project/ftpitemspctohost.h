#pragma once
// The items sent to the host, and the two items answered inside the PC (PING, CLOSE).
// Each builds the line for its request: the 10-byte name prefix, the payload,
// the engine flags it raises and the hand-over flag of the line.

#include "ftpitem.h"

// The opening line of the run: the program identifies itself.
class FTPItem_PHREADY : public FTPItem {
public:
    FTPItem_PHREADY(const char* pszName, int32_t iId, uint16_t nType, std::atomic<int32_t>* pReady,
                    FTPLine* pLine);
    void BuildSendString(uint8_t* pLine, int32_t& iLength, int32_t& iHandOver) override;
};

// Options for the host; "FTTRAIL=Y" / "FTTRAIL=N" switch binary mode.
class FTPItem_PHSETOPT : public FTPItem {
public:
    FTPItem_PHSETOPT(const char* pszName, int32_t iId, uint16_t nType, std::atomic<int32_t>* pReady,
                     FTPLine* pLine);
    void BuildSendString(uint8_t* pLine, int32_t& iLength, int32_t& iHandOver) override;
};

// Job submission; opens an exchange that the host closes.
class FTPItem_PHSUBMIT : public FTPItem {
public:
    FTPItem_PHSUBMIT(const char* pszName, int32_t iId, uint16_t nType, std::atomic<int32_t>* pReady,
                     FTPLine* pLine);
    void BuildSendString(uint8_t* pLine, int32_t& iLength, int32_t& iHandOver) override;
};

// Deletion of a data set, member or job; answered at once.
class FTPItem_PHDELETE : public FTPItem {
public:
    FTPItem_PHDELETE(const char* pszName, int32_t iId, uint16_t nType, std::atomic<int32_t>* pReady,
                     FTPLine* pLine);
    void BuildSendString(uint8_t* pLine, int32_t& iLength, int32_t& iHandOver) override;
};

// Start of an upload: the records follow without waiting for the host.
class FTPItem_PHMODIFY : public FTPItem {
public:
    FTPItem_PHMODIFY(const char* pszName, int32_t iId, uint16_t nType, std::atomic<int32_t>* pReady,
                     FTPLine* pLine);
    void BuildSendString(uint8_t* pLine, int32_t& iLength, int32_t& iHandOver) override;
};

// Dynamic allocation; answered at once.
class FTPItem_PHBPXWDYN : public FTPItem {
public:
    FTPItem_PHBPXWDYN(const char* pszName, int32_t iId, uint16_t nType, std::atomic<int32_t>* pReady,
                      FTPLine* pLine);
    void BuildSendString(uint8_t* pLine, int32_t& iLength, int32_t& iHandOver) override;
};

// Data set list; opens an exchange.
class FTPItem_PHGDSLST : public FTPItem {
public:
    FTPItem_PHGDSLST(const char* pszName, int32_t iId, uint16_t nType, std::atomic<int32_t>* pReady,
                     FTPLine* pLine);
    void BuildSendString(uint8_t* pLine, int32_t& iLength, int32_t& iHandOver) override;
};

// Data set list with attributes; opens an exchange.
class FTPItem_PHGDSLSTF : public FTPItem {
public:
    FTPItem_PHGDSLSTF(const char* pszName, int32_t iId, uint16_t nType, std::atomic<int32_t>* pReady,
                      FTPLine* pLine);
    void BuildSendString(uint8_t* pLine, int32_t& iLength, int32_t& iHandOver) override;
};

// Member list; opens an exchange.
class FTPItem_PHGPODIR : public FTPItem {
public:
    FTPItem_PHGPODIR(const char* pszName, int32_t iId, uint16_t nType, std::atomic<int32_t>* pReady,
                     FTPLine* pLine);
    void BuildSendString(uint8_t* pLine, int32_t& iLength, int32_t& iHandOver) override;
};

// Member list with statistics; opens an exchange.
class FTPItem_PHGPODIRF : public FTPItem {
public:
    FTPItem_PHGPODIRF(const char* pszName, int32_t iId, uint16_t nType, std::atomic<int32_t>* pReady,
                      FTPLine* pLine);
    void BuildSendString(uint8_t* pLine, int32_t& iLength, int32_t& iHandOver) override;
};

// Download; opens an exchange.
class FTPItem_PHGETFILE : public FTPItem {
public:
    FTPItem_PHGETFILE(const char* pszName, int32_t iId, uint16_t nType, std::atomic<int32_t>* pReady,
                      FTPLine* pLine);
    void BuildSendString(uint8_t* pLine, int32_t& iLength, int32_t& iHandOver) override;
};

// One upload record; in binary mode only its prefix is translated.
class FTPItem_PHDATA : public FTPItem {
public:
    FTPItem_PHDATA(const char* pszName, int32_t iId, uint16_t nType, std::atomic<int32_t>* pReady,
                   FTPLine* pLine);
    void BuildSendString(uint8_t* pLine, int32_t& iLength, int32_t& iHandOver) override;
};

// End of an upload: the prefix alone, the turn passes to the host.
class FTPItem_PHEOD : public FTPItem {
public:
    FTPItem_PHEOD(const char* pszName, int32_t iId, uint16_t nType, std::atomic<int32_t>* pReady,
                  FTPLine* pLine);
    void BuildSendString(uint8_t* pLine, int32_t& iLength, int32_t& iHandOver) override;
};

// Text for the host, logged.
class FTPItem_PHTXT : public FTPItem {
public:
    FTPItem_PHTXT(const char* pszName, int32_t iId, uint16_t nType, std::atomic<int32_t>* pReady,
                  FTPLine* pLine);
    void BuildSendString(uint8_t* pLine, int32_t& iLength, int32_t& iHandOver) override;
};

// Answered inside the PC: the payload is echoed as a Response row.
class FTPItem_PING : public FTPItem {
public:
    FTPItem_PING(const char* pszName, int32_t iId, uint16_t nType, std::atomic<int32_t>* pReady,
                 FTPLine* pLine);
    void BuildSendString(uint8_t* pLine, int32_t& iLength, int32_t& iHandOver) override;
};

// Answered inside the PC: ends the run.
class FTPItem_CLOSE : public FTPItem {
public:
    FTPItem_CLOSE(const char* pszName, int32_t iId, uint16_t nType, std::atomic<int32_t>* pReady,
                  FTPLine* pLine);
    void BuildSendString(uint8_t* pLine, int32_t& iLength, int32_t& iHandOver) override;
};
