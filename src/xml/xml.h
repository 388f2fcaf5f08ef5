#pragma once
// The XML document, its nodes and attributes, the INI reader and the
// configuration document with INI hooks.

#include "xml/attribute.h"
#include "xml/configfile.h"
#include "xml/document.h"
#include "xml/entities.h"
#include "xml/inifile.h"
#include "xml/inihook.h"
#include "xml/node.h"
