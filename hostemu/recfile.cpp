#include "recfile.h"

#include "names.h"
#include "platform/platform.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <system_error>

namespace hostemu {

namespace {

const uint64_t kMaxRecordLength = 1u << 20; // far above any block; guards damaged files

std::string UpperNoSeparators(const std::string& text)
{
    std::string out;
    for (char c : text) {
        if (c == ',' || c == ' ' || c == '(' || c == ')')
            continue;
        out += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    }
    return out;
}

bool ParseInt(const std::string& text, int& value)
{
    uint64_t v = 0;
    if (!ParseDecimal(text, v, UINT64_MAX, 9))
        return false;
    value = static_cast<int>(v);
    return true;
}

std::vector<std::string> SplitBlanks(const std::string& text)
{
    std::vector<std::string> out;
    size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && text[i] == ' ')
            ++i;
        size_t s = i;
        while (i < text.size() && text[i] != ' ')
            ++i;
        if (i > s)
            out.push_back(text.substr(s, i - s));
    }
    return out;
}

bool ParseU64(const std::string& text, uint64_t& value)
{
    if (text.empty() || text.size() > 20)
        return false;
    uint64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        v = v * 10 + static_cast<uint64_t>(c - '0');
    }
    value = v;
    return true;
}

} // namespace

bool ParseRecfm(const std::string& text, Recfm& recfm)
{
    std::string t = UpperNoSeparators(text);
    if (t.empty())
        return false;
    Recfm r;
    r.type = t[0];
    if (r.type != 'F' && r.type != 'V' && r.type != 'U')
        return false;
    for (size_t i = 1; i < t.size(); ++i) {
        if (t[i] == 'B' && !r.blocked && r.type != 'U')
            r.blocked = true;
        else if (t[i] == 'A' && !r.asa)
            r.asa = true;
        else
            return false;
    }
    recfm = r;
    return true;
}

std::string RecfmText(const Recfm& recfm)
{
    std::string t(1, recfm.type);
    if (recfm.blocked)
        t += 'B';
    if (recfm.asa)
        t += 'A';
    return t;
}

bool ValidateAttrs(DsAttrs& a, std::string& error)
{
    const int kMaxBlock = 32760;
    if (a.blksize < 0 || a.blksize > kMaxBlock) {
        error = "BLKSIZE MUST BE 1 TO 32760";
        return false;
    }
    switch (a.recfm.type) {
    case 'F':
        if (a.lrecl < 1 || a.lrecl > kMaxBlock) {
            error = "LRECL MUST BE 1 TO 32760 FOR RECFM " + RecfmText(a.recfm);
            return false;
        }
        if (a.blksize == 0)
            a.blksize = a.recfm.blocked ? (a.lrecl > 27998 ? a.lrecl : (27998 / a.lrecl) * a.lrecl) : a.lrecl;
        if (a.blksize % a.lrecl != 0 || (!a.recfm.blocked && a.blksize != a.lrecl)) {
            error = "BLKSIZE " + std::to_string(a.blksize) + " DOES NOT FIT LRECL " + std::to_string(a.lrecl) +
                    " FOR RECFM " + RecfmText(a.recfm);
            return false;
        }
        break;
    case 'V':
        if (a.lrecl < 5 || a.lrecl > 32756) {
            error = "LRECL MUST BE 5 TO 32756 FOR RECFM " + RecfmText(a.recfm);
            return false;
        }
        if (a.blksize == 0)
            a.blksize = a.recfm.blocked ? (a.lrecl + 4 <= 27998 ? 27998 : kMaxBlock) : a.lrecl + 4;
        if (a.blksize < a.lrecl + 4) {
            error = "BLKSIZE " + std::to_string(a.blksize) + " IS TOO SMALL FOR LRECL " + std::to_string(a.lrecl);
            return false;
        }
        break;
    case 'U':
        a.lrecl = 0;
        if (a.blksize == 0)
            a.blksize = kMaxBlock;
        break;
    default:
        error = "UNKNOWN RECFM";
        return false;
    }
    if (a.volser.empty() || a.volser.size() > 6) {
        error = "VOLUME SERIAL MUST BE 1 TO 6 CHARACTERS";
        return false;
    }
    if (a.dsorg == Dsorg::PO && a.dirblks <= 0)
        a.dirblks = 10;
    if (a.created.empty())
        a.created = TodayText();
    if (a.changed.empty())
        a.changed = a.created;
    return true;
}

