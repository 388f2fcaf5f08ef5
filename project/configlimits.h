#pragma once
// The ranges of the numeric settings. Applied to the store once, before the
// run starts, so that every reader finds a value in range: a time-out out of
// range is clamped (or, for SQLITE.T0, replaced by its default) with a
// level 1 line, never turned into "no limit" by a truncation; a port above
// 65535 or below 0 refuses the run.

#include <cstdint>
#include <string>

class ConfigModul;

class ConfigLimits {
public:
    // Rewrites out-of-range FTP.T0, FTP.T1 and SQLITE.T0 in the store;
    // false after a level 1 line when TCP.HOST_PORT or TCP.PC_PORT is out of
    // range (exit code 8).
    static bool Apply(ConfigModul& store);

    // The leading decimal number of text as atoi reads it, without its
    // overflow: values beyond the 64-bit range saturate.
    static int64_t LeadingNumber(const std::string& text);
};
