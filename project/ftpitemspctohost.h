#pragma once
// The items sent to the host, and the two items answered inside the PC (PING, CLOSE).
// Their handling of records and lines is added with the transfer engine.

#include "ftpitem.h"

class FTPItem_PHREADY : public FTPItem {
public:
    FTPItem_PHREADY(const char* pszName, int32_t iId, uint16_t nType, std::atomic<int32_t>* pReady,
                    FTPLine* pLine);
};

class FTPItem_PHSETOPT : public FTPItem {
public:
    FTPItem_PHSETOPT(const char* pszName, int32_t iId, uint16_t nType, std::atomic<int32_t>* pReady,
                     FTPLine* pLine);
};

class FTPItem_PHSUBMIT : public FTPItem {
public:
    FTPItem_PHSUBMIT(const char* pszName, int32_t iId, uint16_t nType, std::atomic<int32_t>* pReady,
                     FTPLine* pLine);
};

class FTPItem_PHDELETE : public FTPItem {
public:
    FTPItem_PHDELETE(const char* pszName, int32_t iId, uint16_t nType, std::atomic<int32_t>* pReady,
                     FTPLine* pLine);
};

class FTPItem_PHMODIFY : public FTPItem {
public:
    FTPItem_PHMODIFY(const char* pszName, int32_t iId, uint16_t nType, std::atomic<int32_t>* pReady,
                     FTPLine* pLine);
};

class FTPItem_PHBPXWDYN : public FTPItem {
public:
    FTPItem_PHBPXWDYN(const char* pszName, int32_t iId, uint16_t nType, std::atomic<int32_t>* pReady,
                      FTPLine* pLine);
};

class FTPItem_PHGDSLST : public FTPItem {
public:
    FTPItem_PHGDSLST(const char* pszName, int32_t iId, uint16_t nType, std::atomic<int32_t>* pReady,
                     FTPLine* pLine);
};

class FTPItem_PHGDSLSTF : public FTPItem {
public:
    FTPItem_PHGDSLSTF(const char* pszName, int32_t iId, uint16_t nType, std::atomic<int32_t>* pReady,
                      FTPLine* pLine);
};

class FTPItem_PHGPODIR : public FTPItem {
public:
    FTPItem_PHGPODIR(const char* pszName, int32_t iId, uint16_t nType, std::atomic<int32_t>* pReady,
                     FTPLine* pLine);
};

class FTPItem_PHGPODIRF : public FTPItem {
public:
    FTPItem_PHGPODIRF(const char* pszName, int32_t iId, uint16_t nType, std::atomic<int32_t>* pReady,
                      FTPLine* pLine);
};

class FTPItem_PHGETFILE : public FTPItem {
public:
    FTPItem_PHGETFILE(const char* pszName, int32_t iId, uint16_t nType, std::atomic<int32_t>* pReady,
                      FTPLine* pLine);
};

class FTPItem_PHDATA : public FTPItem {
public:
    FTPItem_PHDATA(const char* pszName, int32_t iId, uint16_t nType, std::atomic<int32_t>* pReady,
                   FTPLine* pLine);
};

class FTPItem_PHEOD : public FTPItem {
public:
    FTPItem_PHEOD(const char* pszName, int32_t iId, uint16_t nType, std::atomic<int32_t>* pReady,
                  FTPLine* pLine);
};

class FTPItem_PHTXT : public FTPItem {
public:
    FTPItem_PHTXT(const char* pszName, int32_t iId, uint16_t nType, std::atomic<int32_t>* pReady,
                  FTPLine* pLine);
};

class FTPItem_PING : public FTPItem {
public:
    FTPItem_PING(const char* pszName, int32_t iId, uint16_t nType, std::atomic<int32_t>* pReady,
                 FTPLine* pLine);
};

class FTPItem_CLOSE : public FTPItem {
public:
    FTPItem_CLOSE(const char* pszName, int32_t iId, uint16_t nType, std::atomic<int32_t>* pReady,
                  FTPLine* pLine);
};
