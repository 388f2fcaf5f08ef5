#pragma once
// The items that arrive from the host.
// Their handling of records and lines is added with the transfer engine.

#include "ftpitem.h"

class FTPItem_HPREADY : public FTPItem {
public:
    FTPItem_HPREADY(const char* pszName, int32_t iId, uint16_t nType, std::atomic<int32_t>* pReady,
                    FTPLine* pLine);
};

class FTPItem_HPMSG : public FTPItem {
public:
    FTPItem_HPMSG(const char* pszName, int32_t iId, uint16_t nType, std::atomic<int32_t>* pReady,
                  FTPLine* pLine);
};

class FTPItem_HPDATA : public FTPItem {
public:
    FTPItem_HPDATA(const char* pszName, int32_t iId, uint16_t nType, std::atomic<int32_t>* pReady,
                   FTPLine* pLine);
};

class FTPItem_HPEOD : public FTPItem {
public:
    FTPItem_HPEOD(const char* pszName, int32_t iId, uint16_t nType, std::atomic<int32_t>* pReady,
                  FTPLine* pLine);
};

class FTPItem_HPTXT : public FTPItem {
public:
    FTPItem_HPTXT(const char* pszName, int32_t iId, uint16_t nType, std::atomic<int32_t>* pReady,
                  FTPLine* pLine);
};
