#include "spool.h"

#include "names.h"
#include "platform/platform.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <filesystem>

namespace fs = std::filesystem;

namespace hostemu {

namespace {

const char* const kJobMagic = "VEXJOB";
const uint64_t kMaxTestLines = 1000000;

std::string Fmt(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Fmt(const char* format, ...)
{
    char buf[512];
    va_list ap;
    va_start(ap, format);
    std::vsnprintf(buf, sizeof buf, format, ap);
    va_end(ap);
    return buf;
}

std::tm LocalNow()
{
    std::tm tm{};
    Platform::localTime(static_cast<std::time_t>(Platform::nowSeconds()), tm);
    return tm;
}

std::string ClockText()
{
    std::tm tm = LocalNow();
    return Fmt("%02d.%02d.%02d", tm.tm_hour, tm.tm_min, tm.tm_sec);
}

// yyyyddd.hhmm as the IEF373I/IEF374I lines show it.
std::string JulianStamp()
{
    std::tm tm = LocalNow();
    return Fmt("%04d%03d.%02d%02d", tm.tm_year + 1900, tm.tm_yday + 1, tm.tm_hour, tm.tm_min);
}

std::string DayLine()
{
    static const char* days[] = {"SUNDAY", "MONDAY", "TUESDAY", "WEDNESDAY", "THURSDAY", "FRIDAY", "SATURDAY"};
    static const char* months[] = {"JAN", "FEB", "MAR", "APR", "MAY", "JUN", "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};
    std::tm tm = LocalNow();
    return Fmt("---- %s,  %02d %s %04d ----", days[tm.tm_wday], tm.tm_mday, months[tm.tm_mon], tm.tm_year + 1900);
}

// Numbers of the spool: up to 12 digits.
bool ParseDecimal12(const std::string& text, uint64_t& v, uint64_t max)
{
    return ParseDecimal(text, v, max, 12);
}

bool IsHex(const std::string& text)
{
    for (char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')))
            return false;
    return !text.empty();
}

// ABEND=S0C7 / ABEND=U100: the completion text "ABEND S0C7" / "ABEND U0100".
bool ParseAbend(const std::string& v, std::string& code)
{
    if (v.size() >= 2 && v[0] == 'S' && v.size() <= 4 && IsHex(v.substr(1))) {
        code = "S" + std::string(4 - v.size(), '0') + v.substr(1);
        return true;
    }
    uint64_t n;
    if (v.size() >= 2 && v[0] == 'U' && ParseDecimal12(v.substr(1), n, 4095)) {
        code = Fmt("U%04u", static_cast<unsigned>(n));
        return true;
    }
    return false;
}

} // namespace

struct Spool::SpoolOut {
    std::string ddname;
    std::string stepname;
    std::vector<std::string> records; // host code page
};

struct Spool::RunState {
    std::string jobid, jobname, owner;
    std::vector<std::string> msglg, jcl, sysmsg; // PC code
    std::vector<SpoolOut> outs;
    int maxcc = 0;
    std::string abend; // "S0C7" / "U0100" when the job abended
    bool jclError = false;
    // The SYSOUT outputs of the running step, by DD name.
    std::map<std::string, size_t> stepOuts;

    void Log(const std::string& text) { msglg.push_back(ClockText() + " " + jobid + "  " + text); }
    SpoolOut* Out(const std::string& ddname)
    {
        auto it = stepOuts.find(ddname);
        return it == stepOuts.end() ? nullptr : &outs[it->second];
    }
};

Status Spool::Open(const std::string& dir)
{
    m_dir = dir;
    std::map<std::string, JobPtr> jobs;
    int last = 0;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(dir, ec)) {
        std::string id = e.path().filename().string();
        if (!IsJobId(id))
            continue;
        RecordFileIndex index;
        std::string error;
        if (!ReadRecordFileIndex(e.path().string(), kJobMagic, index, error)) {
            std::fprintf(stderr, "hostemu: spool: ignoring %s: %s\n", id.c_str(), error.c_str());
            continue;
        }
        auto job = std::make_shared<JobInfo>();
        job->jobid = id;
        job->path = e.path().string();
        const std::string* v;
        if ((v = index.Find("JOBNAME")) != nullptr)
            job->jobname = *v;
        if ((v = index.Find("OWNER")) != nullptr)
            job->owner = *v;
        if ((v = index.Find("CLASS")) != nullptr && v->size() == 1)
            job->jobclass = (*v)[0];
        if ((v = index.Find("COMPLETION")) != nullptr)
            job->completion = *v;
        if ((v = index.Find("SUBMITTED")) != nullptr)
            job->submitted = *v;
        bool ok = !job->jobname.empty() && !job->completion.empty();
        for (const Section& s : index.sections) {
            uint64_t n;
            if (s.fields.size() != 4 || s.fields[0] != "SPOOL" || !ParseDecimal12(s.fields[1], n, 1000000)) {
                ok = false;
                break;
            }
            SpoolFileInfo f;
            f.number = static_cast<int>(n);
            f.ddname = s.fields[2];
            f.stepname = s.fields[3] == "-" ? std::string() : s.fields[3];
            f.section = s;
            job->files.push_back(f);
        }
        if (!ok) {
            std::fprintf(stderr, "hostemu: spool: ignoring %s: damaged\n", id.c_str());
            continue;
        }
        last = std::max(last, std::stoi(id.substr(3)));
        jobs.emplace(id, job);
    }
    if (ec)
        return Status::Error(12, "CANNOT READ " + dir + ": " + ec.message());
    std::lock_guard<std::mutex> submitLock(m_submitLock);
    std::unique_lock<std::shared_mutex> lock(m_lock);
    m_jobs.swap(jobs);
    m_lastNumber = last;
    return Status::Success();
}

std::string Spool::NextJobId()
{
    // Called with m_submitLock held, which guards m_lastNumber.
    std::shared_lock<std::shared_mutex> lock(m_lock);
    int n = m_lastNumber;
    for (int tries = 0; tries < 99999; ++tries) {
        n = n >= 99999 ? 1 : n + 1;
        std::string id = Fmt("JOB%05d", n);
        if (m_jobs.find(id) == m_jobs.end()) {
            m_lastNumber = n;
            return id;
        }
    }
    return std::string();
}

JobPtr Spool::Find(const std::string& jobid) const
{
    std::shared_lock<std::shared_mutex> lock(m_lock);
    auto it = m_jobs.find(jobid);
    return it == m_jobs.end() ? nullptr : it->second;
}

std::vector<JobPtr> Spool::List(const std::string& pattern) const
{
    std::vector<JobPtr> out;
    std::shared_lock<std::shared_mutex> lock(m_lock);
    for (const auto& kv : m_jobs)
        if (pattern.empty() || GlobMatch(pattern, kv.second->jobid) || GlobMatch(pattern, kv.second->jobname))
            out.push_back(kv.second);
    return out;
}

Status Spool::OpenReaders(const std::string& jobid, const std::string& selector,
                          std::vector<std::unique_ptr<RecordReader>>& readers) const
{
    readers.clear();
    std::shared_lock<std::shared_mutex> lock(m_lock);
    auto it = m_jobs.find(jobid);
    if (it == m_jobs.end())
        return Status::Error(8, "JOB " + jobid + " NOT FOUND IN THE SPOOL");
    const JobInfo& job = *it->second;
    std::vector<const SpoolFileInfo*> chosen;
    uint64_t number = 0;
    size_t dot = selector.find('.');
    for (const SpoolFileInfo& f : job.files) {
        bool take;
        if (selector.empty())
            take = true;
        else if (ParseDecimal12(selector, number, 1000000))
            take = static_cast<uint64_t>(f.number) == number;
        else if (dot != std::string::npos)
            take = f.stepname == selector.substr(0, dot) && f.ddname == selector.substr(dot + 1);
        else
            take = f.ddname == selector;
        if (take)
            chosen.push_back(&f);
    }
    if (chosen.empty())
        return Status::Error(8, "SPOOL FILE " + selector + " NOT FOUND IN " + jobid);
    for (const SpoolFileInfo* f : chosen) {
        std::FILE* fp = OpenForRead(job.path);
        if (fp == nullptr) {
            readers.clear();
            return Status::Error(12, "I/O ERROR OPENING THE OUTPUT OF " + jobid);
        }
        readers.emplace_back(new RecordReader(fp, f->section));
    }
    return Status::Success();
}

Status Spool::Purge(const std::string& jobid)
{
    std::unique_lock<std::shared_mutex> lock(m_lock);
    auto it = m_jobs.find(jobid);
    if (it == m_jobs.end())
        return Status::Error(8, "JOB " + jobid + " NOT FOUND IN THE SPOOL");
    std::error_code ec;
    fs::remove(it->second->path, ec);
    if (ec)
        return Status::Error(12, "CANNOT PURGE " + jobid + ": " + ec.message());
    m_jobs.erase(it);
    return Status::Success();
}

bool Spool::ReadDdRecords(const DdSpec& dd, std::vector<std::string>& out, std::string& why, std::string& abend)
{
    if (dd.dummy)
        return true;
    for (const DdSource& src : dd.sources) {
        if (src.instream) {
            for (const std::string& card : src.cards)
                out.push_back(m_codec.ToHost(card));
            continue;
        }
        if (src.dsn.compare(0, 2, "&&") == 0)
            continue; // a scratch data set of this job: empty
        DsRef ref;
        std::string error;
        if (!ParseDsRef(src.dsn, ref, error)) {
            why = error;
            abend = "S013";
            return false;
        }
        std::unique_ptr<RecordReader> reader;
        Status st = m_catalog.OpenReader(ref, reader);
        if (!st.Ok()) {
            why = "IEC141I 013-18," + dd.ddname + "," + ref.Text() + " - " + st.text;
            abend = "S013";
            return false;
        }
        std::string rec;
        int r;
        while ((r = reader->Next(rec)) == 1)
            out.push_back(rec);
        if (r < 0) {
            why = "IEC020I 001-4," + dd.ddname + "," + ref.Text() + " - I/O ERROR";
            abend = "S001";
            return false;
        }
    }
    return true;
}

int Spool::RunVextest(const StepSpec& step, RunState& rs, std::string& abend)
{
    SpoolOut* print = rs.Out("SYSPRINT");
    auto say = [&](const std::string& text) {
        if (print != nullptr)
            print->records.push_back(m_codec.ToHost(text));
    };
    say("VEXTEST STARTED, PARM='" + step.parm + "'");
    const DdSpec* sysin = step.FindDd("SYSIN");
    if (sysin != nullptr) {
        std::vector<std::string> in;
        std::string why;
        if (!ReadDdRecords(*sysin, in, why, abend)) {
            rs.sysmsg.push_back(why);
            return 0;
        }
        if (print != nullptr)
            for (const std::string& r : in)
                print->records.push_back(r);
    }
    int rc = 0;
    std::string parm = UpperAscii(step.parm);
    for (char& c : parm)
        if (c == ',')
            c = ' ';
    size_t pos = 0;
    while (pos < parm.size()) {
        size_t end = parm.find(' ', pos);
        if (end == std::string::npos)
            end = parm.size();
        std::string tok = parm.substr(pos, end - pos);
        pos = end + 1;
        if (tok.empty())
            continue;
        uint64_t n;
        if (tok.compare(0, 3, "RC=") == 0 && ParseDecimal12(tok.substr(3), n, 4095)) {
            rc = static_cast<int>(n);
        } else if (tok.compare(0, 6, "ABEND=") == 0 && ParseAbend(tok.substr(6), abend)) {
        } else if (tok.compare(0, 6, "LINES=") == 0 && ParseDecimal12(tok.substr(6), n, kMaxTestLines)) {
            for (uint64_t i = 1; i <= n; ++i)
                say(Fmt("VEXTEST LINE %08llu", static_cast<unsigned long long>(i)));
        } else {
            say("VEXTEST: PARM " + tok + " NOT UNDERSTOOD (RC=n, ABEND=Sxxx, ABEND=Unnnn, LINES=n)");
            rc = std::max(rc, 16);
        }
    }
    if (!abend.empty())
        say("VEXTEST ABENDING WITH " + abend);
    else
        say(Fmt("VEXTEST ENDED WITH RETURN CODE %d", rc));
    return rc;
}

int Spool::RunIebgener(const StepSpec& step, RunState& rs, std::string& abend)
{
    SpoolOut* print = rs.Out("SYSPRINT");
    auto say = [&](const std::string& text) {
        if (print != nullptr)
            print->records.push_back(m_codec.ToHost(text));
    };
    say("                                 DATA SET UTILITY - GENERATE");
    const DdSpec* ut1 = step.FindDd("SYSUT1");
    const DdSpec* ut2 = step.FindDd("SYSUT2");
    if (ut1 == nullptr || ut2 == nullptr) {
        say(std::string("IEB311I CONFLICTING PARAMETERS: ") + (ut1 == nullptr ? "SYSUT1" : "SYSUT2") +
            " DD STATEMENT MISSING");
        return 12;
    }
    std::vector<std::string> records;
    std::string why;
    if (!ReadDdRecords(*ut1, records, why, abend)) {
        rs.sysmsg.push_back(why);
        return 0;
    }
    if (ut2->sysout) {
        SpoolOut* out = rs.Out("SYSUT2");
        if (out != nullptr)
            for (const std::string& r : records)
                out->records.push_back(r);
    } else if (!ut2->dummy && !ut2->sources.empty() && !ut2->sources[0].instream) {
        const std::string& dsn = ut2->sources[0].dsn;
        bool scratch = dsn.compare(0, 2, "&&") == 0 ||
                       (ut2->status == "NEW" && ut2->normalDisp != "CATLG" && ut2->normalDisp != "KEEP");
        if (!scratch) {
            DsRef ref;
            std::string error;
            ParseDsRef(dsn, ref, error);
            WriteOptions opts;
            opts.userid = rs.owner;
            opts.append = ut2->status == "MOD";
            Status st;
            std::unique_ptr<DatasetWriter> w = m_catalog.BeginWrite(ref, opts, st);
            if (!w) {
                say("IEB352I OUTPUT NOT WRITTEN: " + st.text);
                return 12;
            }
            for (const std::string& r : records)
                if (!w->Add(r))
                    break;
            if (w->Failed()) {
                say("IEB351I I/O ERROR, " + ref.Text() + " NOT CHANGED: " + w->Failure().text);
                return 12;
            }
            st = m_catalog.Commit(*w);
            if (!st.Ok()) {
                say("IEB351I I/O ERROR, " + ref.Text() + " NOT CHANGED: " + st.text);
                return 12;
            }
        }
    }
    say(Fmt("IEB147I END OF JOB - 0 INCLUDE RETURN CODE %llu RECORDS COPIED",
            static_cast<unsigned long long>(records.size())));
    say("PROCESSING ENDED AT EOD");
    return 0;
}

void Spool::RunStep(const StepSpec& step, RunState& rs, bool& jobFailed)
{
    const std::string& stepName = step.name;
    if (jobFailed) {
        rs.sysmsg.push_back(rs.jobname + " " + stepName + " - STEP WAS NOT EXECUTED.");
        return;
    }
    rs.stepOuts.clear();
    // Allocation: every data set the step names must be there (or be new).
    for (const DdSpec& dd : step.dds) {
        for (const DdSource& src : dd.sources) {
            if (src.instream || src.dsn.compare(0, 2, "&&") == 0)
                continue;
            DsRef ref;
            std::string error;
            if (!ParseDsRef(src.dsn, ref, error))
                continue; // reported as a JCL error already
            EntryPtr entry = m_catalog.Find(ref.dsn);
            if (dd.status == "NEW") {
                if (entry && !ref.HasMember()) {
                    rs.sysmsg.push_back("IGD17101I DATA SET " + ref.dsn +
                                        " NOT DEFINED BECAUSE DUPLICATE NAME EXISTS IN CATALOG");
                    rs.sysmsg.push_back("IEF272I " + rs.jobname + " " + stepName + " - STEP WAS NOT EXECUTED.");
                    rs.jclError = true;
                    jobFailed = true;
                    return;
                }
                if (!entry && (dd.normalDisp == "CATLG" || dd.normalDisp == "KEEP")) {
                    DsAttrs attrs = dd.attrs;
                    if (ref.HasMember())
                        attrs.dsorg = Dsorg::PO;
                    Status st = m_catalog.Create(ref.dsn, attrs);
                    if (!st.Ok()) {
                        rs.sysmsg.push_back("IEF344I " + rs.jobname + " " + stepName + " " + dd.ddname +
                                            " - ALLOCATION FAILED: " + st.text);
                        rs.sysmsg.push_back("IEF272I " + rs.jobname + " " + stepName + " - STEP WAS NOT EXECUTED.");
                        rs.jclError = true;
                        jobFailed = true;
                        return;
                    }
                    rs.sysmsg.push_back("IGD101I SMS ALLOCATED TO DDNAME (" + dd.ddname + ") DSN (" + ref.dsn + ")");
                }
            } else if (!entry) {
                rs.sysmsg.push_back("IEF212I " + rs.jobname + " " + stepName + " " + dd.ddname +
                                    " - DATA SET NOT FOUND");
                rs.sysmsg.push_back("IEF272I " + rs.jobname + " " + stepName + " - STEP WAS NOT EXECUTED.");
                rs.jclError = true;
                jobFailed = true;
                return;
            }
        }
        if (dd.sysout) {
            rs.stepOuts[dd.ddname] = rs.outs.size();
            rs.outs.push_back(SpoolOut{dd.ddname, stepName, {}});
            rs.sysmsg.push_back("IEF237I JES2 ALLOCATED TO " + dd.ddname);
        } else if (dd.dummy) {
            rs.sysmsg.push_back("IEF237I DMY  ALLOCATED TO " + dd.ddname);
        } else {
            rs.sysmsg.push_back("IEF237I 0A80 ALLOCATED TO " + dd.ddname);
        }
    }
    rs.sysmsg.push_back("IEF373I STEP/" + stepName + " /START " + JulianStamp());
    std::string abend;
    int cc = 0;
    if (step.pgm == "IEFBR14") {
        cc = 0;
    } else if (step.pgm == "IEBGENER") {
        cc = RunIebgener(step, rs, abend);
    } else if (step.pgm == "VEXTEST") {
        cc = RunVextest(step, rs, abend);
    } else {
        rs.sysmsg.push_back("CSV003I REQUESTED MODULE " + step.pgm + " NOT FOUND");
        abend = "S806";
    }
    std::string timing;
    if (!abend.empty()) {
        if (abend[0] == 'S')
            rs.sysmsg.push_back("IEF472I " + rs.jobname + " " + stepName +
                                " - COMPLETION CODE - SYSTEM=" + abend.substr(1) + " USER=0000");
        else
            rs.sysmsg.push_back("IEF472I " + rs.jobname + " " + stepName +
                                " - COMPLETION CODE - SYSTEM=000 USER=" + abend.substr(1));
        rs.Log("IEA995I SYMPTOM DUMP OUTPUT  " + (abend[0] == 'S' ? "SYSTEM COMPLETION CODE=" + abend.substr(1)
                                                                  : "USER COMPLETION CODE=" + abend.substr(1)));
        rs.abend = abend;
        jobFailed = true;
        timing = Fmt("-%-8s %-8s *%s", stepName.c_str(), "", abend.c_str());
    } else {
        rs.sysmsg.push_back(
            Fmt("IEF142I %s %s - STEP WAS EXECUTED - COND CODE %04d", rs.jobname.c_str(), stepName.c_str(), cc));
        rs.maxcc = std::max(rs.maxcc, cc);
        timing = Fmt("-%-8s %-8s %5s", stepName.c_str(), "", Fmt("%02d", cc).c_str());
    }
    rs.Log(timing);
    rs.sysmsg.push_back("IEF374I STEP/" + stepName + " /STOP  " + JulianStamp());
}

void Spool::RunJob(const JobSpec& plan, const std::vector<JclError>& errors, RunState& rs)
{
    rs.msglg.push_back(
        "                    J E S 2  J O B  L O G  --  S Y S T E M  E M U 1  --  N O D E  H O S T E M U");
    rs.msglg.push_back("");
    rs.msglg.push_back(ClockText() + " " + rs.jobid + " " + DayLine());
    rs.Log("IRR010I  USERID " + rs.owner + " IS ASSIGNED TO THIS JOB.");
    for (const JclStatement& st : plan.statements) {
        bool first = true;
        for (const std::string& card : st.cards) {
            rs.jcl.push_back(first ? Fmt("%10d %s", st.number, card.c_str()) : "           " + card);
            first = false;
        }
    }
    if (!errors.empty()) {
        rs.jclError = true;
        rs.sysmsg.push_back(" STMT NO. MESSAGE");
        for (const JclError& e : errors)
            rs.sysmsg.push_back(Fmt("%9d %s", e.statement, e.text.c_str()));
        rs.Log("IEFC452I " + rs.jobname + " - JOB NOT RUN - JCL ERROR");
        rs.Log("$HASP395 " + rs.jobname + " ENDED - JCL ERROR");
        return;
    }
    rs.Log("$HASP373 " + rs.jobname + " STARTED - INIT 1    - CLASS " + std::string(1, plan.jobclass) + " - SYS EMU1");
    rs.Log("IEF403I " + rs.jobname + " - STARTED - TIME=" + ClockText());
    rs.Log("-STEPNAME PROCSTEP    RC");
    rs.sysmsg.push_back("IEF375I  JOB/" + rs.jobname + " /START " + JulianStamp());
    bool failed = false;
    for (const StepSpec& step : plan.steps)
        RunStep(step, rs, failed);
    rs.sysmsg.push_back("IEF376I  JOB/" + rs.jobname + " /STOP  " + JulianStamp());
    if (rs.jclError) {
        rs.Log("IEF453I " + rs.jobname + " - JOB FAILED - JCL ERROR - TIME=" + ClockText());
        rs.Log("$HASP395 " + rs.jobname + " ENDED - JCL ERROR");
    } else if (!rs.abend.empty()) {
        rs.Log("IEF404I " + rs.jobname + " - ENDED - TIME=" + ClockText());
        rs.Log("$HASP395 " + rs.jobname + " ENDED - ABEND=" + rs.abend);
    } else {
        rs.Log("IEF404I " + rs.jobname + " - ENDED - TIME=" + ClockText());
        rs.Log(Fmt("$HASP395 %s ENDED - RC=%04d", rs.jobname.c_str(), rs.maxcc));
    }
}

Status Spool::Submit(const std::vector<std::string>& cards, const std::string& owner, JobPtr& jobOut)
{
    JobSpec plan;
    std::vector<JclError> errors;
    std::string refusal;
    if (!BuildJob(cards, plan, errors, refusal))
        return Status::Error(8, "JOB NOT SUBMITTED: " + refusal);
    // One job at a time: jobs change the catalogue, and the spool numbers
    // them in submission order.
    std::lock_guard<std::mutex> submitLock(m_submitLock);
    std::string jobid = NextJobId();
    if (jobid.empty())
        return Status::Error(12, "JOB NOT SUBMITTED: THE SPOOL IS FULL, PURGE SOME JOBS");
    RunState rs;
    rs.jobid = jobid;
    rs.jobname = plan.jobname;
    rs.owner = owner.empty() ? "HOSTEMU" : owner;
    RunJob(plan, errors, rs);

    auto job = std::make_shared<JobInfo>();
    job->jobid = jobid;
    job->jobname = plan.jobname;
    job->owner = rs.owner;
    job->jobclass = plan.jobclass;
    if (rs.jclError)
        job->completion = "JCL ERROR";
    else if (!rs.abend.empty())
        job->completion = "ABEND " + rs.abend;
    else
        job->completion = Fmt("CC %04d", rs.maxcc);
    job->submitted = TodayText() + " " + NowTimeText();
    job->path = m_dir + "/" + jobid;

    std::string tmp = m_catalog.TempPath();
    RecordFileWriter w;
    std::string error;
    if (!w.Open(tmp, error))
        return Status::Error(12, "JOB NOT SUBMITTED: " + error);
    w.WriteHeader(kJobMagic, {{"JOBNAME", job->jobname},
                              {"OWNER", job->owner},
                              {"CLASS", std::string(1, job->jobclass)},
                              {"COMPLETION", job->completion},
                              {"SUBMITTED", job->submitted}});
    int number = 0;
    auto addFile = [&](const std::string& dd, const std::string& step, const std::vector<std::string>& recs,
                       bool pcCode) {
        SpoolFileInfo f;
        f.number = ++number;
        f.ddname = dd;
        f.stepname = step;
        w.BeginSection({"SPOOL", std::to_string(f.number), dd, step.empty() ? "-" : step});
        for (const std::string& r : recs) {
            if (pcCode) {
                std::string h = m_codec.ToHost(r);
                w.AddRecord(h.data(), h.size());
            } else {
                w.AddRecord(r.data(), r.size());
            }
        }
        w.EndSection(&f.section);
        job->files.push_back(f);
    };
    addFile("JESMSGLG", "", rs.msglg, true);
    addFile("JESJCL", "", rs.jcl, true);
    addFile("JESYSMSG", "", rs.sysmsg, true);
    for (const SpoolOut& o : rs.outs)
        addFile(o.ddname, o.stepname, o.records, false);
    if (!w.Close(error)) {
        std::error_code ec;
        fs::remove(tmp, ec);
        return Status::Error(12, "JOB NOT SUBMITTED: " + error);
    }
    std::unique_lock<std::shared_mutex> lock(m_lock);
    std::error_code ec;
    fs::rename(tmp, job->path, ec);
    if (ec) {
        fs::remove(tmp, ec);
        return Status::Error(12, "JOB NOT SUBMITTED: CANNOT WRITE THE SPOOL");
    }
    m_jobs[jobid] = job;
    jobOut = job;
    return Status::Success();
}

} // namespace hostemu
