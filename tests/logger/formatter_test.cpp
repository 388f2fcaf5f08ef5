// The line and XML formatters: column layout, widths, backslash handling,
// attribute escaping.

#include "logger/logger.h"
#include "xml/xml.h"

#include <gtest/gtest.h>

#include <string>

using namespace Logger;

namespace {

LogRecord sampleRecord()
{
    LogRecord r;
    r.type = "3";
    r.typeCode = "I";
    r.node = "host1";
    r.program = "vexlink";
    r.runNr = "-1";
    r.file = "a\\b\\transfer";
    r.line = "42";
    r.className = "Logger";
    r.method = "proLog";
    r.date = "2026-12-04";
    r.time = "04:49:23";
    r.order = "0";
    r.msgNr = "100";
    r.msg = "hello";
    return r;
}

struct Fields {
    bool on[kFieldCount] = {};
    explicit Fields(std::initializer_list<Field> list)
    {
        for (Field f : list)
            on[f] = true;
    }
};

std::string text(const String* s)
{
    return s == nullptr ? std::string("<null>") : std::string(s->c_str(), static_cast<size_t>(s->length()));
}

} // namespace

TEST(Formatter2Line, DefaultWidthsForEveryColumn)
{
    Formatter2Line f;
    LogRecord r = sampleRecord();
    const Fields all({kFieldNode, kFieldProgram, kFieldRunNr, kFieldType, kFieldFile, kFieldLine, kFieldClass,
                      kFieldMethod, kFieldDate, kFieldTime, kFieldMsgNr});
    EXPECT_EQ(text(f.format(r, all.on)),
              "2026-12-04 04:49:23 vexlink   I100 host1           "
              "    transfer:0042         Logger           proLog           hello");
    // The directories were taken off the record's file field.
    EXPECT_STREQ(r.file.c_str(), "transfer");

    // A run number of 0 or more shows as three digits; the message number
    // keeps its last digits.
    r.runNr = "7";
    r.msgNr = "1234";
    r.file = "/work/project/transfer.cpp";
    r.line = "123456";
    EXPECT_EQ(text(f.format(r, all.on)),
              "2026-12-04 04:49:23 vexlink   I234 host1           "
              "007 transfer.cpp:3456     Logger           proLog           hello");

    // A file name as long as the width is cut before the line number.
    r.file = "averyveryverylongname.cpp";
    EXPECT_EQ(text(f.format(r, all.on)),
              "2026-12-04 04:49:23 vexlink   I234 host1           "
              "007 averyveryverylon:3456 Logger           proLog           hello");

    // Only the line field, and only the file field.
    const Fields lineOnly({kFieldLine});
    EXPECT_EQ(text(f.format(r, lineOnly.on)), "3456 hello");
    const Fields fileOnly({kFieldFile});
    r.file = "x.cpp";
    EXPECT_EQ(text(f.format(r, fileOnly.on)), "x.cpp            hello");
}

TEST(Formatter2Line, LineElementSetsUnnamedWidthsToZero)
{
    Formatter2Line f;
    Xml::Node* element = Xml::Node::make("line");
    element->setAttribute("fileLength", "20");
    f.configure(-1, element, nullptr);
    element->del();

    LogRecord r = sampleRecord();
    const Fields all({kFieldNode, kFieldProgram, kFieldRunNr, kFieldType, kFieldFile, kFieldLine, kFieldClass,
                      kFieldMethod, kFieldMsgNr});
    // Program, type, node, class and method empty; message number and run
    // number as plain text; file:line fitted to 21.
    EXPECT_EQ(text(f.format(r, all.on)), " 100  - transfer:42             hello");
    r.runNr = "5";
    EXPECT_EQ(text(f.format(r, all.on)), " 100  5 transfer:42             hello");
}

TEST(Formatter2Line, ProgramLogLayout)
{
    Formatter2Line f;
    LogRecord r = sampleRecord();
    r.msg = "VEXLINK: PID=4711";
    const Fields programLog({kFieldDate, kFieldTime, kFieldProgram});
    EXPECT_EQ(text(f.format(r, programLog.on)), "2026-12-04 04:49:23 vexlink   VEXLINK: PID=4711");
    r.program = "averylongprogram";
    EXPECT_EQ(text(f.format(r, programLog.on)), "2026-12-04 04:49:23 averylong VEXLINK: PID=4711");
}

TEST(Formatter2Line, BackslashSequencesAreUndone)
{
    Formatter2Line f;
    LogRecord r = sampleRecord();
    const Fields none({});
    r.msg = "C:\\\\dir\\\\file";
    EXPECT_EQ(text(f.format(r, none.on)), "C:\\dir\\file");
    r.msg = "a\\nb\\0c";
    EXPECT_EQ(text(f.format(r, none.on)), std::string("a\nb\0c", 5));
    // Any other escape empties the message part, but the columns stay.
    r.msg = "bad \\t escape";
    EXPECT_EQ(text(f.format(r, none.on)), "");
    const Fields dateOnly({kFieldDate});
    EXPECT_EQ(text(f.format(r, dateOnly.on)), "2026-12-04 ");
    r.msg = "trailing\\";
    EXPECT_EQ(text(f.format(r, none.on)), "");
}

TEST(Formatter2Xml, AttributesInOrderAndEscaping)
{
    Formatter2Xml f;
    LogRecord r = sampleRecord();
    r.msg = "hi";
    const Fields typeProgram({kFieldType, kFieldProgram});
    EXPECT_EQ(text(f.format(r, typeProgram.on)), "<log type='3' program='vexlink' msg='hi'/>");

    // The message is entity-encoded and keeps doubled backslashes; other
    // values are written as they are; empty ones are left out.
    r.node = "it's";
    r.className = "";
    r.msg = "don't <stop> & \\\\ \xe4\n";
    const Fields all({kFieldNode, kFieldProgram, kFieldRunNr, kFieldType, kFieldFile, kFieldLine, kFieldClass,
                      kFieldMethod, kFieldDate, kFieldTime, kFieldOrder, kFieldMsgNr});
    EXPECT_EQ(text(f.format(r, all.on)),
              "<log type='3' node='it's' program='vexlink' runNr='-1' file='transfer' line='42' method='proLog' "
              "date='2026-12-04' time='04:49:23' order='0' msgNr='100' "
              "msg='don&apos;t &lt;stop&gt; &amp; \\\\ &#ffe4;&#000a;'/>");
}
