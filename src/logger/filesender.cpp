#include "logger/filesender.h"

#include "xml/xml.h"

#include "platform/platform.h"

#include <cstring>

namespace Logger {

FileSender::~FileSender()
{
    closeFile();
}

void FileSender::flush()
{
    if (file != nullptr)
        std::fflush(file);
}

void FileSender::configureFlush(Xml::Node* element)
{
    const char* value = element->attribute("flush");
    if (value != nullptr && *value != '\0')
        flushAfterWrite = std::strcmp(value, "enabled") == 0;
}

void FileSender::openFile(const String& name, bool append, const char* attribute)
{
    String place;
    if (!placeInBaseDir(name, place))
        return;
    makeDirectories(place);
    file = Platform::openPrivateFile(place.c_str(), false, append, true);
    reportOpened(attribute, name);
}

void FileSender::closeFile()
{
    if (file != nullptr) {
        std::fclose(file);
        file = nullptr;
    }
}

void FileSender::writeLine(const String& line)
{
    std::fwrite(line.c_str(), 1, static_cast<size_t>(line.length()), file);
    std::fputc('\n', file);
    if (flushAfterWrite)
        std::fflush(file);
}

} // namespace Logger
