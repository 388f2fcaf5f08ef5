#include "bpxwdyn.h"

#include "names.h"

#include <algorithm>
#include <set>

namespace hostemu {

namespace {

std::string Unquote(std::string v)
{
    v = TrimBlanks(v);
    if (v.size() >= 2 && v.front() == '\'' && v.back() == '\'')
        v = v.substr(1, v.size() - 2);
    return v;
}

// A count of at most six digits, blanks around it allowed.
bool ParseCount(const std::string& text, int& v)
{
    uint64_t n = 0;
    if (!ParseDecimal(TrimBlanks(text), n, UINT64_MAX, 6))
        return false;
    v = static_cast<int>(n);
    return true;
}

// Aliases of BPXWDYN keywords, mapped to one name.
std::string Canonical(const std::string& key)
{
    if (key == "FILE" || key == "DD" || key == "DDNAME")
        return "FI";
    if (key == "DSN" || key == "DSNAME" || key == "DATASET")
        return "DA";
    if (key == "CATLG")
        return "CATALOG";
    if (key == "VOLUME")
        return "VOL";
    if (key == "TRK" || key == "TRACK")
        return "TRACKS";
    if (key == "CYLINDERS")
        return "CYL";
    if (key == "ALLOCATE")
        return "ALLOC";
    if (key == "UNALLOC")
        return "FREE";
    return key;
}

} // namespace

bool ParseKeywordString(const std::string& text, std::vector<std::pair<std::string, std::string>>& out,
                        std::string& error)
{
    out.clear();
    size_t i = 0;
    std::set<std::string> seen;
    while (i < text.size()) {
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == ','))
            ++i;
        if (i >= text.size())
            break;
        size_t start = i;
        while (i < text.size() && ((text[i] >= 'A' && text[i] <= 'Z') || (text[i] >= 'a' && text[i] <= 'z') ||
                                   (text[i] >= '0' && text[i] <= '9')))
            ++i;
        std::string key = Canonical(UpperAscii(text.substr(start, i - start)));
        if (key.empty()) {
            error = "UNEXPECTED CHARACTER '" + std::string(1, text[i]) + "'";
            return false;
        }
        std::string value;
        if (i < text.size() && text[i] == '(') {
            int depth = 0;
            bool inQuote = false;
            size_t vstart = i + 1;
            for (; i < text.size(); ++i) {
                char c = text[i];
                if (c == '\'')
                    inQuote = !inQuote;
                else if (!inQuote && c == '(')
                    ++depth;
                else if (!inQuote && c == ')' && --depth == 0)
                    break;
            }
            if (i >= text.size()) {
                error = "UNBALANCED PARENTHESES OR QUOTES AFTER " + key;
                return false;
            }
            value = text.substr(vstart, i - vstart);
            ++i;
        } else if (i < text.size() && text[i] != ' ' && text[i] != '\t' && text[i] != ',') {
            error = "UNEXPECTED CHARACTER '" + std::string(1, text[i]) + "' AFTER " + key;
            return false;
        }
        if (!seen.insert(key).second) {
            error = "KEYWORD " + key + " GIVEN TWICE";
            return false;
        }
        out.emplace_back(key, value);
    }
    if (out.empty()) {
        error = "EMPTY REQUEST";
        return false;
    }
    return true;
}

std::string Allocations::DatasetOf(const std::string& ddname) const
{
    auto it = m_allocs.find(UpperAscii(ddname));
    return it == m_allocs.end() ? std::string() : it->second.dsn;
}

Status Allocations::Execute(const std::string& request)
{
    std::vector<std::pair<std::string, std::string>> parts;
    std::string error;
    if (!ParseKeywordString(request, parts, error))
        return Status::Error(12, "BPXWDYN REQUEST NOT UNDERSTOOD: " + error);
    std::map<std::string, std::string> keys;
    for (size_t i = 1; i < parts.size(); ++i)
        keys[parts[i].first] = parts[i].second;
    const std::string& verb = parts[0].first;
    if (verb == "ALLOC")
        return Allocate(keys);
    if (verb == "FREE")
        return Free(keys);
    return Status::Error(12, "BPXWDYN REQUEST NOT UNDERSTOOD: UNKNOWN VERB " + verb + " (ALLOC OR FREE)");
}

