#pragma once
// Fixed-column text lines: the form of the program's own log file.

#include "logger/formatter.h"

namespace Logger {

class Formatter2Line : public Formatter {
public:
    Formatter2Line() = default;
    ~Formatter2Line() override = default;

    // Reads the nine widths of the line element with atoi; once the element
    // is given, every width it does not name becomes 0.
    void configure(int32_t targetId, Xml::Node* element, Callback* callback) override;
    const String* format(LogRecord& record, const bool* fields) override;

    int32_t fileLength = 16;
    int32_t lineLength = 4;
    int32_t nodeLength = 15;
    int32_t programLength = 9;
    int32_t typeLength = 1;
    int32_t classLength = 16;
    int32_t methodLength = 16;
    int32_t msgNrLength = 3;
    int32_t runNrLength = 3;

private:
    // Appends the text fitted to width with blanks.
    void appendFitted(const char* text, int32_t width);
    // Appends the number as width digits, or its text when width is 0.
    void appendNumber(const String& text, int32_t width);
    // Appends the message with the core's backslash doubling undone; an
    // unknown escape leaves the message part empty.
    void appendMessage(const String& msg);

    String output;
    String scratch;
};

} // namespace Logger
