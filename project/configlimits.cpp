#include "configlimits.h"

#include "configmodul.h"
#include "elog.h"

#include <cstdlib>

namespace {

struct SecondsRange {
    const char* key;
    int64_t low;
    int64_t high;
    // Used below low: the bound itself, or the key's default.
    int64_t belowLow;
};

// FTP.T0 and FTP.T1 travel in 16 bits; SQLITE.T0 becomes milliseconds in
// 32 bits. A busy timeout under a second would make the retries of the
// Response and System rows worthless: it takes the default.
const SecondsRange kSeconds[] = {
    {"FTP.T0", 1, 65535, 1},
    {"FTP.T1", 1, 65535, 1},
    {"SQLITE.T0", 1, 2147483, 30},
};

const char* const kPorts[] = {"TCP.HOST_PORT", "TCP.PC_PORT"};

} // namespace

int64_t ConfigLimits::LeadingNumber(const std::string& text)
{
    const long long value = std::strtoll(text.c_str(), nullptr, 10);
    return static_cast<int64_t>(value);
}

bool ConfigLimits::Apply(ConfigModul& store)
{
    std::string value;
    for (const SecondsRange& range : kSeconds) {
        if (!store.GetParm(range.key, value))
            continue;
        const int64_t seconds = LeadingNumber(value);
        int64_t used = seconds;
        if (seconds < range.low)
            used = range.belowLow;
        else if (seconds > range.high)
            used = range.high;
        if (used == seconds)
            continue;
        ELOG(5, 1, 130, "%s=%s is outside %lld..%lld seconds: %lld used\n", range.key, value.c_str(),
             static_cast<long long>(range.low), static_cast<long long>(range.high), static_cast<long long>(used));
        store.ReplaceParm(range.key, std::to_string(used));
    }

    bool ok = true;
    for (const char* key : kPorts) {
        if (!store.GetParm(key, value))
            continue;
        const int64_t port = LeadingNumber(value);
        if (port < 0 || port > 65535) {
            ELOG(2, 1, 130, "%s=%s is not a port (0..65535): refused\n", key, value.c_str());
            ok = false;
        } else {
            // Written back as the number the readers convert.
            store.ReplaceParm(key, std::to_string(port));
        }
    }
    return ok;
}
