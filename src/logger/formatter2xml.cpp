#include "logger/formatter2xml.h"

#include "xml/xml.h"

namespace Logger {

Formatter2Xml::~Formatter2Xml()
{
    delete document;
}

const String* Formatter2Xml::format(LogRecord& record, const bool* fields)
{
    delete document;
    document = new Xml::Document();
    Xml::Node* log = Xml::Node::make("log");
    document->setRoot(log);

    if (!record.file.isNull()) {
        const char* base = baseName(record.file.c_str());
        if (base != record.file.c_str())
            record.file.assign(base, static_cast<int32_t>(record.file.length() - (base - record.file.c_str())));
    }

    // Setting an empty value removes the attribute, so empty fields vanish.
    struct Shown {
        Field field;
        const char* name;
        const String& value;
    };
    const Shown shown[] = {
        {kFieldType, "type", record.type},          {kFieldNode, "node", record.node},
        {kFieldProgram, "program", record.program}, {kFieldRunNr, "runNr", record.runNr},
        {kFieldFile, "file", record.file},          {kFieldLine, "line", record.line},
        {kFieldClass, "class", record.className},   {kFieldMethod, "method", record.method},
        {kFieldDate, "date", record.date},          {kFieldTime, "time", record.time},
        {kFieldOrder, "order", record.order},       {kFieldMsgNr, "msgNr", record.msgNr},
    };
    for (const Shown& s : shown) {
        if (fields[s.field])
            log->setAttribute(s.name, s.value.c_str());
    }
    // The message keeps the core's doubled backslashes; entities are encoded.
    log->setAttributeEncoded("msg", record.msg.c_str());

    output = document->print(false);
    return &output;
}

} // namespace Logger
