#include "catalog.h"

#include "platform/platform.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace hostemu {

namespace {

const char* const kMagic = "VEXDS";
const char* const kMarker = "VEXCAT";

std::vector<std::string> MemberFields(const MemberInfo& m)
{
    if (!m.hasStats)
        return {"MEMBER", m.name, "0"};
    const MemberStats& s = m.stats;
    return {"MEMBER",
            m.name,
            "1",
            std::to_string(s.vv),
            std::to_string(s.mm),
            s.created,
            s.changedDate,
            s.changedTime,
            std::to_string(s.init),
            std::to_string(s.mod),
            s.userid.empty() ? "-" : s.userid};
}

bool MemberFromSection(const Section& sec, MemberInfo& m)
{
    const auto& f = sec.fields;
    if (f.size() < 3 || f[0] != "MEMBER" || !IsValidMemberName(f[1]))
        return false;
    m = MemberInfo();
    m.name = f[1];
    m.section = sec;
    if (f[2] == "0")
        return f.size() == 3;
    if (f[2] != "1" || f.size() != 11)
        return false;
    uint64_t vv, mm;
    if (!ParseDecimal(f[3], vv) || !ParseDecimal(f[4], mm) || !ParseDecimal(f[8], m.stats.init) ||
        !ParseDecimal(f[9], m.stats.mod))
        return false;
    m.hasStats = true;
    m.stats.vv = static_cast<int>(vv);
    m.stats.mm = static_cast<int>(mm);
    m.stats.created = f[5];
    m.stats.changedDate = f[6];
    m.stats.changedTime = f[7];
    m.stats.userid = f[10] == "-" ? std::string() : f[10];
    return true;
}

bool MemberLess(const MemberInfo& a, const MemberInfo& b)
{
    return a.name < b.name;
}

void RemoveQuietly(const std::string& path)
{
    std::error_code ec;
    fs::remove(path, ec);
}

// Checks one record against the attributes; pads fixed-length records.
Status CheckRecord(const DsAttrs& attrs, const std::string& dsnText, uint64_t number, unsigned char pad,
                   std::string& rec)
{
    const int max = MaxDataLength(attrs);
    if (rec.size() > static_cast<size_t>(max)) {
        std::string what = attrs.recfm.type == 'U' ? "BLKSIZE" : "LRECL";
        int limit = attrs.recfm.type == 'U' ? attrs.blksize : attrs.lrecl;
        std::string text = "RECORD " + std::to_string(number) + " HAS " + std::to_string(rec.size()) + " BYTES, " +
                           what + " OF " + dsnText + " IS " + std::to_string(limit);
        if (attrs.recfm.type == 'V')
            text += " (AT MOST " + std::to_string(max) + " DATA BYTES)";
        return Status::Error(8, text);
    }
    if (attrs.recfm.type == 'U' && rec.empty())
        return Status::Error(8, "RECORD " + std::to_string(number) + " IS EMPTY, RECFM U NEEDS AT LEAST ONE BYTE");
    if (attrs.recfm.type == 'F' && rec.size() < static_cast<size_t>(max))
        rec.append(static_cast<size_t>(max) - rec.size(), static_cast<char>(pad));
    return Status::Success();
}

// The name and attributes of a data set about to be created with the
// organisation dsorg.
Status CheckNewDataset(const std::string& dsn, DsAttrs& attrs, Dsorg dsorg)
{
    if (!IsValidDsName(dsn))
        return Status::Error(8, "INVALID DATA SET NAME " + dsn);
    std::string error;
    attrs.dsorg = dsorg;
    if (!ValidateAttrs(attrs, error))
        return Status::Error(8, error);
    return Status::Success();
}

Status DuplicateName(const std::string& dsn)
{
    return Status::Error(8, "DATA SET " + dsn + " ALREADY EXISTS, DUPLICATE NAME IN CATALOG");
}

// Opens a data set file written aside and writes its header.
bool BeginFile(RecordFileWriter& w, const std::string& path, const DsAttrs& attrs, std::string& error)
{
    if (!w.Open(path, error))
        return false;
    w.WriteHeader(kMagic, AttrsToHeader(attrs));
    return true;
}

// Adds the records of a new data set or member (named in messages as
// what); a record that does not fit closes and removes the file aside.
Status AddRecords(RecordFileWriter& w, const DsAttrs& attrs, const std::string& what,
                  const std::vector<std::string>& records, const std::string& tmp)
{
    uint64_t n = 0;
    for (const std::string& r : records) {
        std::string rec = r;
        Status st = CheckRecord(attrs, what, ++n, 0x40, rec);
        if (!st.Ok()) {
            std::string error;
            w.Close(error);
            RemoveQuietly(tmp);
            return st;
        }
        w.AddRecord(rec.data(), rec.size());
    }
    return Status::Success();
}

} // namespace

