#pragma once
// Writes each line and a line feed to standard error, without flushing.

#include "logger/sender.h"

namespace Logger {

class Sender2Stderr : public Sender {
public:
    explicit Sender2Stderr(Core* core) : Sender(core) {}
    ~Sender2Stderr() override = default;

    void write(const String* line, LogRecord& record) override;
};

} // namespace Logger
