#pragma once
// One conversation as the host sees it: the requests of the PC come in as
// blocks, each answer goes out as a sequence of item records ending with the
// empty block that returns the turn. The session knows nothing of the
// network; it talks to an AnswerSink, so that every answer sequence can be
// checked without one.

#include "bpxwdyn.h"
#include "catalog.h"
#include "codec.h"
#include "faults.h"
#include "linelimits.h"
#include "spool.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace hostemu {

// Where the blocks of an answer go.
class AnswerSink {
public:
    virtual ~AnswerSink() = default;
    // One block (an item record, already in the host code page); false when
    // the conversation broke.
    virtual bool Send(const std::string& block) = 0;
    // The empty block; handOver 1 returns the turn to the PC, 0 is the
    // acknowledgement in the middle of an upload answer.
    virtual bool Ack(bool handOver) = 0;
    // Bytes outside the protocol's frames (fault injection).
    virtual bool SendRaw(const std::string& bytes) = 0;
    // A block of 32000 bytes or more, which the protocol's send refuses,
    // framed by hand (fault injection).
    virtual bool SendOversize(const std::string& block) = 0;
    // Closes the connection without a word (fault injection).
    virtual void Drop() = 0;
    // Waits; returns early (false) when the emulator is stopping.
    virtual bool Pause(int millis) = 0;
};

// What all sessions share.
struct HostContext {
    Catalog& catalog;
    Spool& spool;
    const Codec& codec;
    std::string sysname = "EMU1";
    std::function<void(const std::string&)> log; // may be empty
};

// Largest item record the PC takes in one block, and its payload: the
// limits vexlink itself works with.
constexpr size_t kMaxBlock = static_cast<size_t>(Limits::kBlock - 1);
constexpr size_t kMaxPayload = static_cast<size_t>(Limits::kMaxPayload);

class Session {
public:
    Session(HostContext& ctx, std::string userid, std::string member, Faults faults, int number);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Handles one block of the PC; handOver tells that the PC passed the turn
    // with it, and every turn the host gets it gives back with its answer.
    // False when the conversation is over for the host (dropped on purpose,
    // or an answer could not be sent).
    bool OnBlock(const std::string& block, bool handOver, AnswerSink& sink);

    // The never-answer switch took a request: the host keeps the turn.
    bool Hanging() const { return m_bHanging; }
    bool BinaryMode() const { return m_bBinary; }
    bool KeepTrailingBlanks() const { return m_bKeepTrailing; }
    const std::string& User() const { return m_user; }

private:
    class Answer;
    struct Upload;

    void Log(const std::string& text) const;
    bool Dispatch(const std::string& name, const std::string& payload, Answer& ans);
    bool DoReady(Answer& ans);
    bool DoSetopt(const std::string& text, Answer& ans);
    bool DoSubmit(const std::string& text, Answer& ans);
    bool DoDsList(const std::string& text, bool full, Answer& ans);
    bool DoMemberList(const std::string& text, bool full, Answer& ans);
    bool DoGetFile(const std::string& text, Answer& ans);
    bool DoDelete(const std::string& text, Answer& ans);
    bool DoBpxwdyn(const std::string& text, Answer& ans);
    bool DoTxt(const std::string& text, Answer& ans);
    void DoModify(const std::string& text);
    void DoData(const std::string& hostPayload);
    bool DoEod(Answer& ans);
    // Sends the records of readers as HPDATA, then HPEOD and the turn.
    bool StreamRecords(std::vector<std::unique_ptr<RecordReader>>& readers, const std::string& what, bool stripBlanks,
                       Answer& ans);

    HostContext& m_ctx;
    std::string m_user;
    std::string m_member;
    Faults m_faults;
    int m_number;
    bool m_bHanging = false;
    bool m_bBinary = false;
    bool m_bKeepTrailing = false;
    Allocations m_allocs;
    std::unique_ptr<Upload> m_upload;
};

// "RC=<rc> <text>" for an HPMSG. A text that would read as success when it
// is none (it holds "RC=0" while rc is not 0) is defused.
std::string MessageText(int rc, const std::string& text);

} // namespace hostemu
