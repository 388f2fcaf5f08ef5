#pragma once
// One XML element named log per line: the form Logger::routeLogLine reads back.

#include "logger/formatter.h"

namespace Xml {
class Document;
}

namespace Logger {

class Formatter2Xml : public Formatter {
public:
    Formatter2Xml() = default;
    ~Formatter2Xml() override;

    const String* format(LogRecord& record, const bool* fields) override;

private:
    Xml::Document* document = nullptr;
    String output;
};

} // namespace Logger
