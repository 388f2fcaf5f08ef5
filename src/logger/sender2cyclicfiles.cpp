#include "logger/sender2cyclicfiles.h"

#include "logger/core.h"
#include "xml/xml.h"

#include "string/printfdirective.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

namespace Logger {

namespace {

// Highest file index accepted from "maxFiles": the first index is chosen by
// looking at every file of the ring, which must stay a bounded amount of work.
const int32_t kMaxIndexLimit = 99999;

} // namespace

bool isSingleIntFormat(const char* format)
{
    if (format == nullptr)
        return false;
    int conversions = 0;
    const bool intsOnly = PrintfDirective::all(format, [&conversions](const PrintfDirective& directive) {
        // The file index is the one argument, an int: no argument for a
        // width or precision, no other size, no grouping by the locale.
        const bool intSize = directive.length.empty() || directive.length == "h" || directive.length == "hh";
        if (directive.flags.find('\'') != std::string::npos || directive.widthArgument || directive.positional ||
            directive.precisionArgument || !intSize || directive.conversion == '\0' ||
            std::strchr("diouxX", directive.conversion) == nullptr)
            return false;
        ++conversions;
        return true;
    });
    return intsOnly && conversions == 1;
}

void Sender2CyclicFiles::configure(int32_t id, Xml::Node* element, Callback* cb)
{
    targetId = id;
    callback = cb;
    if (element != nullptr) {
        const char* value = element->attributeDecoded("pathMask");
        if (value != nullptr && *value != '\0')
            pathMask = value;
        configureFlush(element);
        value = element->attribute("maxFiles");
        if (value != nullptr && *value != '\0') {
            const long files = std::strtol(value, nullptr, 10);
            maxIndex =
                files - 1 < 1 ? 1 : (files - 1 > kMaxIndexLimit ? kMaxIndexLimit : static_cast<int32_t>(files - 1));
        }
        value = element->attribute("maxLines");
        if (value != nullptr && *value != '\0') {
            const int32_t lines = std::atoi(value);
            maxLines = lines < 1 ? 1 : lines;
        }
    }
    chooseFirstIndex();
    lineCount = 0;
}

bool Sender2CyclicFiles::fileName(int32_t index, String& name) const
{
    const String mask = maskBase(pathMask);
    if (mask.isEmpty() || !isSingleIntFormat(mask.c_str()))
        return false;
    // The mask was checked to hold one int conversion; the print is bounded.
    std::vector<char> buffer(static_cast<size_t>(mask.length()) + 20);
    legacySnprintf(buffer.data(), static_cast<int32_t>(buffer.size()), mask.c_str(), index);
    name = buffer.data();
    return true;
}

void Sender2CyclicFiles::chooseFirstIndex()
{
    // The newest file of the ring was the last one written; the lowest index
    // wins among equal times. Writing goes on with the index after it.
    fileIndex = 0;
    int32_t newest = -1;
    std::filesystem::file_time_type newestTime{};
    for (int32_t i = 0; i <= maxIndex; ++i) {
        String name, place;
        if (!fileName(i, name) || !placeInBaseDir(name, place))
            return;
        std::error_code ec;
        const auto time = std::filesystem::last_write_time(std::filesystem::path(place.c_str()), ec);
        if (ec)
            continue;
        if (newest < 0 || time > newestTime) {
            newest = i;
            newestTime = time;
        }
    }
    if (newest >= 0 && newest + 1 <= maxIndex)
        fileIndex = newest + 1;
}

void Sender2CyclicFiles::open()
{
    closeFile();
    String name;
    if (!fileName(fileIndex, name))
        return;
    openFile(name, false, "sPath");
}

void Sender2CyclicFiles::write(const String* line, LogRecord&)
{
    if (line == nullptr || line->length() == 0 || !isOpen())
        return;
    if (lineCount >= maxLines) {
        closeFile();
        lineCount = 0;
        fileIndex = fileIndex >= maxIndex ? 0 : fileIndex + 1;
        open();
        if (!isOpen())
            return;
    }
    writeLine(*line);
    ++lineCount;
}

} // namespace Logger
