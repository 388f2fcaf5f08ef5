#include "logger/formatter2line.h"

#include "xml/xml.h"

#include <cstdlib>

namespace Logger {

namespace {

int32_t widthAttribute(Xml::Node* element, const char* name)
{
    const char* value = element->attribute(name);
    const int32_t width = value != nullptr ? std::atoi(value) : 0;
    // A negative width would mean nothing sensible: it shows the column empty.
    return width < 0 ? 0 : width;
}

} // namespace

void Formatter2Line::configure(int32_t, Xml::Node* element, Callback*)
{
    if (element == nullptr)
        return;
    fileLength = widthAttribute(element, "fileLength");
    lineLength = widthAttribute(element, "lineLength");
    nodeLength = widthAttribute(element, "nodeLength");
    programLength = widthAttribute(element, "programLength");
    typeLength = widthAttribute(element, "typeLength");
    classLength = widthAttribute(element, "classLength");
    methodLength = widthAttribute(element, "methodLength");
    msgNrLength = widthAttribute(element, "msgNrLength");
    runNrLength = widthAttribute(element, "runNrLength");
}

void Formatter2Line::appendFitted(const char* text, int32_t width)
{
    scratch = text != nullptr ? text : "";
    scratch.fit(width, ' ');
    output.append(scratch);
}

void Formatter2Line::appendNumber(const String& text, int32_t width)
{
    if (width > 0) {
        scratch.number(std::atoi(text.c_str()), width);
        output.append(scratch);
    } else {
        output.append(text);
    }
}

void Formatter2Line::appendMessage(const String& msg)
{
    const char* p = msg.c_str();
    const int32_t n = msg.length();
    const int32_t start = output.length();
    int32_t runStart = 0;
    for (int32_t i = 0; i < n; ++i) {
        if (p[i] != '\\')
            continue;
        output.append(p + runStart, i - runStart);
        const char next = i + 1 < n ? p[i + 1] : '\0';
        char c;
        if (next == '\\')
            c = '\\';
        else if (next == 'n')
            c = '\n';
        else if (next == '0')
            c = '\0';
        else {
            // Not a sequence of the core: the message part stays empty.
            output.assign(output.c_str(), start);
            return;
        }
        output.append(&c, 1);
        ++i;
        runStart = i + 1;
    }
    output.append(p + runStart, n - runStart);
}

const String* Formatter2Line::format(LogRecord& record, const bool* fields)
{
    output = "";

    if (fields[kFieldDate]) {
        output.append(record.date);
        output.append(' ');
    }
    if (fields[kFieldTime]) {
        output.append(record.time);
        output.append(' ');
    }
    if (fields[kFieldProgram]) {
        appendFitted(record.program.c_str(), programLength);
        output.append(' ');
    }
    if (fields[kFieldType])
        appendFitted(record.typeCode.c_str(), typeLength);
    if (fields[kFieldMsgNr])
        appendNumber(record.msgNr, msgNrLength);
    if (fields[kFieldType] || fields[kFieldMsgNr])
        output.append(' ');
    if (fields[kFieldNode]) {
        appendFitted(record.node.c_str(), nodeLength);
        output.append(' ');
    }
    if (fields[kFieldRunNr]) {
        if (std::atoi(record.runNr.c_str()) < 0) {
            if (runNrLength > 0) {
                scratch = "";
                scratch.fit(runNrLength, ' ');
                output.append(scratch);
            } else {
                output.append('-');
            }
        } else {
            appendNumber(record.runNr, runNrLength);
        }
        output.append(' ');
    }

    // The file column shows the name without its directories.
    if (!record.file.isNull()) {
        const char* base = baseName(record.file.c_str());
        if (base != record.file.c_str())
            record.file.assign(base, static_cast<int32_t>(record.file.length() - (base - record.file.c_str())));
    }
    if (fields[kFieldFile]) {
        String name(record.file);
        if (name.length() >= fileLength)
            name.fit(fileLength, ' ');
        if (fields[kFieldLine]) {
            name.append(':');
            if (lineLength >= 1) {
                scratch.number(std::atoi(record.line.c_str()), lineLength);
                name.append(scratch);
            } else {
                name.append(record.line);
            }
            name.fit(fileLength + lineLength + 1, ' ');
        } else {
            name.fit(fileLength, ' ');
        }
        output.append(name);
        output.append(' ');
    } else if (fields[kFieldLine]) {
        appendNumber(record.line, lineLength);
        output.append(' ');
    }

    if (fields[kFieldClass]) {
        appendFitted(record.className.c_str(), classLength);
        output.append(' ');
    }
    if (fields[kFieldMethod]) {
        appendFitted(record.method.c_str(), methodLength);
        output.append(' ');
    }

    appendMessage(record.msg);
    return &output;
}

} // namespace Logger
