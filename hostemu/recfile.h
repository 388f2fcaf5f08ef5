#pragma once
// Data set attributes and the file format in which the emulator keeps
// records on disk.
//
// A record file is a short text header followed by sections of records:
//
//   VEXDS 1\n                      magic word and format version
//   KEY value\n ...                attributes, one per line
//   \n                             end of the header
//   FIELD FIELD ... NREC NBYTES\n  a section line: its fields, then the
//                                  number of records and of data bytes,
//                                  each 20 digits wide
//   NBYTES bytes of records        each record: 4-byte big-endian length,
//                                  then its bytes (EBCDIC, as the host has them)
//   ...further sections
//
// A sequential data set has one section ("DATA"), a partitioned one a
// section per member ("MEMBER name ..."), a job one per spool file.

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace hostemu {

enum class Dsorg { PS, PO };

struct Recfm {
    char type = 'F'; // 'F', 'V' or 'U'
    bool blocked = false;
    bool asa = false; // first byte an ASA carriage control character
};

// "FB", "F,B", "VBA", "U" (blanks and commas are ignored, case too).
bool ParseRecfm(const std::string& text, Recfm& recfm);
std::string RecfmText(const Recfm& recfm);

struct DsAttrs {
    Dsorg dsorg = Dsorg::PS;
    Recfm recfm;
    int lrecl = 80;
    int blksize = 0; // 0: chosen by ValidateAttrs
    int dirblks = 0; // PO: directory blocks (informational)
    std::string volser = "VEX001";
    std::string created; // yyyy/mm/dd
    std::string changed; // yyyy/mm/dd
};

// Checks record length and block size against the record format and fills
// a missing block size with the one a 3390 half track would get. False with
// a reason in error.
bool ValidateAttrs(DsAttrs& attrs, std::string& error);
// Longest data part of one record: F the record length, V the record length
// less its 4-byte descriptor, U the block size.
int MaxDataLength(const DsAttrs& attrs);
// Header lines of a data set file.
std::vector<std::pair<std::string, std::string>> AttrsToHeader(const DsAttrs& attrs);
bool AttrsFromHeader(const std::vector<std::pair<std::string, std::string>>& header, DsAttrs& attrs,
                     std::string& error);

// Today's date as yyyy/mm/dd and the time as hh:mm:ss (local time).
std::string TodayText();
std::string NowTimeText();

struct Section {
    std::vector<std::string> fields;
    uint64_t records = 0;
    uint64_t bytes = 0;
    uint64_t offset = 0; // file offset of the first record
};

struct RecordFileIndex {
    std::string magic;
    std::vector<std::pair<std::string, std::string>> header;
    std::vector<Section> sections;
    const std::string* Find(const std::string& key) const;
};

// Reads header and section lines (skipping the record bytes). False with a
// reason when the file is missing, of another kind or cut short.
bool ReadRecordFileIndex(const std::string& path, const std::string& magic, RecordFileIndex& index, std::string& error);

// Reads a file front to back through a large buffer; moving within the
// buffer costs nothing, so walking the sections of a library of
// many small members reads the file once instead of seeking per member.
class SeqReader {
public:
    SeqReader() = default;
    ~SeqReader();
    SeqReader(const SeqReader&) = delete;
    SeqReader& operator=(const SeqReader&) = delete;

    bool Open(const std::string& path);
    // The size of the file (valid after Open).
    uint64_t Size() const { return m_size; }
    // The offset of the next byte.
    uint64_t Tell() const { return m_bufStart + m_pos; }
    // One line without its line feed; false at the end of the file, on a
    // read error, or after 4096 characters without a line feed.
    bool ReadLine(std::string& line);
    // Moves to an absolute offset; free within the buffer.
    bool Seek(uint64_t offset);
    // Reads length bytes into out; false when the file ends first.
    bool Read(char* out, size_t length);

private:
    bool Fill();

    std::FILE* m_pFile = nullptr;
    std::vector<char> m_buf;
    size_t m_pos = 0;
    size_t m_len = 0;
    uint64_t m_bufStart = 0;
    uint64_t m_size = 0;
};

// Writes a record file from the start; every failure is remembered and
// reported by Close.
class RecordFileWriter {
public:
    RecordFileWriter() = default;
    ~RecordFileWriter();
    RecordFileWriter(const RecordFileWriter&) = delete;
    RecordFileWriter& operator=(const RecordFileWriter&) = delete;

    bool Open(const std::string& path, std::string& error);
    void WriteHeader(const std::string& magic, const std::vector<std::pair<std::string, std::string>>& header);
    void BeginSection(const std::vector<std::string>& fields);
    void AddRecord(const void* data, size_t length);
    // Ends the open section (fills in its counts) and describes it in out.
    void EndSection(Section* out = nullptr);
    // Copies the records of a section of another record file under new
    // fields.
    void CopySection(SeqReader& src, const Section& from, const std::vector<std::string>& fields,
                     Section* out = nullptr);
    // Flushes and closes; false with a reason when anything failed.
    bool Close(std::string& error);
    uint64_t Position() const { return m_pos; }

private:
    void Put(const void* data, size_t length);

    std::FILE* m_pFile = nullptr;
    uint64_t m_pos = 0;
    bool m_bFailed = false;
    std::string m_error;
    bool m_bInSection = false;
    Section m_section;
    uint64_t m_countsPos = 0;
};

// Reads the records of one section, in order.
class RecordReader {
public:
    // Takes ownership of file (may be shared by nothing else).
    RecordReader(std::FILE* file, const Section& section);
    ~RecordReader();
    RecordReader(const RecordReader&) = delete;
    RecordReader& operator=(const RecordReader&) = delete;

    // 1: a record in rec; 0: no more records; -1: the file is damaged (a
    // length runs past the section or the file ends early).
    int Next(std::string& rec);
    uint64_t RecordNumber() const { return m_read; }
    uint64_t TotalRecords() const { return m_section.records; }

private:
    std::FILE* m_pFile;
    Section m_section;
    uint64_t m_consumed = 0;
    uint64_t m_read = 0;
};

// Opens a file for binary reading with a large buffer; nullptr on failure.
std::FILE* OpenForRead(const std::string& path);

} // namespace hostemu
