#pragma once
// Writes the lines to one file, named by a fixed path or by a mask whose
// placeholders take the program name, the tag, the run number, start times
// from the environment and the current time.

#include "logger/filesender.h"

namespace Logger {

class Sender2File : public FileSender {
public:
    explicit Sender2File(Core* core) : FileSender(core) {}

    // Attributes "pathMask", "path" and "flush" ("enabled" or anything else).
    void configure(int32_t targetId, Xml::Node* element, Callback* callback) override;
    // Creates the file's directories and opens it: appending when the core's
    // append flag is set, truncating otherwise.
    void open() override;
    void write(const String* line, LogRecord& record) override;

    // The file name: path when set, else pathMask with "*", "?", "#", "%%",
    // "%", "@@" and "@" replaced, each at its first occurrence.
    String fileName() const;

    String pathMask;
    String path;
};

} // namespace Logger
