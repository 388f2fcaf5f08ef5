#include "session.h"

#include "names.h"

#include <algorithm>
#include <cstdio>

namespace hostemu {

namespace {

const char* const kBogusPrefix = "HPBOGUS";

std::string Pad10(const std::string& name)
{
    std::string p = name.substr(0, 10);
    p.resize(10, ' ');
    return p;
}

std::string Shorten(const std::string& text, size_t max = 80)
{
    std::string t;
    for (char c : text.substr(0, max))
        t += (static_cast<unsigned char>(c) < 0x20) ? '.' : c;
    return text.size() > max ? t + "..." : t;
}

// Garbage bytes for the fault switch: a fixed pseudo-random pattern.
std::string Garbage(int count)
{
    std::string g;
    g.reserve(static_cast<size_t>(count));
    uint32_t x = 0x2545F491u;
    for (int i = 0; i < count; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        g += static_cast<char>(x & 0xFF);
    }
    return g;
}

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to)
{
    size_t pos = 0;
    while ((pos = text.find(from, pos)) != std::string::npos) {
        text.replace(pos, from.size(), to);
        pos += to.size();
    }
    return text;
}

// Splits JCL text into cards: at line ends (LF, CR LF, or the host's NL,
// which arrives as LF); a text without line ends longer than a card is cut
// into 80-column cards.
std::vector<std::string> SplitCards(const std::string& text)
{
    std::vector<std::string> cards;
    if (text.find('\n') == std::string::npos && text.find('\r') == std::string::npos && text.size() > 80) {
        for (size_t i = 0; i < text.size(); i += 80)
            cards.push_back(text.substr(i, 80));
        return cards;
    }
    std::string cur;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            continue;
        if (c == '\n' || c == '\r') {
            cards.push_back(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    if (!cur.empty())
        cards.push_back(cur);
    return cards;
}

std::string StripQuotesUpper(const std::string& text)
{
    std::string t = TrimBlanks(text);
    if (t.size() >= 2 && t.front() == '\'' && t.back() == '\'')
        t = t.substr(1, t.size() - 2);
    return UpperAscii(TrimBlanks(t));
}

std::string DsListLine(const DatasetEntry& e)
{
    uint64_t bytes = e.TotalBytes();
    uint64_t tracks = std::max<uint64_t>(1, (bytes + 56663) / 56664);
    char buf[160];
    std::snprintf(buf, sizeof buf, "%-6s %-4s   %10s %3d %4llu  %-5s %5d %5d  %-3s  %s", e.attrs.volser.c_str(), "3390",
                  e.attrs.changed.c_str(), 1, static_cast<unsigned long long>(tracks), RecfmText(e.attrs.recfm).c_str(),
                  e.attrs.lrecl, e.attrs.blksize, e.attrs.dsorg == Dsorg::PO ? "PO" : "PS", e.name.c_str());
    return buf;
}

std::string MemberLine(const MemberInfo& m)
{
    if (!m.hasStats)
        return m.name;
    char buf[160];
    std::snprintf(buf, sizeof buf, "%-8s  %02d.%02d %10s %10s %5s %5llu %5llu %5llu %s", m.name.c_str(), m.stats.vv,
                  m.stats.mm, m.stats.created.c_str(), m.stats.changedDate.c_str(),
                  m.stats.changedTime.substr(0, 5).c_str(), static_cast<unsigned long long>(m.section.records),
                  static_cast<unsigned long long>(m.stats.init), static_cast<unsigned long long>(m.stats.mod),
                  m.stats.userid.c_str());
    return buf;
}

std::string JobLine(const JobInfo& j)
{
    char buf[160];
    std::snprintf(buf, sizeof buf, "%-8s %-8s %-8s %-6s %c %3d %s", j.jobid.c_str(), j.jobname.c_str(), j.owner.c_str(),
                  "OUTPUT", j.jobclass, static_cast<int>(j.files.size()), j.completion.c_str());
    return buf;
}

} // namespace

std::string MessageText(int rc, const std::string& text)
{
    std::string t = text;
    // The PC takes any text holding "RC=0" as success; an error text that
    // quotes such characters from a request must not.
    if (rc != 0)
        t = ReplaceAll(t, "RC=0", "RC =0");
    return "RC=" + std::to_string(rc) + (t.empty() ? "" : " " + t);
}

// One answer: applies the fault switches and counts the data records.
class Session::Answer {
public:
    Answer(Session& s, AnswerSink& sink, const Faults* faults) : m_s(s), m_sink(sink), m_f(faults) {}

    bool Item(const std::string& name, const std::string& hostPayload)
    {
        if (!Start())
            return false;
        std::string block = m_s.m_ctx.codec.ToHost(Pad10(name)) + hostPayload.substr(0, kMaxPayload);
        return SendItem(block);
    }
    bool Text(const std::string& name, const std::string& pcText) { return Item(name, m_s.m_ctx.codec.ToHost(pcText)); }
    bool Msg(int rc, const std::string& text)
    {
        m_lastMsg = MessageText(rc, text);
        return Text("HPMSG", m_lastMsg);
    }
    // One HPDATA record; its payload must fit (kMaxPayload).
    bool Data(const std::string& hostPayload)
    {
        if (!Start())
            return false;
        ++m_data;
        std::string block = m_s.m_ctx.codec.ToHost(Pad10("HPDATA")) + hostPayload;
        bool ok;
        if (m_f != nullptr && m_f->oversize > 0 && m_data == 1) {
            block.resize(static_cast<size_t>(m_f->oversize), static_cast<char>(m_s.m_ctx.codec.HostBlank()));
            ok = m_ok = m_sink.SendOversize(block);
        } else {
            ok = SendItem(block);
        }
        if (ok && m_f != nullptr && m_f->dropAfter > 0 && m_data == m_f->dropAfter) {
            m_sink.Drop();
            m_bDropped = true;
            m_ok = false;
            return false;
        }
        return ok;
    }
    // True when the fail-after switch wants the next data record to fail.
    bool FailNow() const { return m_f != nullptr && m_f->failAfter > 0 && m_data >= m_f->failAfter; }
    bool Intermediate() { return Start() && (m_ok = m_sink.Ack(false)); }
    bool End() { return Start() && (m_ok = m_sink.Ack(true)); }
    bool Ok() const { return m_ok; }
    bool Dropped() const { return m_bDropped; }
    uint64_t DataCount() const { return m_data; }
    const std::string& LastMsg() const { return m_lastMsg; }
    void Note(const std::string& text) { m_note = text; }
    const std::string& NoteText() const { return m_note; }

private:
    bool Start()
    {
        if (!m_ok)
            return false;
        if (m_bStarted)
            return true;
        m_bStarted = true;
        if (m_f != nullptr && m_f->delayMs > 0 && !m_sink.Pause(m_f->delayMs))
            return m_ok = false;
        if (m_f != nullptr && m_f->unknownPrefix) {
            std::string block = m_s.m_ctx.codec.ToHost(Pad10(kBogusPrefix) + "AN ITEM NO PC KNOWS");
            if (!(m_ok = m_sink.Send(block)))
                return false;
        }
        return true;
    }
    bool SendItem(std::string block)
    {
        if (m_f != nullptr && m_f->garbage > 0) {
            std::string g = Garbage(m_f->garbage);
            switch (m_f->garbageMode) {
            case Faults::GarbageMode::Block:
                if (!(m_ok = m_sink.Send(g)))
                    return false;
                break;
            case Faults::GarbageMode::Inline:
                block = g + block;
                if (block.size() > kMaxBlock)
                    block.resize(kMaxBlock);
                break;
            case Faults::GarbageMode::Raw:
                if (!(m_ok = m_sink.SendRaw(g)))
                    return false;
                break;
            }
        }
        return m_ok = m_sink.Send(block);
    }

    Session& m_s;
    AnswerSink& m_sink;
    const Faults* m_f;
    bool m_bStarted = false;
    bool m_ok = true;
    bool m_bDropped = false;
    uint64_t m_data = 0;
    std::string m_lastMsg;
    std::string m_note;
};

struct Session::Upload {
    DsRef ref;
    std::unique_ptr<DatasetWriter> writer;
    Status error;          // a refusal found at PHMODIFY time
    uint64_t received = 0; // PHDATA records received
    bool orphan = false;   // PHDATA without a PHMODIFY
};

Session::Session(HostContext& ctx, std::string userid, std::string member, Faults faults, int number)
    : m_ctx(ctx), m_user(std::move(userid)), m_member(std::move(member)), m_faults(std::move(faults)), m_number(number),
      m_allocs(ctx.catalog)
{
}

Session::~Session()
{
    m_upload.reset(); // an unfinished upload is discarded; nothing was stored
    m_allocs.FreeAll();
}

void Session::Log(const std::string& text) const
{
    if (m_ctx.log)
        m_ctx.log("conversation " + std::to_string(m_number) + " " + m_user + ": " + text);
}

bool Session::OnBlock(const std::string& block, bool handOver, AnswerSink& sink)
{
    if (m_bHanging)
        return true; // the never-answer switch keeps the turn
    if (block.empty()) {
        // An empty block from the PC only returns the turn: give it back.
        if (handOver)
            return sink.Ack(true);
        return true;
    }
    std::string name, payload;
    if (block.size() < 10) {
        name = TrimBlanks(m_ctx.codec.ToPC(block));
    } else {
        name = TrimBlanks(m_ctx.codec.ToPC(block.substr(0, 10)));
        payload = block.substr(10);
    }
    // Upload records carry no answer of their own.
    if (name == "PHDATA" && block.size() >= 10) {
        DoData(payload);
        return handOver ? sink.Ack(true) : true;
    }
    if (name == "PHMODIFY" && block.size() >= 10) {
        DoModify(m_ctx.codec.ToPC(payload));
        return handOver ? sink.Ack(true) : true;
    }
    if (!handOver) {
        Log("<- " + name + " without the turn: not answered, not carried out");
        return true;
    }
    if (m_faults.neverAnswer && m_faults.AppliesTo(name)) {
        Log("<- " + name + ": never answered (fault switch)");
        m_bHanging = true;
        return true;
    }
    Answer ans(*this, sink, m_faults.AppliesTo(name) ? &m_faults : nullptr);
    if (block.size() < 10) {
        ans.Msg(12, "RECORD OF " + std::to_string(block.size()) + " BYTES IS SHORTER THAN ITS 10-BYTE ITEM PREFIX");
        ans.End();
    } else {
        if (name != "PHEOD" && m_upload) {
            Log("upload of " + m_upload->ref.Text() + " abandoned by " + name + "; nothing stored");
            m_upload.reset();
        }
        Dispatch(name, payload, ans);
    }
    if (ans.Dropped()) {
        Log("-> connection dropped after " + std::to_string(ans.DataCount()) + " records (fault switch)");
        return false;
    }
    std::string summary = ans.LastMsg().empty() ? std::string() : " " + ans.LastMsg();
    if (ans.DataCount() > 0)
        summary += " " + std::to_string(ans.DataCount()) + " HPDATA";
    if (!ans.NoteText().empty())
        summary += " " + ans.NoteText();
    Log("-> " + name + ":" + (summary.empty() ? " turn back" : summary));
    return ans.Ok();
}

bool Session::Dispatch(const std::string& name, const std::string& payload, Answer& ans)
{
    const std::string text = m_ctx.codec.ToPC(payload);
    Log("<- " + name + (text.empty() ? std::string() : " '" + Shorten(text) + "'"));
    if (name == "PHREADY")
        return DoReady(ans);
    if (name == "PHSETOPT")
        return DoSetopt(text, ans);
    if (name == "PHSUBMIT")
        return DoSubmit(text, ans);
    if (name == "PHGDSLST" || name == "PHGDSLSTF")
        return DoDsList(text, name == "PHGDSLSTF", ans);
    if (name == "PHGPODIR" || name == "PHGPODIRF")
        return DoMemberList(text, name == "PHGPODIRF", ans);
    if (name == "PHGETFILE")
        return DoGetFile(text, ans);
    if (name == "PHDELETE")
        return DoDelete(text, ans);
    if (name == "PHBPXWDYN")
        return DoBpxwdyn(text, ans);
    if (name == "PHTXT")
        return DoTxt(text, ans);
    if (name == "PHEOD")
        return DoEod(ans);
    ans.Msg(12, "REQUEST '" + Shorten(name, 10) + "' NOT KNOWN TO THE HOST");
    return ans.End();
}

bool Session::DoReady(Answer& ans)
{
    ans.Text("HPREADY", "HOSTEMU READY, SYSTEM=" + m_ctx.sysname + " STC=" + m_member + " USER=" + m_user +
                            " CODEPAGE=" + std::to_string(m_ctx.codec.TableNumber()));
    return ans.End();
}

bool Session::DoSetopt(const std::string& text, Answer& ans)
{
    // FTTRAIL is looked for exactly as vexlink looks for it (a plain,
    // case-sensitive search; Y wins over N), so both ends agree on the mode.
    if (text.find("FTTRAIL=N") != std::string::npos)
        m_bBinary = false;
    if (text.find("FTTRAIL=Y") != std::string::npos)
        m_bBinary = true;
    std::string unknown;
    std::string t = text;
    for (char& c : t)
        if (c == ',' || c == ';' || c == '\t')
            c = ' ';
    size_t pos = 0;
    while (pos < t.size()) {
        size_t end = t.find(' ', pos);
        if (end == std::string::npos)
            end = t.size();
        std::string tok = t.substr(pos, end - pos);
        pos = end + 1;
        if (tok.empty() || tok == "FTTRAIL=Y" || tok == "FTTRAIL=N")
            continue;
        std::string up = UpperAscii(tok);
        if (up == "TRAILINGBLANKS" || up == "TRAILINGBLANKS=Y" || up == "TRAILINGBLANKS=YES")
            m_bKeepTrailing = true;
        else if (up == "NOTRAILINGBLANKS" || up == "TRAILINGBLANKS=N" || up == "TRAILINGBLANKS=NO")
            m_bKeepTrailing = false;
        else
            unknown += (unknown.empty() ? "" : " ") + Shorten(tok, 40);
    }
    ans.Text("HPTXT", std::string("OPTIONS IN EFFECT: FTTRAIL=") + (m_bBinary ? "Y" : "N") +
                          " TRAILINGBLANKS=" + (m_bKeepTrailing ? "Y" : "N"));
    if (!unknown.empty())
        ans.Msg(4, "OPTION NOT KNOWN, IGNORED: " + unknown +
                       " (KNOWN: FTTRAIL=Y, FTTRAIL=N, TRAILINGBLANKS=Y, TRAILINGBLANKS=N)");
    return ans.End();
}

bool Session::DoSubmit(const std::string& text, Answer& ans)
{
    std::string t = TrimBlanks(text);
    std::vector<std::string> cards;
    DsRef ref;
    std::string error;
    if (t.empty()) {
        ans.Msg(8, "JOB NOT SUBMITTED: NO JCL GIVEN");
        return ans.End();
    }
    if (t.compare(0, 2, "//") != 0 && t.find('\n') == std::string::npos && ParseDsRef(t, ref, error)) {
        // SUBMIT 'USER.JCL(JOB)': the JCL comes from the catalogue.
        std::unique_ptr<RecordReader> reader;
        Status st = m_ctx.catalog.OpenReader(ref, reader);
        if (!st.Ok()) {
            ans.Msg(st.rc, "JOB NOT SUBMITTED: " + st.text);
            return ans.End();
        }
        std::string rec;
        int r;
        while ((r = reader->Next(rec)) == 1)
            cards.push_back(m_ctx.codec.ToPC(rec));
        if (r < 0) {
            ans.Msg(12, "JOB NOT SUBMITTED: I/O ERROR READING " + ref.Text());
            return ans.End();
        }
    } else {
        cards = SplitCards(text);
    }
    JobPtr job;
    Status st = m_ctx.spool.Submit(cards, m_user, job);
    if (!st.Ok()) {
        ans.Msg(st.rc, st.text);
        return ans.End();
    }
    ans.Msg(0, "IKJ56250I JOB " + job->jobname + "(" + job->jobid + ") SUBMITTED");
    ans.Text("HPEOD", "JOBID=" + job->jobid + " JOBNAME=" + job->jobname);
    ans.Note(job->jobid + " " + job->completion);
    return ans.End();
}

bool Session::DoDsList(const std::string& text, bool full, Answer& ans)
{
    std::string t = UpperAscii(TrimBlanks(text));
    std::vector<std::string> lines;
    if (t == "JES" || t.compare(0, 4, "JES ") == 0) {
        std::string pattern = TrimBlanks(t.substr(3));
        for (const JobPtr& j : m_ctx.spool.List(pattern))
            lines.push_back(full ? JobLine(*j) : j->jobid);
    } else {
        DsFilter filter;
        std::string error;
        if (!filter.Compile(text, error)) {
            ans.Msg(8, error);
            return ans.End();
        }
        std::vector<EntryPtr> entries = m_ctx.catalog.List(filter);
        lines.reserve(entries.size());
        for (const EntryPtr& e : entries)
            lines.push_back(full ? DsListLine(*e) : e->name);
    }
    uint64_t n = 0;
    for (const std::string& line : lines) {
        if (ans.FailNow()) {
            ans.Msg(12, "LIST ENDED AFTER " + std::to_string(n) + " ENTRIES: I/O ERROR (FAULT SWITCH)");
            ans.Text("HPEOD", "ENTRIES=" + std::to_string(n));
            return ans.End();
        }
        if (!ans.Data(m_ctx.codec.ToHost(line)))
            return false;
        ++n;
    }
    ans.Text("HPEOD", "ENTRIES=" + std::to_string(n));
    return ans.End();
}

bool Session::DoMemberList(const std::string& text, bool full, Answer& ans)
{
    std::string t = StripQuotesUpper(text);
    std::vector<std::string> lines;
    if (IsJobId(t)) {
        JobPtr job = m_ctx.spool.Find(t);
        if (!job) {
            ans.Msg(8, "JOB " + t + " NOT FOUND IN THE SPOOL");
            return ans.End();
        }
        for (const SpoolFileInfo& f : job->files) {
            if (full) {
                char buf[120];
                std::snprintf(buf, sizeof buf, "%3d %-8s %-8s %8llu", f.number, f.ddname.c_str(),
                              f.stepname.empty() ? "-" : f.stepname.c_str(),
                              static_cast<unsigned long long>(f.section.records));
                lines.push_back(buf);
            } else {
                lines.push_back(f.stepname.empty() ? f.ddname : f.stepname + "." + f.ddname);
            }
        }
    } else {
        std::string dsn = t, pattern;
        size_t open = t.find('(');
        if (open != std::string::npos) {
            if (t.back() != ')') {
                ans.Msg(8, "MISSING CLOSING PARENTHESIS IN " + t);
                return ans.End();
            }
            dsn = t.substr(0, open);
            pattern = t.substr(open + 1, t.size() - open - 2);
        }
        if (!IsValidDsName(dsn)) {
            ans.Msg(8, "INVALID DATA SET NAME " + dsn);
            return ans.End();
        }
        MemberFilter filter;
        std::string error;
        if (!filter.Compile(pattern, error)) {
            ans.Msg(8, error);
            return ans.End();
        }
        EntryPtr lib;
        Status st = m_ctx.catalog.FindLibrary(dsn, lib);
        if (!st.Ok()) {
            ans.Msg(st.rc, st.text);
            return ans.End();
        }
        MemberInfo key;
        key.name = filter.LiteralPrefix();
        auto it = std::lower_bound(lib->members.begin(), lib->members.end(), key,
                                   [](const MemberInfo& a, const MemberInfo& b) { return a.name < b.name; });
        uint64_t n = 0;
        for (; it != lib->members.end(); ++it) {
            if (it->name.compare(0, key.name.size(), key.name) != 0)
                break;
            if (!filter.Matches(it->name))
                continue;
            if (ans.FailNow()) {
                ans.Msg(12, "LIST ENDED AFTER " + std::to_string(n) + " ENTRIES: I/O ERROR (FAULT SWITCH)");
                ans.Text("HPEOD", "ENTRIES=" + std::to_string(n));
                return ans.End();
            }
            if (!ans.Data(m_ctx.codec.ToHost(full ? MemberLine(*it) : it->name)))
                return false;
            ++n;
        }
        ans.Text("HPEOD", "ENTRIES=" + std::to_string(n));
        return ans.End();
    }
    uint64_t n = 0;
    for (const std::string& line : lines) {
        if (!ans.Data(m_ctx.codec.ToHost(line)))
            return false;
        ++n;
    }
    ans.Text("HPEOD", "ENTRIES=" + std::to_string(n));
    return ans.End();
}

bool Session::StreamRecords(std::vector<std::unique_ptr<RecordReader>>& readers, const std::string& what,
                            bool stripBlanks, Answer& ans)
{
    const char blank = static_cast<char>(m_ctx.codec.HostBlank());
    uint64_t n = 0;
    std::string rec;
    for (auto& reader : readers) {
        for (;;) {
            int r = reader->Next(rec);
            if (r == 0)
                break;
            std::string failure;
            if (r < 0)
                failure = "IEC020I 001-4 I/O ERROR READING RECORD " + std::to_string(n + 1) + " OF " + what;
            else if (ans.FailNow())
                failure = "IEC020I 001-4 I/O ERROR READING RECORD " + std::to_string(n + 1) + " OF " + what +
                          " (FAULT SWITCH)";
            else if (stripBlanks) {
                size_t end = rec.find_last_not_of(blank);
                rec.resize(end == std::string::npos ? 0 : end + 1);
            }
            if (failure.empty() && rec.size() > kMaxPayload)
                failure = "RECORD " + std::to_string(n + 1) + " OF " + what + " HAS " + std::to_string(rec.size()) +
                          " BYTES, MORE THAN THE " + std::to_string(kMaxPayload) + " THAT FIT INTO ONE BLOCK";
            if (!failure.empty()) {
                // The download ends cleanly: the error, then the end of the
                // data, so that the PC closes its file.
                ans.Msg(12, failure + ", DOWNLOAD ENDED AFTER " + std::to_string(n) + " RECORDS");
                ans.Text("HPEOD", "RECORDS=" + std::to_string(n));
                return ans.End();
            }
            if (!ans.Data(rec))
                return false;
            ++n;
        }
    }
    ans.Text("HPEOD", "RECORDS=" + std::to_string(n));
    return ans.End();
}

bool Session::DoGetFile(const std::string& text, Answer& ans)
{
    std::string t = StripQuotesUpper(text);
    std::string first = t.substr(0, t.find('.'));
    std::vector<std::unique_ptr<RecordReader>> readers;
    if (IsJobId(first)) {
        std::string selector = first.size() < t.size() ? t.substr(first.size() + 1) : std::string();
        Status st = m_ctx.spool.OpenReaders(first, selector, readers);
        if (!st.Ok()) {
            ans.Msg(st.rc, st.text);
            return ans.End();
        }
        return StreamRecords(readers, t, false, ans);
    }
    DsRef ref;
    std::string error;
    if (!ParseDsRef(text, ref, error)) {
        ans.Msg(8, error);
        return ans.End();
    }
    std::unique_ptr<RecordReader> reader;
    EntryPtr entry;
    Status st = m_ctx.catalog.OpenReader(ref, reader, &entry);
    if (!st.Ok()) {
        ans.Msg(st.rc, st.text);
        return ans.End();
    }
    // Text downloads of fixed-length records lose their trailing blanks, as
    // host FTP servers do, unless TRAILINGBLANKS=Y or binary mode is set.
    bool strip = entry->attrs.recfm.type == 'F' && !m_bBinary && !m_bKeepTrailing;
    readers.push_back(std::move(reader));
    return StreamRecords(readers, ref.Text(), strip, ans);
}

bool Session::DoDelete(const std::string& text, Answer& ans)
{
    std::string t = StripQuotesUpper(text);
    if (IsJobId(t)) {
        Status st = m_ctx.spool.Purge(t);
        ans.Msg(st.rc, st.Ok() ? "JOB " + t + " PURGED" : st.text);
        return ans.End();
    }
    DsRef ref;
    std::string error;
    if (!ParseDsRef(text, ref, error)) {
        ans.Msg(8, error);
        return ans.End();
    }
    Status st = m_ctx.catalog.Delete(ref);
    if (st.Ok())
        ans.Msg(0, ref.HasMember() ? "IDC0549I MEMBER " + ref.member + " DELETED FROM " + ref.dsn
                                   : "IDC0550I ENTRY (A) " + ref.dsn + " DELETED");
    else
        ans.Msg(st.rc, (st.rc == 8 ? "IDC3012I " : "") + st.text);
    return ans.End();
}

bool Session::DoBpxwdyn(const std::string& text, Answer& ans)
{
    Status st = m_allocs.Execute(text);
    ans.Msg(st.rc, st.text);
    return ans.End();
}

bool Session::DoTxt(const std::string& text, Answer& ans)
{
    ans.Text("HPTXT", "TEXT RECEIVED BY " + m_ctx.sysname + ": " + text);
    return ans.End();
}

void Session::DoModify(const std::string& text)
{
    if (m_upload)
        Log("upload of " + m_upload->ref.Text() + " abandoned by a new PHMODIFY; nothing stored");
    m_upload.reset(new Upload());
    Upload& up = *m_upload;
    std::string t = TrimBlanks(text);
    size_t blank = t.find(' ');
    std::string name = blank == std::string::npos ? t : t.substr(0, blank);
    std::string rest = blank == std::string::npos ? std::string() : t.substr(blank + 1);
    Log("<- PHMODIFY '" + Shorten(t) + "'");
    std::string error;
    if (!ParseDsRef(name, up.ref, error)) {
        up.error = Status::Error(8, error);
        return;
    }
    std::vector<std::pair<std::string, std::string>> keys;
    if (!TrimBlanks(rest).empty() && !ParseKeywordString(rest, keys, error)) {
        up.error = Status::Error(8, "PHMODIFY OPTIONS NOT UNDERSTOOD: " + error);
        return;
    }
    WriteOptions opts;
    opts.padByte = m_bBinary ? 0x00 : m_ctx.codec.HostBlank();
    opts.userid = m_user;
    DsAttrs attrs;
    attrs.recfm.blocked = true;
    bool haveAttrs = false;
    for (const auto& kv : keys) {
        const std::string& k = kv.first;
        int v = 0;
        bool numOk = !kv.second.empty() && kv.second.size() < 7 &&
                     kv.second.find_first_not_of("0123456789") == std::string::npos;
        if (numOk)
            v = std::stoi(kv.second);
        if (k == "APPEND" || k == "MOD") {
            opts.append = true;
        } else if (k == "RECFM" && ParseRecfm(kv.second, attrs.recfm)) {
            haveAttrs = true;
        } else if (k == "LRECL" && numOk) {
            attrs.lrecl = v;
            haveAttrs = true;
        } else if (k == "BLKSIZE" && numOk) {
            attrs.blksize = v;
            haveAttrs = true;
        } else if (k == "VOL") {
            attrs.volser = UpperAscii(TrimBlanks(kv.second));
        } else {
            up.error = Status::Error(8, "PHMODIFY OPTION " + k + (kv.second.empty() ? "" : "(" + kv.second + ")") +
                                            " NOT UNDERSTOOD (APPEND, RECFM(), LRECL(), BLKSIZE(), VOL())");
            return;
        }
    }
    Status st;
    if (!m_ctx.catalog.Find(up.ref.dsn) && haveAttrs && !up.ref.HasMember())
        up.writer = m_ctx.catalog.BeginCreate(up.ref.dsn, attrs, opts, st);
    else
        up.writer = m_ctx.catalog.BeginWrite(up.ref, opts, st);
    if (!up.writer)
        up.error = st;
}

void Session::DoData(const std::string& hostPayload)
{
    if (!m_upload) {
        m_upload.reset(new Upload());
        m_upload->orphan = true;
    }
    Upload& up = *m_upload;
    ++up.received;
    if (up.writer)
        up.writer->Add(hostPayload);
}

bool Session::DoEod(Answer& ans)
{
    std::unique_ptr<Upload> up(std::move(m_upload));
    if (!up || up->orphan) {
        ans.Msg(12, "PHEOD WITHOUT A PRECEDING PHMODIFY, " + std::to_string(up ? up->received : 0) +
                        " RECORDS RECEIVED AND DROPPED, NOTHING STORED");
        return ans.End();
    }
    const std::string target = up->ref.Text();
    if (!up->error.Ok()) {
        ans.Msg(up->error.rc, up->error.text + ", NOTHING STORED");
        return ans.End();
    }
    if (up->writer->Failed()) {
        ans.Msg(up->writer->Failure().rc, up->writer->Failure().text + ", " + target + " NOT CHANGED");
        return ans.End();
    }
    // First the receipt, an acknowledgement the PC does not take as the
    // turn; then the stored count and the turn.
    ans.Msg(0, std::to_string(up->received) + " RECORDS RECEIVED FOR " + target);
    if (!ans.Intermediate())
        return false;
    const uint64_t stored = up->received;
    Status st = m_ctx.catalog.Commit(*up->writer);
    if (!st.Ok()) {
        ans.Msg(st.rc, st.text + ", " + target + " NOT CHANGED");
        return ans.End();
    }
    ans.Msg(0, "ROWS=" + std::to_string(stored) + " " + target + " STORED");
    return ans.End();
}

} // namespace hostemu
