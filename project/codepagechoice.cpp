#include "translate.h"

#include "configmodul.h"

int Translate::ChooseFromConfig(std::string& matchedName)
{
    std::string value;
    const bool configured = ConfigValue("GLOBAL.CODEPAGE", value);
    return Choose(configured ? &value : nullptr, matchedName);
}
