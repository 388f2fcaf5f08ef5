#include "faults.h"

#include "linelimits.h"
#include "names.h"

namespace hostemu {

namespace {

bool ParseCount(const std::string& text, uint64_t& v, uint64_t max)
{
    return ParseDecimal(TrimBlanks(text), v, max, 12);
}

} // namespace

bool ParseBool(const std::string& text, bool& value)
{
    std::string t = UpperAscii(TrimBlanks(text));
    if (t == "YES" || t == "Y" || t == "1" || t == "TRUE" || t == "ON") {
        value = true;
        return true;
    }
    if (t == "NO" || t == "N" || t == "0" || t == "FALSE" || t == "OFF" || t.empty()) {
        value = false;
        return true;
    }
    return false;
}

bool Faults::Set(const std::string& keyIn, const std::string& value, std::string& error)
{
    std::string key = UpperAscii(TrimBlanks(keyIn));
    for (char& c : key)
        if (c == '-')
            c = '_';
    // Each switch changes only when its whole value is good.
    uint64_t n = 0;
    bool ok = true;
    bool b = false;
    if (key == "REJECT_PASSWORD") {
        if ((ok = ParseBool(value, b)))
            rejectPassword = b;
    } else if (key == "NEVER_ANSWER") {
        if ((ok = ParseBool(value, b)))
            neverAnswer = b;
    } else if (key == "UNKNOWN_PREFIX") {
        if ((ok = ParseBool(value, b)))
            unknownPrefix = b;
    } else if (key == "DELAY_MS") {
        if ((ok = ParseCount(value, n, 3600000)))
            delayMs = static_cast<int>(n);
    } else if (key == "DROP_AFTER") {
        if ((ok = ParseCount(value, n, UINT64_C(1) << 40)))
            dropAfter = n;
    } else if (key == "FAIL_AFTER") {
        if ((ok = ParseCount(value, n, UINT64_C(1) << 40)))
            failAfter = n;
    } else if (key == "GARBAGE") {
        if ((ok = ParseCount(value, n, 20000)))
            garbage = static_cast<int>(n);
    } else if (key == "GARBAGE_MODE") {
        std::string v = UpperAscii(TrimBlanks(value));
        if (v == "BLOCK")
            garbageMode = GarbageMode::Block;
        else if (v == "INLINE")
            garbageMode = GarbageMode::Inline;
        else if (v == "RAW")
            garbageMode = GarbageMode::Raw;
        else
            ok = false;
    } else if (key == "OVERSIZE") {
        // A size (at least 32000: anything smaller would fit a block), or
        // YES for 32768.
        if (ParseCount(value, n, 1 << 24))
            ok = n == 0 || n >= static_cast<uint64_t>(Limits::kBlock);
        else if (ParseBool(value, b))
            n = b ? 32768 : 0;
        else
            ok = false;
        if (ok)
            oversize = static_cast<int>(n);
    } else if (key == "REQUESTS") {
        std::set<std::string> list;
        std::string v = UpperAscii(value);
        for (char& c : v)
            if (c == ',' || c == ';' || c == '\t')
                c = ' ';
        size_t pos = 0;
        while (pos < v.size()) {
            size_t end = v.find(' ', pos);
            if (end == std::string::npos)
                end = v.size();
            if (end > pos)
                list.insert(v.substr(pos, end - pos));
            pos = end + 1;
        }
        requests.swap(list);
    } else {
        error = "UNKNOWN FAULT SWITCH " + key;
        return false;
    }
    if (!ok) {
        error = "BAD VALUE '" + value + "' FOR FAULT SWITCH " + key;
        return false;
    }
    return true;
}

bool Faults::AppliesTo(const std::string& item) const
{
    return requests.empty() || requests.count(item) > 0;
}

std::string Faults::Describe() const
{
    std::string out;
    auto add = [&](const std::string& s) { out += (out.empty() ? "" : " ") + s; };
    if (rejectPassword)
        add("REJECT_PASSWORD");
    if (delayMs)
        add("DELAY_MS=" + std::to_string(delayMs));
    if (neverAnswer)
        add("NEVER_ANSWER");
    if (dropAfter)
        add("DROP_AFTER=" + std::to_string(dropAfter));
    if (failAfter)
        add("FAIL_AFTER=" + std::to_string(failAfter));
    if (unknownPrefix)
        add("UNKNOWN_PREFIX");
    if (garbage)
        add("GARBAGE=" + std::to_string(garbage) +
            (garbageMode == GarbageMode::Block    ? "/BLOCK"
             : garbageMode == GarbageMode::Inline ? "/INLINE"
                                                  : "/RAW"));
    if (oversize)
        add("OVERSIZE=" + std::to_string(oversize));
    if (!requests.empty()) {
        std::string r;
        for (const std::string& s : requests)
            r += (r.empty() ? "" : ",") + s;
        add("REQUESTS=" + r);
    }
    return out.empty() ? "none" : out;
}

} // namespace hostemu
