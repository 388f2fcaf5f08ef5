#include "ftpitemspctohost.h"

FTPItem_PHREADY::FTPItem_PHREADY(const char* pszName, int32_t iId, uint16_t nType,
                                 std::atomic<int32_t>* pReady, FTPLine* pLine)
    : FTPItem(pszName, iId, nType, pReady, pLine)
{
}

FTPItem_PHSETOPT::FTPItem_PHSETOPT(const char* pszName, int32_t iId, uint16_t nType,
                                   std::atomic<int32_t>* pReady, FTPLine* pLine)
    : FTPItem(pszName, iId, nType, pReady, pLine)
{
}

FTPItem_PHSUBMIT::FTPItem_PHSUBMIT(const char* pszName, int32_t iId, uint16_t nType,
                                   std::atomic<int32_t>* pReady, FTPLine* pLine)
    : FTPItem(pszName, iId, nType, pReady, pLine)
{
}

FTPItem_PHDELETE::FTPItem_PHDELETE(const char* pszName, int32_t iId, uint16_t nType,
                                   std::atomic<int32_t>* pReady, FTPLine* pLine)
    : FTPItem(pszName, iId, nType, pReady, pLine)
{
}

FTPItem_PHMODIFY::FTPItem_PHMODIFY(const char* pszName, int32_t iId, uint16_t nType,
                                   std::atomic<int32_t>* pReady, FTPLine* pLine)
    : FTPItem(pszName, iId, nType, pReady, pLine)
{
}

FTPItem_PHBPXWDYN::FTPItem_PHBPXWDYN(const char* pszName, int32_t iId, uint16_t nType,
                                     std::atomic<int32_t>* pReady, FTPLine* pLine)
    : FTPItem(pszName, iId, nType, pReady, pLine)
{
}

FTPItem_PHGDSLST::FTPItem_PHGDSLST(const char* pszName, int32_t iId, uint16_t nType,
                                   std::atomic<int32_t>* pReady, FTPLine* pLine)
    : FTPItem(pszName, iId, nType, pReady, pLine)
{
}

FTPItem_PHGDSLSTF::FTPItem_PHGDSLSTF(const char* pszName, int32_t iId, uint16_t nType,
                                     std::atomic<int32_t>* pReady, FTPLine* pLine)
    : FTPItem(pszName, iId, nType, pReady, pLine)
{
}

FTPItem_PHGPODIR::FTPItem_PHGPODIR(const char* pszName, int32_t iId, uint16_t nType,
                                   std::atomic<int32_t>* pReady, FTPLine* pLine)
    : FTPItem(pszName, iId, nType, pReady, pLine)
{
}

FTPItem_PHGPODIRF::FTPItem_PHGPODIRF(const char* pszName, int32_t iId, uint16_t nType,
                                     std::atomic<int32_t>* pReady, FTPLine* pLine)
    : FTPItem(pszName, iId, nType, pReady, pLine)
{
}

FTPItem_PHGETFILE::FTPItem_PHGETFILE(const char* pszName, int32_t iId, uint16_t nType,
                                     std::atomic<int32_t>* pReady, FTPLine* pLine)
    : FTPItem(pszName, iId, nType, pReady, pLine)
{
}

FTPItem_PHDATA::FTPItem_PHDATA(const char* pszName, int32_t iId, uint16_t nType,
                               std::atomic<int32_t>* pReady, FTPLine* pLine)
    : FTPItem(pszName, iId, nType, pReady, pLine)
{
}

FTPItem_PHEOD::FTPItem_PHEOD(const char* pszName, int32_t iId, uint16_t nType,
                             std::atomic<int32_t>* pReady, FTPLine* pLine)
    : FTPItem(pszName, iId, nType, pReady, pLine)
{
}

FTPItem_PHTXT::FTPItem_PHTXT(const char* pszName, int32_t iId, uint16_t nType,
                             std::atomic<int32_t>* pReady, FTPLine* pLine)
    : FTPItem(pszName, iId, nType, pReady, pLine)
{
}

FTPItem_PING::FTPItem_PING(const char* pszName, int32_t iId, uint16_t nType,
                           std::atomic<int32_t>* pReady, FTPLine* pLine)
    : FTPItem(pszName, iId, nType, pReady, pLine)
{
}

FTPItem_CLOSE::FTPItem_CLOSE(const char* pszName, int32_t iId, uint16_t nType,
                             std::atomic<int32_t>* pReady, FTPLine* pLine)
    : FTPItem(pszName, iId, nType, pReady, pLine)
{
}
