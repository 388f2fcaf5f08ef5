#pragma once
// Base of the senders that write their lines to a file of their own: how the
// file is opened, written, flushed and closed.

#include "logger/sender.h"

#include <cstdio>

namespace Logger {

class FileSender : public Sender {
public:
    explicit FileSender(Core* core) : Sender(core) {}
    ~FileSender() override;

    void flush() override;

    bool flushAfterWrite = true;

protected:
    // Attribute "flush": "enabled" flushes after every line, any other value
    // leaves the lines to the stream's buffer.
    void configureFlush(Xml::Node* element);
    // Opens the file of name, relative names in the core's base directory
    // (nothing is opened when that directory does not exist), creating its
    // directories; owner-only and never through a link, since the log may
    // hold request data. The callback learns the name as attribute.
    void openFile(const String& name, bool append, const char* attribute);
    void closeFile();
    bool isOpen() const { return file != nullptr; }
    // Writes line and a line feed, flushed when flushAfterWrite.
    void writeLine(const String& line);

private:
    std::FILE* file = nullptr;
};

} // namespace Logger
