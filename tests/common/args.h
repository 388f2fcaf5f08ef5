#pragma once
// A command line owned by the test ("vexlink" first) and standard input from a file for one scope.

#include "scratchdir.h"

#include <cstdio>
#include <string>
#include <vector>

struct Args {
    explicit Args(std::vector<std::string> list) : strings(std::move(list))
    {
        strings.insert(strings.begin(), "vexlink");
        for (std::string& s : strings)
            pointers.push_back(&s[0]);
        pointers.push_back(nullptr);
    }
    int argc() const { return static_cast<int>(strings.size()); }
    char** argv() { return pointers.data(); }
    std::vector<std::string> strings;
    std::vector<char*> pointers;
};

// Standard input from the given bytes for the scope, then /dev/null (a later read never waits).
class StdinFrom {
public:
    StdinFrom(const ScratchDir& dir, const std::string& content)
    {
        const std::string path = dir.write("stdin.txt", content);
        m_ok = std::freopen(path.c_str(), "rb", stdin) != nullptr;
    }
    ~StdinFrom() { std::freopen("/dev/null", "rb", stdin); }
    bool ok() const { return m_ok; }

private:
    bool m_ok = false;
};
