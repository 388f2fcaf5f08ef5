#include "logger/sender2db.h"

#include "logger/core.h"

namespace Logger {

void Sender2Db::write(const String* line, LogRecord& record)
{
    if (line == nullptr || line->length() == 0)
        return;
    const RecordCallback& callback = m_pCore->recordCallback();
    if (!callback || record.msg.isNull())
        return;
    callback("type", record.type.c_str());
    callback("typeCode", record.typeCode.c_str());
    callback("node", record.node.c_str());
    callback("program", record.program.c_str());
    callback("runNr", record.runNr.c_str());
    callback("file", record.file.c_str());
    callback("line", record.line.c_str());
    callback("className", record.className.c_str());
    callback("methodName", record.method.c_str());
    callback("date", record.date.c_str());
    callback("time", record.time.c_str());
    callback("order", record.order.c_str());
    callback("msgNr", record.msgNr.c_str());
    callback("msg", record.msg.c_str());
    // The end of the record.
    callback(nullptr, nullptr);
}

} // namespace Logger
