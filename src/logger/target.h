#pragma once
// One output of the logger: a filter (accepted types, shown fields), one
// formatter and one sender, and the text of a message not yet ended by a
// line feed.

#include "logger/formatter.h"
#include "logger/logrecord.h"
#include "logger/sender.h"

#include <cstdint>

namespace Xml {
class Node;
}

namespace Logger {

class Target {
public:
    Target() = default;
    ~Target();
    Target(const Target&) = delete;
    Target& operator=(const Target&) = delete;

    // Type t is accepted when t is 0 and the field "0" is on, or when bit
    // (t - 1) mod 32 of the mask is set (bit 31 for type 0).
    bool accepts(int32_t type) const;
    // Applies the attributes include, exclude, level and mask, in this order.
    void applyFilter(Xml::Node* element);

    // The mask of a level attribute: 0 none, 1 E and I, 2 adds W, 3 adds X,
    // 4 and 5 add T, n >= 6 also bit (n - 1) mod 32; negative none.
    static uint32_t levelMask(long level);

    uint32_t mask = 1;
    bool fields[kFieldCount] = {};
    LogRecord record;
    int32_t id = -1;
    Formatter* formatter = nullptr;
    Sender* sender = nullptr;
    bool openPending = false;
    String pending;
    Target* next = nullptr;
};

} // namespace Logger
