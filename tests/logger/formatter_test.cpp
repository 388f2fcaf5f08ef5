// The line and XML formatters: column layout and widths, backslash handling, attribute escaping.

#include "logger/logger.h"
#include "xml/xml.h"

#include <gtest/gtest.h>

#include <string>

using namespace Logger;

namespace {

LogRecord sample()
{
    LogRecord r;
    r.type = "3", r.typeCode = "I", r.node = "host1", r.program = "vexlink", r.runNr = "-1";
    r.file = "a\\b\\transfer", r.line = "42", r.className = "Logger", r.method = "proLog";
    r.date = "2026-12-04", r.time = "04:49:23", r.order = "0", r.msgNr = "100", r.msg = "hello";
    return r;
}

struct Fields {
    bool on[kFieldCount] = {};
    Fields(std::initializer_list<Field> list)
    {
        for (Field f : list)
            on[f] = true;
    }
};

const Fields kAll({kFieldNode, kFieldProgram, kFieldRunNr, kFieldType, kFieldFile, kFieldLine, kFieldClass,
                   kFieldMethod, kFieldDate, kFieldTime, kFieldOrder, kFieldMsgNr});

std::string text(const String* s)
{
    return s ? std::string(s->c_str(), static_cast<size_t>(s->length())) : "<null>";
}

} // namespace

TEST(Formatter2Line, ColumnsWidthsAndCuts)
{
    Formatter2Line f;
    LogRecord r = sample();
    EXPECT_EQ(text(f.format(r, kAll.on)), "2026-12-04 04:49:23 vexlink   I100 host1               transfer:0042    "
                                          "     Logger           proLog           hello");
    // Run number as three digits; message and line numbers keep their last digits; long names are cut.
    r.runNr = "7", r.msgNr = "1234", r.file = "/w/averyveryverylongname.cpp", r.line = "123456";
    EXPECT_EQ(text(f.format(r, kAll.on)), "2026-12-04 04:49:23 vexlink   I234 host1           007 averyveryverylon:"
                                          "3456 Logger           proLog           hello");
    EXPECT_EQ(text(f.format(r, Fields({kFieldLine}).on)), "3456 hello");
    r.program = "averylongprogram", r.msg = "VEXLINK: PID=4711";
    EXPECT_EQ(text(f.format(r, Fields({kFieldDate, kFieldTime, kFieldProgram}).on)),
              "2026-12-04 04:49:23 averylong VEXLINK: PID=4711");
    // A <line> element sets the widths it does not name to zero.
    Xml::Node* element = Xml::Node::make("line");
    element->setAttribute("fileLength", "20");
    Formatter2Line narrow;
    narrow.configure(-1, element, nullptr);
    element->del();
    r = sample();
    EXPECT_EQ(text(narrow.format(r, Fields({kFieldNode, kFieldProgram, kFieldRunNr, kFieldType, kFieldFile, kFieldLine,
                                            kFieldClass, kFieldMethod, kFieldMsgNr})
                                        .on)),
              " 100  - transfer:42             hello");
}

TEST(Formatter2Line, BackslashSequencesAreUndone)
{
    Formatter2Line f;
    LogRecord r = sample();
    const std::vector<std::pair<const char*, std::string>> cases = {
        {"C:\\\\dir\\\\file", "C:\\dir\\file"},
        {"a\\nb\\0c", std::string("a\nb\0c", 5)},
        {"bad \\t escape", ""},
        {"trailing\\", ""}, // any other escape empties the message part
    };
    for (const auto& c : cases) {
        r.msg = c.first;
        EXPECT_EQ(text(f.format(r, Fields({}).on)), c.second) << c.first;
    }
    EXPECT_EQ(text(f.format(r, Fields({kFieldDate}).on)), "2026-12-04 "); // the columns stay
}

TEST(Formatter2Xml, AttributesInOrderAndEscaping)
{
    Formatter2Xml f;
    LogRecord r = sample();
    // The message is entity-encoded keeping doubled backslashes; others as they are; empty ones left out.
    r.node = "it's", r.className = "", r.msg = "don't <stop> & \\\\ \xe4\n";
    EXPECT_EQ(text(f.format(r, kAll.on)),
              "<log type='3' node='it's' program='vexlink' runNr='-1' file='transfer' line='42' method='proLog' "
              "date='2026-12-04' time='04:49:23' order='0' msgNr='100' "
              "msg='don&apos;t &lt;stop&gt; &amp; \\\\ &#ffe4;&#000a;'/>");
}
