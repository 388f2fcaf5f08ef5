#pragma once
// Writes the lines to a ring of files: maxLines lines per file, then the
// next index, back to 0 after maxIndex; each file is truncated when opened.

#include "logger/filesender.h"

namespace Logger {

class Sender2CyclicFiles : public FileSender {
public:
    explicit Sender2CyclicFiles(Core* core) : FileSender(core) {}

    // Attributes "pathMask", "flush", "maxFiles" and "maxLines"; then picks
    // the first file index after the newest existing file of the ring.
    void configure(int32_t targetId, Xml::Node* element, Callback* callback) override;
    void open() override;
    void write(const String* line, LogRecord& record) override;

    // The file name of index i: pathMask with "*", "?" and "#" replaced,
    // then printed with i. The mask must hold exactly one integer conversion
    // (such as "%d" or "%02d") and otherwise only "%%"; without such a mask
    // the result is false and the ring has no files.
    bool fileName(int32_t index, String& name) const;

    String pathMask;
    int32_t lineCount = 0;
    int32_t fileIndex = 0;
    int32_t maxLines = 999;
    int32_t maxIndex = 9;

private:
    void chooseFirstIndex();
};

// True when format holds exactly one conversion that prints one int
// (flags, a width and a precision in digits, the length h or hh, and one of
// d i o u x X) and otherwise only literal text and "%%".
bool isSingleIntFormat(const char* format);

} // namespace Logger
