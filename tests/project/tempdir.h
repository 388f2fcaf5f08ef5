#pragma once
// The project tests' name for the shared scratch directory.

#include "scratchdir.h"

using TempDir = ScratchDir;
