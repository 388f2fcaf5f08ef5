#include "seed.h"

#include "platform/platform.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace hostemu {

namespace {

bool ReadLines(const std::string& path, std::vector<std::string>& lines)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    return true;
}

Status ToRecords(const std::string& path, const DsAttrs& attrs, const Codec& codec, std::vector<std::string>& records)
{
    std::vector<std::string> lines;
    if (!ReadLines(path, lines))
        return Status::Error(12, "SEED: CANNOT READ " + path);
    const size_t max = static_cast<size_t>(MaxDataLength(attrs));
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].size() > max)
            return Status::Error(12, "SEED: " + path + " LINE " + std::to_string(i + 1) + " HAS " +
                                         std::to_string(lines[i].size()) + " CHARACTERS, MORE THAN " +
                                         std::to_string(max));
        records.push_back(codec.ToHost(lines[i]));
    }
    return Status::Success();
}

} // namespace

Status SeedCatalogue(const std::string& seedDir, Catalog& catalog, const Codec& codec)
{
    std::vector<std::string> lines;
    const std::string list = seedDir + "/catalog.txt";
    if (!ReadLines(list, lines))
        return Status::Error(12, "SEED: CANNOT READ " + list);
    for (size_t i = 0; i < lines.size(); ++i) {
        std::string where = list + " LINE " + std::to_string(i + 1) + ": ";
        std::istringstream words(lines[i]);
        std::vector<std::string> w;
        std::string word;
        while (words >> word)
            w.push_back(word);
        if (w.empty() || w[0][0] == '#')
            continue;
        if (w.size() < 4 || w.size() > 6)
            return Status::Error(12, "SEED: " + where + "EXPECTED DSNAME DSORG RECFM LRECL [BLKSIZE] [VOLSER]");
        DsAttrs attrs;
        const std::string dsn = UpperAscii(w[0]);
        if (w[1] == "PS")
            attrs.dsorg = Dsorg::PS;
        else if (w[1] == "PO")
            attrs.dsorg = Dsorg::PO;
        else
            return Status::Error(12, "SEED: " + where + "DSORG MUST BE PS OR PO");
        if (!ParseRecfm(w[2], attrs.recfm))
            return Status::Error(12, "SEED: " + where + "BAD RECFM " + w[2]);
        try {
            attrs.lrecl = std::stoi(w[3]);
            if (w.size() > 4)
                attrs.blksize = std::stoi(w[4]);
        } catch (const std::exception&) {
            return Status::Error(12, "SEED: " + where + "LRECL AND BLKSIZE MUST BE NUMBERS");
        }
        if (w.size() > 5)
            attrs.volser = UpperAscii(w[5]);
        std::string error;
        if (!ValidateAttrs(attrs, error))
            return Status::Error(12, "SEED: " + where + error);
        const std::string path = seedDir + "/" + w[0];
        Status st;
        if (attrs.dsorg == Dsorg::PS) {
            std::vector<std::string> records;
            if (Platform::isRegularFile(path)) {
                st = ToRecords(path, attrs, codec, records);
                if (!st.Ok())
                    return st;
            }
            st = catalog.CreateWithRecords(dsn, attrs, records);
        } else {
            std::vector<NewMember> members;
            if (Platform::isDirectory(path)) {
                std::error_code ec;
                for (const auto& e : fs::directory_iterator(path, ec)) {
                    NewMember m;
                    m.name = UpperAscii(e.path().filename().string());
                    if (!IsValidMemberName(m.name))
                        return Status::Error(12, "SEED: " + e.path().string() + " IS NO MEMBER NAME");
                    m.userid = "HOSTEMU";
                    st = ToRecords(e.path().string(), attrs, codec, m.records);
                    if (!st.Ok())
                        return st;
                    members.push_back(std::move(m));
                }
            }
            st = catalog.CreateLibrary(dsn, attrs, std::move(members));
        }
        if (!st.Ok())
            return Status::Error(12, "SEED: " + dsn + ": " + st.text);
    }
    return Status::Success();
}

} // namespace hostemu
