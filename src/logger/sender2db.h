#pragma once
// Hands each record field by field to the core's record callback; the line itself is not used.

#include "logger/sender.h"

namespace Logger {

class Sender2Db : public Sender {
public:
    explicit Sender2Db(Core* core) : Sender(core) {}
    ~Sender2Db() override = default;

    void write(const String* line, LogRecord& record) override;
};

} // namespace Logger