int MaxDataLength(const DsAttrs& a)
{
    switch (a.recfm.type) {
    case 'F':
        return a.lrecl;
    case 'V':
        return a.lrecl - 4;
    default:
        return a.blksize;
    }
}

std::vector<std::pair<std::string, std::string>> AttrsToHeader(const DsAttrs& a)
{
    return {{"DSORG", a.dsorg == Dsorg::PO ? "PO" : "PS"},
            {"RECFM", RecfmText(a.recfm)},
            {"LRECL", std::to_string(a.lrecl)},
            {"BLKSIZE", std::to_string(a.blksize)},
            {"DIRBLKS", std::to_string(a.dirblks)},
            {"VOLSER", a.volser},
            {"CREATED", a.created},
            {"CHANGED", a.changed}};
}

bool AttrsFromHeader(const std::vector<std::pair<std::string, std::string>>& header, DsAttrs& a, std::string& error)
{
    DsAttrs out;
    bool haveDsorg = false, haveRecfm = false;
    for (const auto& kv : header) {
        const std::string& k = kv.first;
        const std::string& v = kv.second;
        bool ok = true;
        if (k == "DSORG") {
            haveDsorg = true;
            if (v == "PS")
                out.dsorg = Dsorg::PS;
            else if (v == "PO")
                out.dsorg = Dsorg::PO;
            else
                ok = false;
        } else if (k == "RECFM") {
            haveRecfm = true;
            ok = ParseRecfm(v, out.recfm);
        } else if (k == "LRECL") {
            ok = ParseInt(v, out.lrecl);
        } else if (k == "BLKSIZE") {
            ok = ParseInt(v, out.blksize);
        } else if (k == "DIRBLKS") {
            ok = ParseInt(v, out.dirblks);
        } else if (k == "VOLSER") {
            out.volser = v;
        } else if (k == "CREATED") {
            out.created = v;
        } else if (k == "CHANGED") {
            out.changed = v;
        }
        if (!ok) {
            error = "BAD ATTRIBUTE " + k + " " + v;
            return false;
        }
    }
    if (!haveDsorg || !haveRecfm) {
        error = "DSORG OR RECFM MISSING";
        return false;
    }
    if (!ValidateAttrs(out, error))
        return false;
    a = out;
    return true;
}

std::string TodayText()
{
    std::tm tm{};
    Platform::localTime(static_cast<std::time_t>(Platform::nowSeconds()), tm);
    char buf[40];
    std::snprintf(buf, sizeof buf, "%04d/%02d/%02d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
    return buf;
}

std::string NowTimeText()
{
    std::tm tm{};
    Platform::localTime(static_cast<std::time_t>(Platform::nowSeconds()), tm);
    char buf[40];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", tm.tm_hour, tm.tm_min, tm.tm_sec);
    return buf;
}

const std::string* RecordFileIndex::Find(const std::string& key) const
{
    for (const auto& kv : header)
        if (kv.first == key)
            return &kv.second;
    return nullptr;
}

std::FILE* OpenForRead(const std::string& path)
{
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f != nullptr)
        std::setvbuf(f, nullptr, _IOFBF, 1 << 16);
    return f;
}

SeqReader::~SeqReader()
{
    if (m_pFile != nullptr)
        std::fclose(m_pFile);
}

bool SeqReader::Open(const std::string& path)
{
    m_pFile = std::fopen(path.c_str(), "rb");
    if (m_pFile == nullptr)
        return false;
    std::setvbuf(m_pFile, nullptr, _IONBF, 0); // this class buffers
    std::error_code ec;
    m_size = static_cast<uint64_t>(std::filesystem::file_size(path, ec));
    if (ec)
        return false;
    // Small files are read in one piece; large ones in pieces of 256 KiB.
    m_buf.resize(static_cast<size_t>(m_size < (1u << 18) ? m_size + 1 : (1u << 18)));
    m_pos = m_len = 0;
    m_bufStart = 0;
    return true;
}

bool SeqReader::Fill()
{
    m_bufStart += m_len;
    m_pos = 0;
    m_len = std::fread(m_buf.data(), 1, m_buf.size(), m_pFile);
    return m_len > 0;
}

bool SeqReader::ReadLine(std::string& line)
{
    line.clear();
    for (;;) {
        if (m_pos >= m_len && !Fill())
            return false;
        const char* start = m_buf.data() + m_pos;
        const char* nl = static_cast<const char*>(std::memchr(start, '\n', m_len - m_pos));
        size_t take = nl != nullptr ? static_cast<size_t>(nl - start) : m_len - m_pos;
        line.append(start, take);
        m_pos += take;
        if (line.size() > 4096)
            return false;
        if (nl != nullptr) {
            ++m_pos;
            return true;
        }
    }
}