const MemberInfo* DatasetEntry::FindMember(const std::string& member) const
{
    MemberInfo key;
    key.name = member;
    auto it = std::lower_bound(members.begin(), members.end(), key, MemberLess);
    if (it == members.end() || it->name != member)
        return nullptr;
    return &*it;
}

uint64_t DatasetEntry::TotalBytes() const
{
    uint64_t n = data.bytes;
    for (const MemberInfo& m : members)
        n += m.section.bytes;
    return n;
}

DatasetWriter::~DatasetWriter()
{
    if (!m_bDone) {
        std::string ignored;
        m_writer.Close(ignored);
        RemoveQuietly(m_tmpPath);
    }
}

bool DatasetWriter::Add(const std::string& data)
{
    if (Failed())
        return false;
    std::string rec = data;
    Status st = CheckRecord(m_attrs, m_ref.Text(), ++m_added, m_opts.padByte, rec);
    if (!st.Ok()) {
        m_failure = st;
        return false;
    }
    m_writer.AddRecord(rec.data(), rec.size());
    ++m_count;
    return true;
}

bool Catalog::IsCatalogue(const std::string& dir)
{
    return Platform::isRegularFile(dir + "/" + kMarker);
}

std::string Catalog::DatasetPath(const std::string& dsn) const
{
    return m_dir + "/datasets/" + dsn;
}

std::string Catalog::TempPath()
{
    return m_dir + "/tmp/" + std::to_string(Platform::processId()) + "-" + std::to_string(++m_tmpCounter) + ".tmp";
}

Status Catalog::Open(const std::string& dir)
{
    std::error_code ec;
    m_dir = dir;
    for (const char* sub : {"datasets", "spool", "tmp"}) {
        fs::create_directories(dir + "/" + sub, ec);
        if (ec)
            return Status::Error(12, "CANNOT CREATE " + dir + "/" + sub + ": " + ec.message());
    }
    if (!IsCatalogue(dir)) {
        std::FILE* f = std::fopen((dir + "/" + kMarker).c_str(), "wb");
        if (f == nullptr)
            return Status::Error(12, "CANNOT WRITE " + dir + "/" + kMarker);
        std::fputs("VEXLINK HOST EMULATOR CATALOGUE 1\n", f);
        std::fclose(f);
    }
    for (const auto& e : fs::directory_iterator(dir + "/tmp", ec))
        RemoveQuietly(e.path().string());
    std::map<std::string, EntryPtr> entries;
    for (const auto& e : fs::directory_iterator(dir + "/datasets", ec)) {
        std::string name = e.path().filename().string();
        if (!IsValidDsName(name)) {
            std::fprintf(stderr, "hostemu: catalogue: ignoring %s (not a data set name)\n", e.path().string().c_str());
            continue;
        }
        EntryPtr entry;
        Status st = LoadEntry(name, e.path().string(), entry);
        if (!st.Ok()) {
            std::fprintf(stderr, "hostemu: catalogue: ignoring %s: %s\n", name.c_str(), st.text.c_str());
            continue;
        }
        entries.emplace(name, entry);
    }
    if (ec)
        return Status::Error(12, "CANNOT READ " + dir + "/datasets: " + ec.message());
    std::unique_lock<std::shared_mutex> lock(m_indexLock);
    m_entries.swap(entries);
    return Status::Success();
}

