#pragma once
// A private directory for file tests, removed with its files at the end.

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

class TempDir {
public:
    TempDir()
    {
        char templ[] = "/tmp/xmltest.XXXXXX";
        const char* made = mkdtemp(templ);
        EXPECT_NE(made, nullptr);
        m_path = made ? made : "/tmp";
    }
    ~TempDir()
    {
        for (auto it = m_files.rbegin(); it != m_files.rend(); ++it)
            std::remove(it->c_str());
        rmdir(m_path.c_str());
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // Writes a file (bytes as given) and returns its full path.
    std::string write(const std::string& name, const std::string& bytes)
    {
        const std::string p = file(name);
        std::ofstream(p, std::ios::binary) << bytes;
        return p;
    }
    // The full path of a name, remembered for removal.
    std::string file(const std::string& name)
    {
        const std::string p = m_path + "/" + name;
        m_files.push_back(p);
        return p;
    }
    const std::string& path() const { return m_path; }

private:
    std::string m_path;
    std::vector<std::string> m_files;
};

// Changes into a directory for the lifetime of the object.
class ChangeDir {
public:
    explicit ChangeDir(const std::string& dir)
    {
        char buf[4096];
        m_saved = getcwd(buf, sizeof(buf)) ? buf : "/";
        EXPECT_EQ(chdir(dir.c_str()), 0);
    }
    ~ChangeDir() { EXPECT_EQ(chdir(m_saved.c_str()), 0); }

private:
    std::string m_saved;
};
