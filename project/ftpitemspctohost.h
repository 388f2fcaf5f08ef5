#pragma once
// The items sent to the host, and the two items answered inside the PC (PING, CLOSE).
// Each builds the line for its request: the 10-byte name prefix, the payload,
// the engine flags it raises and the hand-over flag of the line.

#include "ftpitem.h"

// A request whose line is its prefix and payload: the kinds differ only in
// what queueing them does to the exchange and whether the turn passes.
template <OnQueue kEffect, HandOver kHandOver> class FTPItem_Request : public FTPItem {
public:
    using FTPItem::FTPItem;
    void BuildSendString(uint8_t* pLine, int32_t& iLength, int32_t& iHandOver) override
    {
        BuildRequest(pLine, iLength, iHandOver, kEffect, kHandOver);
    }
};

// The opening line of the run: the program identifies itself.
class FTPItem_PHREADY : public FTPItem {
public:
    using FTPItem::FTPItem;
    void BuildSendString(uint8_t* pLine, int32_t& iLength, int32_t& iHandOver) override;
};

// Options for the host; "FTTRAIL=Y" / "FTTRAIL=N" switch binary mode.
class FTPItem_PHSETOPT : public FTPItem {
public:
    using FTPItem::FTPItem;
    void BuildSendString(uint8_t* pLine, int32_t& iLength, int32_t& iHandOver) override;
};

// Job submission; opens an exchange that the host closes.
class FTPItem_PHSUBMIT : public FTPItem_Request<OnQueue::OpenExchange, HandOver::Pass> {
public:
    using FTPItem_Request::FTPItem_Request;
};

// Deletion of a data set, member or job; answered at once.
class FTPItem_PHDELETE : public FTPItem_Request<OnQueue::Nothing, HandOver::Pass> {
public:
    using FTPItem_Request::FTPItem_Request;
};

// Start of an upload: the records follow without waiting for the host.
class FTPItem_PHMODIFY : public FTPItem_Request<OnQueue::Nothing, HandOver::Keep> {
public:
    using FTPItem_Request::FTPItem_Request;
};

// Dynamic allocation; answered at once.
class FTPItem_PHBPXWDYN : public FTPItem_Request<OnQueue::Nothing, HandOver::Pass> {
public:
    using FTPItem_Request::FTPItem_Request;
};

// Data set list; opens an exchange.
class FTPItem_PHGDSLST : public FTPItem_Request<OnQueue::OpenExchange, HandOver::Pass> {
public:
    using FTPItem_Request::FTPItem_Request;
};

// Data set list with attributes; opens an exchange.
class FTPItem_PHGDSLSTF : public FTPItem_Request<OnQueue::OpenExchange, HandOver::Pass> {
public:
    using FTPItem_Request::FTPItem_Request;
};

// Member list; opens an exchange.
class FTPItem_PHGPODIR : public FTPItem_Request<OnQueue::OpenExchange, HandOver::Pass> {
public:
    using FTPItem_Request::FTPItem_Request;
};

// Member list with statistics; opens an exchange.
class FTPItem_PHGPODIRF : public FTPItem_Request<OnQueue::OpenExchange, HandOver::Pass> {
public:
    using FTPItem_Request::FTPItem_Request;
};

// Download; opens an exchange.
class FTPItem_PHGETFILE : public FTPItem_Request<OnQueue::OpenExchange, HandOver::Pass> {
public:
    using FTPItem_Request::FTPItem_Request;
};

// One upload record; in binary mode only its prefix is translated.
class FTPItem_PHDATA : public FTPItem {
public:
    using FTPItem::FTPItem;
    void BuildSendString(uint8_t* pLine, int32_t& iLength, int32_t& iHandOver) override;
};

// End of an upload: the prefix alone, the turn passes to the host.
class FTPItem_PHEOD : public FTPItem {
public:
    using FTPItem::FTPItem;
    void BuildSendString(uint8_t* pLine, int32_t& iLength, int32_t& iHandOver) override;
};

// Text for the host, logged.
class FTPItem_PHTXT : public FTPItem {
public:
    using FTPItem::FTPItem;
    void BuildSendString(uint8_t* pLine, int32_t& iLength, int32_t& iHandOver) override;
};

// Answered inside the PC: the payload is echoed as a Response row.
class FTPItem_PING : public FTPItem {
public:
    using FTPItem::FTPItem;
    void BuildSendString(uint8_t* pLine, int32_t& iLength, int32_t& iHandOver) override;
};

// Answered inside the PC: ends the run.
class FTPItem_CLOSE : public FTPItem {
public:
    using FTPItem::FTPItem;
    void BuildSendString(uint8_t* pLine, int32_t& iLength, int32_t& iHandOver) override;
};