Status Catalog::LoadEntry(const std::string& dsn, const std::string& path, EntryPtr& out) const
{
    RecordFileIndex index;
    std::string error;
    if (!ReadRecordFileIndex(path, kMagic, index, error))
        return Status::Error(12, error);
    auto entry = std::make_shared<DatasetEntry>();
    entry->name = dsn;
    entry->path = path;
    if (!AttrsFromHeader(index.header, entry->attrs, error))
        return Status::Error(12, error);
    if (entry->attrs.dsorg == Dsorg::PS) {
        if (index.sections.size() != 1 || index.sections[0].fields.size() != 1 || index.sections[0].fields[0] != "DATA")
            return Status::Error(12, "A SEQUENTIAL DATA SET NEEDS EXACTLY ONE DATA SECTION");
        entry->data = index.sections[0];
    } else {
        entry->members.reserve(index.sections.size());
        for (const Section& s : index.sections) {
            MemberInfo m;
            if (!MemberFromSection(s, m))
                return Status::Error(12, "BAD MEMBER SECTION");
            entry->members.push_back(std::move(m));
        }
        std::sort(entry->members.begin(), entry->members.end(), MemberLess);
        for (size_t i = 1; i < entry->members.size(); ++i)
            if (entry->members[i].name == entry->members[i - 1].name)
                return Status::Error(12, "MEMBER " + entry->members[i].name + " STORED TWICE");
    }
    out = entry;
    return Status::Success();
}

size_t Catalog::Count() const
{
    std::shared_lock<std::shared_mutex> lock(m_indexLock);
    return m_entries.size();
}

EntryPtr Catalog::Find(const std::string& dsn) const
{
    std::shared_lock<std::shared_mutex> lock(m_indexLock);
    auto it = m_entries.find(dsn);
    return it == m_entries.end() ? nullptr : it->second;
}

std::vector<EntryPtr> Catalog::List(const DsFilter& filter) const
{
    std::vector<EntryPtr> out;
    const std::string& prefix = filter.LiteralPrefix();
    std::shared_lock<std::shared_mutex> lock(m_indexLock);
    for (auto it = m_entries.lower_bound(prefix); it != m_entries.end(); ++it) {
        if (it->first.compare(0, prefix.size(), prefix) != 0)
            break;
        if (filter.Matches(it->first))
            out.push_back(it->second);
    }
    return out;
}

Status Catalog::FindLibrary(const std::string& dsn, EntryPtr& entry) const
{
    entry = Find(dsn);
    if (!entry)
        return Status::Error(8, "DATA SET " + dsn + " NOT IN CATALOG");
    if (entry->attrs.dsorg != Dsorg::PO)
        return Status::Error(8, "DATA SET " + dsn + " IS NOT PARTITIONED");
    return Status::Success();
}

Status Catalog::OpenReader(const DsRef& ref, std::unique_ptr<RecordReader>& reader, EntryPtr* entryOut) const
{
    std::shared_lock<std::shared_mutex> lock(m_indexLock);
    auto it = m_entries.find(ref.dsn);
    if (it == m_entries.end())
        return Status::Error(8, "DATA SET " + ref.dsn + " NOT IN CATALOG");
    const EntryPtr& entry = it->second;
    Section section;
    if (entry->attrs.dsorg == Dsorg::PS) {
        if (ref.HasMember())
            return Status::Error(8, "DATA SET " + ref.dsn + " IS NOT PARTITIONED, NO MEMBER ALLOWED");
        section = entry->data;
    } else {
        if (!ref.HasMember())
            return Status::Error(8, "DATA SET " + ref.dsn + " IS PARTITIONED, NAME A MEMBER");
        const MemberInfo* m = entry->FindMember(ref.member);
        if (m == nullptr)
            return Status::Error(8, "MEMBER " + ref.member + " NOT FOUND IN " + ref.dsn);
        section = m->section;
    }
    std::FILE* f = OpenForRead(entry->path);
    if (f == nullptr)
        return Status::Error(12, "I/O ERROR OPENING " + ref.Text());
    reader.reset(new RecordReader(f, section));
    if (entryOut != nullptr)
        *entryOut = entry;
    return Status::Success();
}

Status Catalog::InstallEntry(const std::string& tmpPath, std::shared_ptr<DatasetEntry> entry)
{
    std::unique_lock<std::shared_mutex> lock(m_indexLock);
    std::error_code ec;
    fs::rename(tmpPath, entry->path, ec);
    if (ec) {
        RemoveQuietly(tmpPath);
        return Status::Error(12, "CANNOT REPLACE " + entry->name + ": " + ec.message());
    }
    m_entries[entry->name] = entry;
    return Status::Success();
}

std::shared_ptr<DatasetEntry> Catalog::NewEntry(const std::string& dsn, const DsAttrs& attrs) const
{
    auto entry = std::make_shared<DatasetEntry>();
    entry->name = dsn;
    entry->attrs = attrs;
    entry->path = DatasetPath(dsn);
    return entry;
}

