#include "globals.h"

// Defined in the library, not in main.cpp, so that every part of the
// program that sets or reads the result code links into tests as well.
std::atomic<int32_t> g_iRC{0};

std::atomic<int32_t> g_iStopSignal{0};
