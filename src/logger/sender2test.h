#pragma once
// Appends each line and a line feed to the core's test output.

#include "logger/sender.h"

namespace Logger {

class Sender2Test : public Sender {
public:
    explicit Sender2Test(Core* core) : Sender(core) {}
    ~Sender2Test() override = default;

    void write(const String* line, LogRecord& record) override;
};

} // namespace Logger
