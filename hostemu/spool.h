#pragma once
// The job spool: submitted jobs run at once against the catalogue, and
// their output stays in the spool by DD (JESMSGLG, JESJCL, JESYSMSG and the
// SYSOUT DDs of the steps) until it is purged.
//
// Programs the emulator runs:
//   IEFBR14                  does nothing, CC 0000
//   IEBGENER                 copies SYSUT1 (data set, member, in-stream
//                            data, concatenations) to SYSUT2 (SYSOUT or a
//                            data set or member); CC 0000, CC 0012 on errors
//   VEXTEST PARM='...'       test program: RC=n ends with CC n, ABEND=Sxxx or
//                            ABEND=Unnnn abends, LINES=n writes n lines to
//                            SYSPRINT; echoes its SYSIN to SYSPRINT
//   any other program        ABEND S806 (module not found)
// A data set named with DISP=SHR/OLD/MOD that is not catalogued fails the
// job with JCL ERROR, as do statements the reader does not understand.

#include "catalog.h"
#include "codec.h"
#include "jcl.h"

#include <map>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <vector>

namespace hostemu {

struct SpoolFileInfo {
    int number = 0; // 1, 2, ... in the order JES lists them
    std::string ddname;
    std::string stepname; // empty for the JES files
    Section section;
};

struct JobInfo {
    std::string jobid;
    std::string jobname;
    std::string owner;
    char jobclass = 'A';
    std::string completion; // "CC 0000", "CC 0004", "JCL ERROR", "ABEND S0C7", "ABEND U0100"
    std::string submitted;  // yyyy/mm/dd hh:mm:ss
    std::string path;
    std::vector<SpoolFileInfo> files;
};
using JobPtr = std::shared_ptr<const JobInfo>;

class Spool {
public:
    Spool(Catalog& catalog, const Codec& codec) : m_catalog(catalog), m_codec(codec) {}
    Spool(const Spool&) = delete;
    Spool& operator=(const Spool&) = delete;

    // Loads the jobs kept in dir (the catalogue's spool/ directory).
    Status Open(const std::string& dir);

    // Takes the JCL cards (PC-code text), runs the job and keeps its output.
    // Fails without a job only when the deck is no job at all (rc 8) or the
    // spool is full (rc 12).
    Status Submit(const std::vector<std::string>& cards, const std::string& owner, JobPtr& job);

    JobPtr Find(const std::string& jobid) const;
    // Jobs whose id or name matches the pattern ('*' and '%'; empty: all),
    // by job id.
    std::vector<JobPtr> List(const std::string& pattern) const;
    // Readers for the output: selector empty = every spool file; a DD name
    // (JESMSGLG, SYSPRINT: every spool file of that name in step order);
    // STEP.DDNAME; or the spool file number.
    Status OpenReaders(const std::string& jobid, const std::string& selector,
                       std::vector<std::unique_ptr<RecordReader>>& readers) const;
    Status Purge(const std::string& jobid);

private:
    struct SpoolOut;
    struct RunState;
    std::string NextJobId();
    void RunJob(const JobSpec& plan, const std::vector<JclError>& errors, RunState& rs);
    void RunStep(const StepSpec& step, RunState& rs, bool& jobFailed);
    int RunIebgener(const StepSpec& step, RunState& rs, std::string& abend);
    int RunVextest(const StepSpec& step, RunState& rs, std::string& abend);
    bool ReadDdRecords(const DdSpec& dd, std::vector<std::string>& hostRecords, std::string& why, std::string& abend);

    Catalog& m_catalog;
    const Codec& m_codec;
    std::string m_dir;
    mutable std::shared_mutex m_lock;
    std::map<std::string, JobPtr> m_jobs;
    std::mutex m_submitLock; // one job at a time; guards m_lastNumber
    int m_lastNumber = 0;
};

} // namespace hostemu