Status Catalog::InstallWritten(RecordFileWriter& w, const std::string& tmp, std::shared_ptr<DatasetEntry> entry)
{
    std::string error;
    if (!w.Close(error)) {
        RemoveQuietly(tmp);
        return Status::Error(12, error);
    }
    return InstallEntry(tmp, entry);
}

Status Catalog::Create(const std::string& dsn, DsAttrs attrs)
{
    if (attrs.dsorg == Dsorg::PO)
        return CreateLibrary(dsn, attrs, {});
    return CreateWithRecords(dsn, attrs, {});
}

Status Catalog::CreateWithRecords(const std::string& dsn, DsAttrs attrs, const std::vector<std::string>& records)
{
    Status st = CheckNewDataset(dsn, attrs, Dsorg::PS);
    if (!st.Ok())
        return st;
    std::lock_guard<std::mutex> writeLock(m_writeLock);
    if (Find(dsn))
        return DuplicateName(dsn);
    std::shared_ptr<DatasetEntry> entry = NewEntry(dsn, attrs);
    std::string tmp = TempPath();
    RecordFileWriter w;
    std::string error;
    if (!BeginFile(w, tmp, attrs, error))
        return Status::Error(12, error);
    w.BeginSection({"DATA"});
    st = AddRecords(w, attrs, dsn, records, tmp);
    if (!st.Ok())
        return st;
    w.EndSection(&entry->data);
    return InstallWritten(w, tmp, entry);
}

Status Catalog::CreateLibrary(const std::string& dsn, DsAttrs attrs, std::vector<NewMember> members)
{
    Status checked = CheckNewDataset(dsn, attrs, Dsorg::PO);
    if (!checked.Ok())
        return checked;
    std::sort(members.begin(), members.end(), [](const NewMember& a, const NewMember& b) { return a.name < b.name; });
    for (size_t i = 0; i < members.size(); ++i) {
        if (!IsValidMemberName(members[i].name))
            return Status::Error(8, "INVALID MEMBER NAME " + members[i].name);
        if (i > 0 && members[i].name == members[i - 1].name)
            return Status::Error(8, "MEMBER " + members[i].name + " GIVEN TWICE");
    }
    std::lock_guard<std::mutex> writeLock(m_writeLock);
    if (Find(dsn))
        return DuplicateName(dsn);
    std::shared_ptr<DatasetEntry> entry = NewEntry(dsn, attrs);
    entry->members.reserve(members.size());
    std::string tmp = TempPath();
    RecordFileWriter w;
    std::string error;
    if (!BeginFile(w, tmp, attrs, error))
        return Status::Error(12, error);
    const std::string today = TodayText(), now = NowTimeText();
    for (const NewMember& nm : members) {
        MemberInfo m;
        m.name = nm.name;
        m.hasStats = nm.withStats && attrs.recfm.type != 'U';
        if (m.hasStats) {
            m.stats.created = today;
            m.stats.changedDate = today;
            m.stats.changedTime = now;
            m.stats.init = nm.records.size();
            m.stats.userid = nm.userid;
        }
        w.BeginSection(MemberFields(m));
        Status st = AddRecords(w, attrs, dsn + "(" + nm.name + ")", nm.records, tmp);
        if (!st.Ok())
            return st;
        w.EndSection(&m.section);
        entry->members.push_back(std::move(m));
    }
    return InstallWritten(w, tmp, entry);
}

Status Catalog::WriteLibrary(const DatasetEntry& base, const std::vector<MemberInfo>& members,
                             const std::map<std::string, std::string>& bodies, const std::string& target,
                             std::shared_ptr<DatasetEntry>& result)
{
    std::string error;
    SeqReader old;
    if (!base.members.empty() && !old.Open(base.path))
        return Status::Error(12, "I/O ERROR OPENING " + base.name);
    RecordFileWriter w;
    if (!w.Open(target, error))
        return Status::Error(12, error);
    auto entry = std::make_shared<DatasetEntry>();
    entry->name = base.name;
    entry->path = base.path;
    entry->attrs = base.attrs;
    entry->attrs.changed = TodayText();
    entry->members.reserve(members.size());
    w.WriteHeader(kMagic, AttrsToHeader(entry->attrs));
    Status st = Status::Success();
    for (const MemberInfo& m : members) {
        MemberInfo out = m;
        auto body = bodies.find(m.name);
        if (body == bodies.end()) {
            w.CopySection(old, m.section, MemberFields(m), &out.section);
        } else {
            RecordFileIndex index;
            if (!ReadRecordFileIndex(body->second, kMagic, index, error) || index.sections.size() != 1) {
                st = Status::Error(12, "I/O ERROR READING THE NEW MEMBER " + m.name);
                break;
            }
            SeqReader src;
            if (!src.Open(body->second)) {
                st = Status::Error(12, "I/O ERROR READING THE NEW MEMBER " + m.name);
                break;
            }
            w.CopySection(src, index.sections[0], MemberFields(m), &out.section);
        }
        entry->members.push_back(std::move(out));
    }
    if (!w.Close(error) && st.Ok())
        st = Status::Error(12, error);
    if (!st.Ok()) {
        RemoveQuietly(target);
        return st;
    }
    result = entry;
    return Status::Success();
}

