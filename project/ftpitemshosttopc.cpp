#include "ftpitemshosttopc.h"

FTPItem_HPREADY::FTPItem_HPREADY(const char* pszName, int32_t iId, uint16_t nType,
                                 std::atomic<int32_t>* pReady, FTPLine* pLine)
    : FTPItem(pszName, iId, nType, pReady, pLine)
{
}

FTPItem_HPMSG::FTPItem_HPMSG(const char* pszName, int32_t iId, uint16_t nType,
                             std::atomic<int32_t>* pReady, FTPLine* pLine)
    : FTPItem(pszName, iId, nType, pReady, pLine)
{
}

FTPItem_HPDATA::FTPItem_HPDATA(const char* pszName, int32_t iId, uint16_t nType,
                               std::atomic<int32_t>* pReady, FTPLine* pLine)
    : FTPItem(pszName, iId, nType, pReady, pLine)
{
}

FTPItem_HPEOD::FTPItem_HPEOD(const char* pszName, int32_t iId, uint16_t nType,
                             std::atomic<int32_t>* pReady, FTPLine* pLine)
    : FTPItem(pszName, iId, nType, pReady, pLine)
{
}

FTPItem_HPTXT::FTPItem_HPTXT(const char* pszName, int32_t iId, uint16_t nType,
                             std::atomic<int32_t>* pReady, FTPLine* pLine)
    : FTPItem(pszName, iId, nType, pReady, pLine)
{
}
