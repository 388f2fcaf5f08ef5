#pragma once
// A scratch directory for one test, removed with everything in it at the end.

#include <filesystem>
#include <fstream>
#include <string>

#include <stdlib.h>

class TempDir {
public:
    TempDir()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "vexlink-test-XXXXXX").string();
        if (mkdtemp(&pattern[0]) != nullptr)
            m_path = pattern;
    }
    ~TempDir()
    {
        std::error_code ec;
        if (!m_path.empty())
            std::filesystem::remove_all(m_path, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return m_path; }
    std::string file(const std::string& name) const { return m_path + "/" + name; }

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
    explicit ChangeDir(const std::string& dir) : m_old(std::filesystem::current_path()) { std::filesystem::current_path(dir); }
    ~ChangeDir()
    {
        std::error_code ec;
        std::filesystem::current_path(m_old, ec);
    }

private:
    std::filesystem::path m_old;
};