Status Allocations::Allocate(const Keys& keys)
{
    std::string status, disp;
    Status st = ReadStatusAndDisposition(keys, status, disp);
    if (!st.Ok())
        return st;
    auto da = keys.find("DA");
    if (da == keys.end())
        return Status::Error(12, "DA(DATA SET NAME) IS REQUIRED");
    DsRef ref;
    std::string error;
    if (!ParseDsRef(Unquote(da->second), ref, error))
        return Status::Error(12, error);
    std::string ddname;
    auto fi = keys.find("FI");
    if (fi != keys.end()) {
        ddname = UpperAscii(TrimBlanks(fi->second));
        if (!IsValidMemberName(ddname))
            return Status::Error(12, "INVALID FILE NAME " + ddname);
        if (m_allocs.count(ddname) && !keys.count("REUSE"))
            return Status::Error(8, "FILE " + ddname + " IS ALREADY ALLOCATED, FREE IT OR ADD REUSE");
    }
    EntryPtr entry = m_catalog.Find(ref.dsn);
    std::string what;
    if (status == "NEW") {
        if (entry)
            return Status::Error(8, "DATA SET " + ref.dsn + " NOT ALLOCATED, DUPLICATE NAME EXISTS IN CATALOG");
        st = CreateNew(keys, ref, disp, what);
        if (!st.Ok())
            return st;
    } else {
        if (!entry)
            return Status::Error(8, "DATA SET " + ref.dsn + " NOT IN CATALOG");
        if (ref.HasMember() && entry->attrs.dsorg != Dsorg::PO)
            return Status::Error(8, "DATA SET " + ref.dsn + " IS NOT PARTITIONED, NO MEMBER ALLOWED");
        what = status;
    }
    if (ddname.empty() && (disp == "DELETE" || disp == "UNCATALOG") && status != "NEW") {
        // Without a file name the allocation cannot be freed later; BPXWDYN
        // would make one up, and so do we.
        ddname = "SYS" + std::to_string(++m_generated + 10000);
    }
    if (!ddname.empty())
        m_allocs[ddname] = Alloc{ref.Text(), status, disp};
    return Status::Success("ALLOC " + (ddname.empty() ? std::string() : "FI(" + ddname + ") ") + "DA(" + ref.Text() +
                           ") " + status + (disp.empty() ? "" : " " + disp) + " - " + what);
}

Status Allocations::ReadStatusAndDisposition(const Keys& keys, std::string& status, std::string& disp)
{
    static const std::set<std::string> known = {
        "FI",     "DA",        "NEW",      "OLD",      "SHR",      "MOD",   "CATALOG", "KEEP",
        "DELETE", "UNCATALOG", "DSORG",    "DSNTYPE",  "RECFM",    "LRECL", "BLKSIZE", "DIR",
        "SPACE",  "CYL",       "TRACKS",   "BLOCK",    "UNIT",     "VOL",   "REUSE",   "MSG",
        "LIKE",   "RELEASE",   "STORCLAS", "MGMTCLAS", "DATACLAS", "RTDDN", "RTDSN"};
    for (const auto& kv : keys)
        if (known.find(kv.first) == known.end())
            return Status::Error(12, "BPXWDYN KEYWORD " + kv.first + " NOT SUPPORTED");
    int statuses = 0;
    status = "NEW";
    for (const char* s : {"NEW", "OLD", "SHR", "MOD"})
        if (keys.count(s)) {
            ++statuses;
            status = s;
        }
    if (statuses > 1)
        return Status::Error(12, "CONFLICTING STATUS KEYWORDS, GIVE ONE OF NEW, OLD, SHR, MOD");
    disp.clear();
    for (const char* d : {"CATALOG", "KEEP", "DELETE", "UNCATALOG"})
        if (keys.count(d)) {
            if (!disp.empty())
                return Status::Error(12, "CONFLICTING DISPOSITIONS " + disp + " AND " + d);
            disp = d;
        }
    return Status::Success();
}

Status Allocations::CreateNew(const Keys& keys, const DsRef& ref, const std::string& disp, std::string& what)
{
    DsAttrs attrs;
    Status st = NewAttributes(keys, ref, attrs);
    if (!st.Ok())
        return st;
    if (disp == "DELETE") {
        // A work data set that would vanish when freed: nothing to keep.
        std::string error;
        if (!ValidateAttrs(attrs, error))
            return Status::Error(12, error);
        what = "TEMPORARY, NOT CATALOGED";
        return Status::Success();
    }
    st = m_catalog.Create(ref.dsn, attrs);
    if (st.Ok())
        what = "CATALOGED";
    return st;
}