Status Catalog::Delete(const DsRef& ref)
{
    std::lock_guard<std::mutex> writeLock(m_writeLock);
    EntryPtr entry = Find(ref.dsn);
    if (!entry)
        return Status::Error(8, "ENTRY " + ref.dsn + " NOT FOUND");
    if (!ref.HasMember()) {
        std::unique_lock<std::shared_mutex> lock(m_indexLock);
        std::error_code ec;
        fs::remove(entry->path, ec);
        if (ec)
            return Status::Error(12, "CANNOT DELETE " + ref.dsn + ": " + ec.message());
        m_entries.erase(ref.dsn);
        return Status::Success();
    }
    if (entry->attrs.dsorg != Dsorg::PO)
        return Status::Error(8, "DATA SET " + ref.dsn + " IS NOT PARTITIONED, NO MEMBER ALLOWED");
    if (entry->FindMember(ref.member) == nullptr)
        return Status::Error(8, "MEMBER " + ref.member + " NOT FOUND IN " + ref.dsn);
    std::vector<MemberInfo> members;
    members.reserve(entry->members.size());
    for (const MemberInfo& m : entry->members)
        if (m.name != ref.member)
            members.push_back(m);
    std::shared_ptr<DatasetEntry> result;
    std::string tmp = TempPath();
    Status st = WriteLibrary(*entry, members, {}, tmp, result);
    if (!st.Ok())
        return st;
    return InstallEntry(tmp, result);
}

std::unique_ptr<DatasetWriter> Catalog::BeginWrite(const DsRef& ref, const WriteOptions& opts, Status& status)
{
    EntryPtr entry = Find(ref.dsn);
    if (!entry) {
        status = Status::Error(8, "DATA SET " + ref.dsn + " NOT IN CATALOG");
        return nullptr;
    }
    if (entry->attrs.dsorg == Dsorg::PS && ref.HasMember()) {
        status = Status::Error(8, "DATA SET " + ref.dsn + " IS NOT PARTITIONED, NO MEMBER ALLOWED");
        return nullptr;
    }
    if (entry->attrs.dsorg == Dsorg::PO && !ref.HasMember()) {
        status = Status::Error(8, "DATA SET " + ref.dsn + " IS PARTITIONED, NAME A MEMBER");
        return nullptr;
    }
    std::unique_ptr<DatasetWriter> w(new DatasetWriter());
    w->m_ref = ref;
    w->m_attrs = entry->attrs;
    w->m_opts = opts;
    w->m_tmpPath = TempPath();
    std::string error;
    if (!BeginFile(w->m_writer, w->m_tmpPath, entry->attrs, error)) {
        w->m_bDone = true;
        status = Status::Error(12, error);
        return nullptr;
    }
    w->m_writer.BeginSection({"DATA"});
    if (opts.append) {
        std::unique_ptr<RecordReader> reader;
        Status st = OpenReader(ref, reader);
        if (st.Ok()) {
            std::string rec;
            int r;
            while ((r = reader->Next(rec)) == 1)
                w->m_writer.AddRecord(rec.data(), rec.size()), ++w->m_count;
            if (r < 0) {
                status = Status::Error(12, "I/O ERROR READING " + ref.Text());
                return nullptr;
            }
        } else if (!(ref.HasMember() && st.rc == 8 && entry->FindMember(ref.member) == nullptr)) {
            status = st;
            return nullptr;
        }
    }
    status = Status::Success();
    return w;
}