bool SeqReader::Seek(uint64_t offset)
{
    if (offset >= m_bufStart && offset <= m_bufStart + m_len) {
        m_pos = static_cast<size_t>(offset - m_bufStart);
        return true;
    }
    if (std::fseek(m_pFile, static_cast<long>(offset), SEEK_SET) != 0)
        return false;
    m_bufStart = offset;
    m_pos = m_len = 0;
    return true;
}

bool SeqReader::Read(char* out, size_t length)
{
    while (length > 0) {
        if (m_pos >= m_len && !Fill())
            return false;
        size_t take = std::min(length, m_len - m_pos);
        std::memcpy(out, m_buf.data() + m_pos, take);
        m_pos += take;
        out += take;
        length -= take;
    }
    return true;
}

bool ReadRecordFileIndex(const std::string& path, const std::string& magic, RecordFileIndex& index, std::string& error)
{
    index = RecordFileIndex();
    SeqReader f;
    if (!f.Open(path)) {
        error = std::string("CANNOT OPEN ") + path + ": " + std::strerror(errno);
        return false;
    }
    const uint64_t size = f.Size();
    std::string line;
    bool ok = f.ReadLine(line);
    std::vector<std::string> first = SplitBlanks(line);
    if (!ok || first.size() != 2 || first[0] != magic || first[1] != "1") {
        error = path + " IS NOT A " + magic + " FILE";
        return false;
    }
    index.magic = magic;
    for (;;) {
        if (!f.ReadLine(line)) {
            error = path + ": HEADER NOT ENDED";
            return false;
        }
        if (line.empty())
            break;
        size_t blank = line.find(' ');
        if (blank == std::string::npos)
            index.header.emplace_back(line, std::string());
        else
            index.header.emplace_back(line.substr(0, blank), line.substr(blank + 1));
    }
    while (f.Tell() < size) {
        if (!f.ReadLine(line)) {
            error = path + ": SECTION LINE CUT SHORT";
            return false;
        }
        std::vector<std::string> parts = SplitBlanks(line);
        Section s;
        if (parts.size() < 3 || !ParseU64(parts[parts.size() - 2], s.records) || !ParseU64(parts.back(), s.bytes)) {
            error = path + ": BAD SECTION LINE";
            return false;
        }
        parts.resize(parts.size() - 2);
        s.fields = std::move(parts);
        s.offset = f.Tell();
        if (s.offset + s.bytes > size || s.bytes < 4 * s.records) {
            error = path + ": SECTION RUNS PAST THE END OF THE FILE";
            return false;
        }
        if (!f.Seek(s.offset + s.bytes)) {
            error = path + ": SEEK FAILED";
            return false;
        }
        index.sections.push_back(std::move(s));
    }
    return true;
}

RecordFileWriter::~RecordFileWriter()
{
    if (m_pFile != nullptr)
        std::fclose(m_pFile);
}

bool RecordFileWriter::Open(const std::string& path, std::string& error)
{
    m_pFile = std::fopen(path.c_str(), "w+b");
    if (m_pFile == nullptr) {
        error = std::string("CANNOT CREATE ") + path + ": " + std::strerror(errno);
        return false;
    }
    std::setvbuf(m_pFile, nullptr, _IOFBF, 1 << 16);
    m_pos = 0;
    m_bFailed = false;
    return true;
}

void RecordFileWriter::Put(const void* data, size_t length)
{
    if (m_bFailed || length == 0)
        return;
    if (std::fwrite(data, 1, length, m_pFile) != length) {
        m_bFailed = true;
        m_error = std::string("WRITE FAILED: ") + std::strerror(errno);
        return;
    }
    m_pos += length;
}

void RecordFileWriter::WriteHeader(const std::string& magic,
                                   const std::vector<std::pair<std::string, std::string>>& header)
{
    std::string text = magic + " 1\n";
    for (const auto& kv : header)
        text += kv.first + " " + kv.second + "\n";
    text += "\n";
    Put(text.data(), text.size());
}

void RecordFileWriter::BeginSection(const std::vector<std::string>& fields)
{
    std::string line;
    for (const std::string& f : fields)
        line += f + " ";
    Put(line.data(), line.size());
    m_countsPos = m_pos;
    char counts[64];
    std::snprintf(counts, sizeof counts, "%020llu %020llu\n", 0ULL, 0ULL);
    Put(counts, std::strlen(counts));
    m_section = Section();
    m_section.fields = fields;
    m_section.offset = m_pos;
    m_bInSection = true;
}

