#pragma once
// Base of the formatters: turns the record of one line into the text that
// the target's sender writes.

#include "logger/callback.h"
#include "logger/logrecord.h"

#include <cstdint>

namespace Xml {
class Node;
}

namespace Logger {

class Formatter {
public:
    Formatter() = default;
    virtual ~Formatter() = default;
    Formatter(const Formatter&) = delete;
    Formatter& operator=(const Formatter&) = delete;

    // Reads the options of the target's child element named after the
    // formatter; the base has none.
    virtual void configure(int32_t targetId, Xml::Node* element, Callback* callback);
    // The text of the line, owned by the formatter and valid until its next
    // call, or null for no line. fields: the target's kFieldCount switches.
    virtual const String* format(LogRecord& record, const bool* fields);

    // Makes the formatter of that name ("line", "xml", "null"), or null.
    static Formatter* make(const char* name);
};

// Reduces a path to the part after its last separator (a backslash, or the
// native "/").
const char* baseName(const char* path);

} // namespace Logger
