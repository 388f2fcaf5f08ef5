#pragma once
// Process-wide result code, returned by main as the exit code:
// 0 done, 4 informational option, 6 communication timeout,
// 8 configuration failure or no database, 16 transfer failed.
// Written by the transfer threads, read by main after the join: atomic.

#include <atomic>
#include <cstdint>

extern std::atomic<int32_t> g_iRC;