void RecordFileWriter::AddRecord(const void* data, size_t length)
{
    unsigned char len[4] = {static_cast<unsigned char>(length >> 24), static_cast<unsigned char>(length >> 16),
                            static_cast<unsigned char>(length >> 8), static_cast<unsigned char>(length)};
    Put(len, 4);
    Put(data, length);
    m_section.records += 1;
    m_section.bytes += 4 + length;
}

void RecordFileWriter::EndSection(Section* out)
{
    if (!m_bInSection)
        return;
    m_bInSection = false;
    if (out != nullptr)
        *out = m_section;
    if (m_bFailed)
        return;
    char counts[64];
    std::snprintf(counts, sizeof counts, "%020llu %020llu", static_cast<unsigned long long>(m_section.records),
                  static_cast<unsigned long long>(m_section.bytes));
    if (std::fseek(m_pFile, static_cast<long>(m_countsPos), SEEK_SET) != 0 ||
        std::fwrite(counts, 1, std::strlen(counts), m_pFile) != std::strlen(counts) ||
        std::fseek(m_pFile, static_cast<long>(m_pos), SEEK_SET) != 0) {
        m_bFailed = true;
        m_error = "CANNOT FILL IN SECTION COUNTS";
    }
}

void RecordFileWriter::CopySection(SeqReader& src, const Section& from, const std::vector<std::string>& fields,
                                   Section* out)
{
    std::string line;
    for (const std::string& f : fields)
        line += f + " ";
    char counts[64];
    std::snprintf(counts, sizeof counts, "%020llu %020llu\n", static_cast<unsigned long long>(from.records),
                  static_cast<unsigned long long>(from.bytes));
    line += counts;
    Put(line.data(), line.size());
    Section s;
    s.fields = fields;
    s.records = from.records;
    s.bytes = from.bytes;
    s.offset = m_pos;
    if (!src.Seek(from.offset)) {
        m_bFailed = true;
        m_error = "SEEK FAILED WHILE COPYING";
    }
    char buf[1 << 16];
    uint64_t left = from.bytes;
    while (left > 0 && !m_bFailed) {
        size_t want = left < sizeof buf ? static_cast<size_t>(left) : sizeof buf;
        if (!src.Read(buf, want)) {
            m_bFailed = true;
            m_error = "READ FAILED WHILE COPYING";
            break;
        }
        Put(buf, want);
        left -= want;
    }
    if (out != nullptr)
        *out = s;
}

bool RecordFileWriter::Close(std::string& error)
{
    if (m_pFile == nullptr) {
        error = "NOT OPEN";
        return false;
    }
    if (std::fflush(m_pFile) != 0 && !m_bFailed) {
        m_bFailed = true;
        m_error = std::string("FLUSH FAILED: ") + std::strerror(errno);
    }
    if (std::fclose(m_pFile) != 0 && !m_bFailed) {
        m_bFailed = true;
        m_error = std::string("CLOSE FAILED: ") + std::strerror(errno);
    }
    m_pFile = nullptr;
    if (m_bFailed) {
        error = m_error;
        return false;
    }
    return true;
}

RecordReader::RecordReader(std::FILE* file, const Section& section) : m_pFile(file), m_section(section)
{
    if (m_pFile != nullptr && std::fseek(m_pFile, static_cast<long>(section.offset), SEEK_SET) != 0) {
        std::fclose(m_pFile);
        m_pFile = nullptr;
    }
}

RecordReader::~RecordReader()
{
    if (m_pFile != nullptr)
        std::fclose(m_pFile);
}

int RecordReader::Next(std::string& rec)
{
    if (m_pFile == nullptr)
        return -1;
    if (m_read >= m_section.records)
        return m_consumed == m_section.bytes ? 0 : -1;
    unsigned char len[4];
    if (m_consumed + 4 > m_section.bytes || std::fread(len, 1, 4, m_pFile) != 4)
        return -1;
    uint64_t n = (uint64_t(len[0]) << 24) | (uint64_t(len[1]) << 16) | (uint64_t(len[2]) << 8) | len[3];
    if (n > kMaxRecordLength || m_consumed + 4 + n > m_section.bytes)
        return -1;
    rec.resize(static_cast<size_t>(n));
    if (n > 0 && std::fread(&rec[0], 1, static_cast<size_t>(n), m_pFile) != n)
        return -1;
    m_consumed += 4 + n;
    ++m_read;
    return 1;
}

} // namespace hostemu
