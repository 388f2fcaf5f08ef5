#pragma once
// Writes each line and a line feed to standard output, without flushing.

#include "logger/sender.h"

namespace Logger {

class Sender2Stdout : public Sender {
public:
    explicit Sender2Stdout(Core* core) : Sender(core) {}
    ~Sender2Stdout() override = default;

    void write(const String* line, LogRecord& record) override;
};

} // namespace Logger
