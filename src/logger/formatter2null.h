#pragma once
// The formatter that yields no text: its target writes nothing.

#include "logger/formatter.h"

namespace Logger {

class Formatter2Null : public Formatter {
public:
    Formatter2Null() = default;
    ~Formatter2Null() override = default;
};

} // namespace Logger
