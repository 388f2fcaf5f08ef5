#pragma once
// Fault injection switches for the reliability tests. Each can be set in the
// [FAULTS] section of the configuration, per user in a [USER name] section,
// or with --fault KEY=VALUE on the command line.
//
//   REJECT_PASSWORD = YES   every logon is refused as a wrong password (rc 6)
//   DELAY_MS = n            each answer starts n milliseconds late
//   NEVER_ANSWER = YES      requests are taken but never answered; the host
//                           keeps the turn until the PC gives up
//   DROP_AFTER = n          the connection is closed without a word after n
//                           HPDATA records of a download or list
//   FAIL_AFTER = n          a download or list fails cleanly after n records:
//                           HPMSG with RC=12, HPEOD, turn back
//   UNKNOWN_PREFIX = YES    every answer starts with a block whose prefix
//                           names no item (HPBOGUS)
//   GARBAGE = n             n garbage bytes before every item record
//   GARBAGE_MODE = BLOCK    ... as a block of their own (default),
//                  INLINE   in front of the record inside its block,
//                  RAW      on the connection outside any frame
//   OVERSIZE = n            the first HPDATA of each download becomes a block
//                           of n bytes (at least 32000, beyond what the PC
//                           accepts; sent as a raw frame of the protocol)
//   REQUESTS = PHGETFILE,.. the answer faults above act only on these
//                           requests (default: on every request)

#include <cstdint>
#include <set>
#include <string>

namespace hostemu {

struct Faults {
    enum class GarbageMode { Block, Inline, Raw };

    bool rejectPassword = false;
    int delayMs = 0;
    bool neverAnswer = false;
    uint64_t dropAfter = 0;
    uint64_t failAfter = 0;
    bool unknownPrefix = false;
    int garbage = 0;
    GarbageMode garbageMode = GarbageMode::Block;
    int oversize = 0;
    std::set<std::string> requests;

    // Sets one switch by its key (case-insensitive); false with a reason for
    // an unknown key or a bad value.
    bool Set(const std::string& key, const std::string& value, std::string& error);
    // True when the answer faults act on the request item of this name.
    bool AppliesTo(const std::string& item) const;
    // A one-line summary of the switches that are on ("none" when none).
    std::string Describe() const;
};

// YES/NO, Y/N, 1/0, TRUE/FALSE, ON/OFF (case-insensitive).
bool ParseBool(const std::string& text, bool& value);

} // namespace hostemu