Status Allocations::NewAttributes(const Keys& keys, const DsRef& ref, DsAttrs& attrs)
{
    // A model's attributes first (LIKE), the keywords on top of them.
    attrs.recfm.blocked = true;
    std::string error;
    auto like = keys.find("LIKE");
    if (like != keys.end()) {
        DsRef likeRef;
        if (!ParseDsRef(Unquote(like->second), likeRef, error))
            return Status::Error(12, "LIKE: " + error);
        EntryPtr model = m_catalog.Find(likeRef.dsn);
        if (!model)
            return Status::Error(8, "LIKE DATA SET " + likeRef.dsn + " NOT IN CATALOG");
        attrs = model->attrs;
        attrs.created.clear();
        attrs.changed.clear();
    }
    auto it = keys.find("DSORG");
    if (it != keys.end()) {
        std::string v = UpperAscii(TrimBlanks(it->second));
        if (v == "PS")
            attrs.dsorg = Dsorg::PS;
        else if (v == "PO")
            attrs.dsorg = Dsorg::PO;
        else
            return Status::Error(12, "DSORG MUST BE PS OR PO");
    }
    if ((it = keys.find("DSNTYPE")) != keys.end()) {
        std::string v = UpperAscii(TrimBlanks(it->second));
        if (v == "LIBRARY" || v == "PDS")
            attrs.dsorg = Dsorg::PO;
        else if (v != "BASIC" && v != "LARGE")
            return Status::Error(12, "DSNTYPE MUST BE LIBRARY, PDS, BASIC OR LARGE");
    }
    if ((it = keys.find("DIR")) != keys.end()) {
        if (!ParseCount(it->second, attrs.dirblks) || attrs.dirblks == 0)
            return Status::Error(12, "DIR NEEDS A NUMBER OF DIRECTORY BLOCKS");
        attrs.dsorg = Dsorg::PO;
    }
    if ((it = keys.find("RECFM")) != keys.end() && !ParseRecfm(it->second, attrs.recfm))
        return Status::Error(12, "RECFM " + it->second + " NOT SUPPORTED (F, FB, V, VB, U)");
    if ((it = keys.find("LRECL")) != keys.end() && !ParseCount(it->second, attrs.lrecl))
        return Status::Error(12, "LRECL NEEDS A NUMBER");
    if ((it = keys.find("BLKSIZE")) != keys.end() && !ParseCount(it->second, attrs.blksize))
        return Status::Error(12, "BLKSIZE NEEDS A NUMBER");
    if (like == keys.end() && keys.find("BLKSIZE") == keys.end())
        attrs.blksize = 0;
    if ((it = keys.find("VOL")) != keys.end())
        attrs.volser = UpperAscii(Unquote(it->second));
    if (ref.HasMember())
        attrs.dsorg = Dsorg::PO;
    return Status::Success();
}

Status Allocations::Release(const std::string& ddname, const Alloc& a)
{
    if (a.disp == "DELETE" && a.status != "NEW") {
        DsRef ref;
        std::string error;
        ParseDsRef(a.dsn, ref, error);
        DsRef whole;
        whole.dsn = ref.dsn; // DELETE removes the data set, as the disposition does on the host
        Status st = m_catalog.Delete(whole);
        if (!st.Ok())
            return Status::Error(st.rc, "FILE " + ddname + " FREED, " + st.text);
        return Status::Success("FREE FI(" + ddname + ") - " + ref.dsn + " DELETED");
    }
    return Status::Success("FREE FI(" + ddname + ")");
}

Status Allocations::Free(const std::map<std::string, std::string>& keys)
{
    for (const auto& kv : keys)
        if (kv.first != "FI" && kv.first != "DA")
            return Status::Error(12, "BPXWDYN KEYWORD " + kv.first + " NOT SUPPORTED ON FREE");
    auto fi = keys.find("FI");
    if (fi != keys.end()) {
        std::string ddname = UpperAscii(TrimBlanks(fi->second));
        auto it = m_allocs.find(ddname);
        if (it == m_allocs.end())
            return Status::Error(8, "FILE " + ddname + " IS NOT ALLOCATED");
        Alloc a = it->second;
        m_allocs.erase(it);
        return Release(ddname, a);
    }
    auto da = keys.find("DA");
    if (da == keys.end())
        return Status::Error(12, "FREE NEEDS FI(FILE NAME) OR DA(DATA SET NAME)");
    DsRef ref;
    std::string error;
    if (!ParseDsRef(Unquote(da->second), ref, error))
        return Status::Error(12, error);
    Status result = Status::Error(8, "DATA SET " + ref.Text() + " IS NOT ALLOCATED");
    for (auto it = m_allocs.begin(); it != m_allocs.end();) {
        if (it->second.dsn == ref.Text()) {
            Alloc a = it->second;
            std::string dd = it->first;
            it = m_allocs.erase(it);
            result = Release(dd, a);
        } else {
            ++it;
        }
    }
    return result;
}

void Allocations::FreeAll()
{
    std::map<std::string, Alloc> all;
    all.swap(m_allocs);
    for (const auto& kv : all)
        Release(kv.first, kv.second);
}

} // namespace hostemu
