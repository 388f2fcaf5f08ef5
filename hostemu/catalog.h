#pragma once
// The emulated catalogue: sequential (PS) and partitioned (PO) data sets
// with their members, kept as record files (recfile.h) in one directory:
//
//   <dir>/VEXCAT           marks an initialised catalogue
//   <dir>/datasets/<DSN>   one record file per data set
//   <dir>/spool/<JOBID>    one record file per job (spool.h)
//   <dir>/tmp/             files being written aside
//
// Every change is written to a new file in tmp/ and renamed over the old one
// only when it is complete, so a refused or broken change leaves the data set
// exactly as it was. The index of names, attributes and member statistics is
// held in memory; readers hold a shared lock only while they look up an entry
// and open its file, writers are serialised and swap file and entry under the
// exclusive lock.

#include "names.h"
#include "recfile.h"

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <vector>

namespace hostemu {

// Outcome of a catalogue or request operation: rc 0 is success; otherwise
// the return code the host reports (4 warning, 8 error, 12 severe) and a text.
struct Status {
    int rc = 0;
    std::string text;
    bool Ok() const { return rc == 0; }
    static Status Success(std::string t = std::string()) { return Status{0, std::move(t)}; }
    static Status Error(int rc, std::string t) { return Status{rc, std::move(t)}; }
};

// ISPF-style statistics of a member.
struct MemberStats {
    int vv = 1;
    int mm = 0;
    std::string created;     // yyyy/mm/dd
    std::string changedDate; // yyyy/mm/dd
    std::string changedTime; // hh:mm:ss
    uint64_t init = 0;
    uint64_t mod = 0;
    std::string userid;
};

struct MemberInfo {
    std::string name;
    bool hasStats = false;
    MemberStats stats;
    Section section;
};

struct DatasetEntry {
    std::string name;
    DsAttrs attrs;
    std::string path;
    Section data;                    // PS: the records
    std::vector<MemberInfo> members; // PO: sorted by name
    const MemberInfo* FindMember(const std::string& member) const;
    uint64_t TotalBytes() const;
};
using EntryPtr = std::shared_ptr<const DatasetEntry>;

// A member to create in one go (catalogue generation, seeds).
struct NewMember {
    std::string name;
    std::vector<std::string> records; // data parts, already in the host code page
    bool withStats = true;
    std::string userid = "HOSTEMU";
};

struct WriteOptions {
    unsigned char padByte = 0x40; // fills fixed-length records
    std::string userid;           // member statistics
    bool append = false;          // keep the existing records in front
};

class Catalog;

// A change in progress: records are checked and written aside as they come.
// Destroying it without Catalog::Commit discards it; the data set is untouched.
class DatasetWriter {
public:
    ~DatasetWriter();
    DatasetWriter(const DatasetWriter&) = delete;
    DatasetWriter& operator=(const DatasetWriter&) = delete;

    // Adds one record (its data part); a fixed-length record is padded to the
    // record length. False once a record has been refused; the first refusal
    // is kept in Failure() and every later record is ignored.
    bool Add(const std::string& data);
    uint64_t Count() const { return m_count; }
    bool Failed() const { return !m_failure.Ok(); }
    const Status& Failure() const { return m_failure; }
    const DsRef& Ref() const { return m_ref; }
    const DsAttrs& Attrs() const { return m_attrs; }

private:
    friend class Catalog;
    DatasetWriter() = default;

    DsRef m_ref;
    DsAttrs m_attrs;
    WriteOptions m_opts;
    std::string m_tmpPath;
    RecordFileWriter m_writer;
    Status m_failure;
    uint64_t m_count = 0; // records in the new content
    uint64_t m_added = 0; // records given to Add (numbers refusals)
    bool m_bDone = false;
    bool m_bCreate = false; // a new sequential data set, catalogued by Commit
};

class Catalog {
public:
    Catalog() = default;
    ~Catalog() = default;
    Catalog(const Catalog&) = delete;
    Catalog& operator=(const Catalog&) = delete;

    // Opens (creating when needed) the catalogue in dir and loads its index;
    // files left in tmp/ by an interrupted change are removed.
    Status Open(const std::string& dir);
    const std::string& Dir() const { return m_dir; }
    // True when dir holds an initialised catalogue.
    static bool IsCatalogue(const std::string& dir);

    size_t Count() const;
    EntryPtr Find(const std::string& dsn) const;
    // The data sets the filter matches, sorted by name.
    std::vector<EntryPtr> List(const DsFilter& filter) const;
    // The entry of a partitioned data set, for its member list.
    Status FindLibrary(const std::string& dsn, EntryPtr& entry) const;
    // A reader of a sequential data set or of a member.
    Status OpenReader(const DsRef& ref, std::unique_ptr<RecordReader>& reader, EntryPtr* entry = nullptr) const;

    // Creates an empty data set.
    Status Create(const std::string& dsn, DsAttrs attrs);
    // Creates a sequential data set with records (data parts in the host code
    // page; fixed ones are padded with EBCDIC blanks).
    Status CreateWithRecords(const std::string& dsn, DsAttrs attrs, const std::vector<std::string>& records);
    // Creates a partitioned data set with members.
    Status CreateLibrary(const std::string& dsn, DsAttrs attrs, std::vector<NewMember> members);
    // Deletes a data set, or one member when ref names one.
    Status Delete(const DsRef& ref);

    // Starts replacing a sequential data set or creating/replacing a member.
    std::unique_ptr<DatasetWriter> BeginWrite(const DsRef& ref, const WriteOptions& opts, Status& status);
    // Starts writing a new sequential data set aside; Commit catalogues it
    // (and fails when the name has been taken in the meantime).
    std::unique_ptr<DatasetWriter> BeginCreate(const std::string& dsn, DsAttrs attrs, const WriteOptions& opts,
                                               Status& status);
    // Stores the records of writer in place of the old content; on any
    // failure the data set stays as it was. Gives the number of records.
    Status Commit(DatasetWriter& writer);

    // A fresh path in tmp/ (for files written aside).
    std::string TempPath();

private:
    std::string DatasetPath(const std::string& dsn) const;
    Status LoadEntry(const std::string& dsn, const std::string& path, EntryPtr& entry) const;
    // Writes a library file from members taken from the old file and new
    // bodies; called with m_writeLock held.
    Status WriteLibrary(const DatasetEntry& base, const std::vector<MemberInfo>& members,
                        const std::map<std::string, std::string>& bodies, const std::string& target,
                        std::shared_ptr<DatasetEntry>& result);
    Status InstallEntry(const std::string& tmpPath, std::shared_ptr<DatasetEntry> entry);
    // The entry of a data set about to be catalogued, its file at its path.
    std::shared_ptr<DatasetEntry> NewEntry(const std::string& dsn, const DsAttrs& attrs) const;
    // Closes the file written aside at tmp and catalogues entry with it.
    Status InstallWritten(RecordFileWriter& w, const std::string& tmp, std::shared_ptr<DatasetEntry> entry);

    std::string m_dir;
    mutable std::shared_mutex m_indexLock;
    std::map<std::string, EntryPtr> m_entries;
    std::mutex m_writeLock;
    std::atomic<uint64_t> m_tmpCounter{0};
};

} // namespace hostemu
