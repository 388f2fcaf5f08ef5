#pragma once
// Test helpers on the standard library: a scratch directory, a scoped working directory, whole files, lines.

#include "platform/platform.h"

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

class ScratchDir {
public:
    // A directory of a new random name for the owner only, made by this call (create_directory is
    // false when the name exists), so tests running side by side never share one.
    ScratchDir()
    {
        static std::random_device random;
        while (m_path.empty()) {
            const auto p = std::filesystem::temp_directory_path() / ("vexlink-test-" + std::to_string(random()));
            if (std::filesystem::create_directory(p)) {
                std::filesystem::permissions(p, std::filesystem::perms::owner_all);
                m_path = p.string();
            }
        }
    }
    ~ScratchDir()
    {
        std::error_code ec;
        std::filesystem::remove_all(m_path, ec);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::string& path() const { return m_path; }
    // The path of name inside, with the native separator.
    std::string file(const std::string& name) const { return m_path + Platform::pathSeparator + name; }

    // Writes content byte for byte and returns the file's path.
    std::string write(const std::string& name, const std::string& content) const
    {
        const std::string p = file(name);
        std::ofstream out(p, std::ios::binary | std::ios::trunc);
        out.write(content.data(), static_cast<std::streamsize>(content.size()));
        return p;
    }

private:
    std::string m_path;
};

// Switches the working directory for a scope.
class ChangeDir {
public:
    explicit ChangeDir(const std::string& dir) : m_old(std::filesystem::current_path())
    {
        std::filesystem::current_path(dir);
    }
    ~ChangeDir()
    {
        std::error_code ec;
        std::filesystem::current_path(m_old, ec);
    }
    ChangeDir(const ChangeDir&) = delete;
    ChangeDir& operator=(const ChangeDir&) = delete;

private:
    std::filesystem::path m_old;
};

inline std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// A file written in text mode, with LF line ends: on Windows, where text
// mode writes CR LF, every LF must follow a CR (else the bytes come back as
// they are, so the comparison shows the fault) and CR LF becomes LF.
inline std::string ReadTextFile(const std::string& path)
{
    std::string data = ReadFile(path);
#if defined(_WIN32)
    std::string text;
    for (size_t i = 0; i < data.size(); ++i) {
        if (data[i] == '\n' && (i == 0 || data[i - 1] != '\r'))
            return data;
        if (data[i] == '\r' && i + 1 < data.size() && data[i + 1] == '\n')
            continue;
        text += data[i];
    }
    return text;
#else
    return data;
#endif
}

inline bool FileExists(const std::string& path)
{
    std::error_code ec;
    return std::filesystem::exists(path, ec);
}

// The lines of a text without their LF; a last line without LF counts.
inline std::vector<std::string> SplitLines(const std::string& text)
{
    std::vector<std::string> lines;
    std::string::size_type begin = 0;
    while (begin < text.size()) {
        std::string::size_type end = text.find('\n', begin);
        if (end == std::string::npos)
            end = text.size();
        lines.push_back(text.substr(begin, end - begin));
        begin = end + 1;
    }
    return lines;
}
