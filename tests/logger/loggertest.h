#pragma once
// Helpers of the logger tests: the shared scratch directory and file
// helpers, and a logger configuration document.

#include "scratchdir.h"

#include <string>

// A logger configuration document with the given logger body.
inline std::string loggerConfig(const std::string& body, const std::string& loggerAttributes = "")
{
    return "<talverix><logger" + loggerAttributes + ">" + body + "</logger></talverix>";
}