std::unique_ptr<DatasetWriter> Catalog::BeginCreate(const std::string& dsn, DsAttrs attrs, const WriteOptions& opts,
                                                    Status& status)
{
    status = CheckNewDataset(dsn, attrs, Dsorg::PS);
    if (!status.Ok())
        return nullptr;
    if (Find(dsn)) {
        status = DuplicateName(dsn);
        return nullptr;
    }
    std::unique_ptr<DatasetWriter> w(new DatasetWriter());
    w->m_ref.dsn = dsn;
    w->m_attrs = attrs;
    w->m_opts = opts;
    w->m_bCreate = true;
    w->m_tmpPath = TempPath();
    std::string error;
    if (!BeginFile(w->m_writer, w->m_tmpPath, attrs, error)) {
        w->m_bDone = true;
        status = Status::Error(12, error);
        return nullptr;
    }
    w->m_writer.BeginSection({"DATA"});
    status = Status::Success();
    return w;
}

Status Catalog::Commit(DatasetWriter& w)
{
    if (w.m_bDone)
        return Status::Error(12, "CHANGE OF " + w.m_ref.Text() + " ALREADY ENDED");
    if (w.Failed())
        return w.Failure();
    std::string error;
    Section data;
    w.m_writer.EndSection(&data);
    if (!w.m_writer.Close(error)) {
        w.m_bDone = true;
        RemoveQuietly(w.m_tmpPath);
        return Status::Error(12, "I/O ERROR WRITING " + w.m_ref.Text() + ": " + error);
    }
    w.m_bDone = true;
    std::lock_guard<std::mutex> writeLock(m_writeLock);
    EntryPtr entry = Find(w.m_ref.dsn);
    if (w.m_bCreate) {
        if (entry) {
            RemoveQuietly(w.m_tmpPath);
            return Status::Error(8, "DATA SET " + w.m_ref.dsn + " WAS CREATED BY SOMEONE ELSE DURING THE CHANGE");
        }
        std::shared_ptr<DatasetEntry> created = NewEntry(w.m_ref.dsn, w.m_attrs);
        created->data = data;
        return InstallEntry(w.m_tmpPath, created);
    }
    if (!entry || entry->attrs.dsorg != w.m_attrs.dsorg ||
        RecfmText(entry->attrs.recfm) != RecfmText(w.m_attrs.recfm) || entry->attrs.lrecl != w.m_attrs.lrecl ||
        entry->attrs.blksize != w.m_attrs.blksize) {
        RemoveQuietly(w.m_tmpPath);
        return Status::Error(8, "DATA SET " + w.m_ref.dsn + " WAS DELETED OR REDEFINED DURING THE CHANGE");
    }
    const uint64_t count = w.m_count;
    if (entry->attrs.dsorg == Dsorg::PS) {
        auto updated = std::make_shared<DatasetEntry>(*entry);
        updated->data = data;
        // The attributes in the file were written when the change began;
        // the change date in the index is today's.
        updated->attrs.changed = TodayText();
        return InstallEntry(w.m_tmpPath, updated);
    }
    // A member: rebuild the library with the new body in place.
    std::vector<MemberInfo> members = entry->members;
    MemberInfo fresh;
    fresh.name = w.m_ref.member;
    fresh.hasStats = entry->attrs.recfm.type != 'U';
    auto it = std::lower_bound(members.begin(), members.end(), fresh, MemberLess);
    const std::string today = TodayText(), now = NowTimeText();
    if (it != members.end() && it->name == fresh.name) {
        if (it->hasStats) {
            it->stats.mm = it->stats.mm >= 99 ? 99 : it->stats.mm + 1;
            it->stats.changedDate = today;
            it->stats.changedTime = now;
            it->stats.mod = count;
            if (!w.m_opts.userid.empty())
                it->stats.userid = w.m_opts.userid;
        }
    } else {
        if (fresh.hasStats) {
            fresh.stats.created = today;
            fresh.stats.changedDate = today;
            fresh.stats.changedTime = now;
            fresh.stats.init = count;
            fresh.stats.userid = w.m_opts.userid.empty() ? "HOSTEMU" : w.m_opts.userid;
        }
        it = members.insert(it, fresh);
    }
    std::shared_ptr<DatasetEntry> result;
    std::string tmp = TempPath();
    Status st = WriteLibrary(*entry, members, {{fresh.name, w.m_tmpPath}}, tmp, result);
    RemoveQuietly(w.m_tmpPath);
    if (!st.Ok())
        return st;
    return InstallEntry(tmp, result);
}

} // namespace hostemu
