#pragma once
// The record of one log line: every field as text, filled by the target
// that emits the line and read by its formatter and sender.

#include "string/string.h"

#include <cstdint>

namespace Logger {

// Indices of the record fields a target can show; the names are the words
// used in the include and exclude lists of a target element.
enum Field : int32_t {
    kFieldZero = 0, // shows nothing; admits messages of type 0
    kFieldNode,
    kFieldProgram,
    kFieldRunNr,
    kFieldType,
    kFieldFile,
    kFieldLine,
    kFieldClass,
    kFieldMethod,
    kFieldDate,
    kFieldTime,
    kFieldOrder,
    kFieldMsgNr,
    kFieldCount
};

// The field names in index order.
extern const char* const kFieldNames[kFieldCount];

class LogRecord {
public:
    String type;     // type number in decimal
    String typeCode; // one letter: . E W I X T D
    String node;
    String program;
    String runNr; // decimal
    String file;
    String line; // decimal
    String className;
    String method;
    String date;  // YYYY-MM-DD
    String time;  // HH:MM:SS
    String order; // decimal
    String msgNr; // decimal
    String msg;   // one line, without its line feed, backslashes doubled
};

// The letter of a message type: 0 ".", 1 "E", 2 "W", 3 "I", 4 "X", 5 "T",
// 6 and above "D".
char typeCode(int32_t type);

} // namespace Logger
