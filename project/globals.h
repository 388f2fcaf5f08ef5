#pragma once
// Process-wide result code, returned by main as the exit code:
// 0 done, 4 informational option, 6 communication timeout,
// 8 configuration failure or no database, 16 transfer failed.
// Written by the transfer threads, read by main after the join: atomic.

#include <atomic>
#include <cstdint>

extern std::atomic<int32_t> g_iRC;

// The signal (SIGTERM, SIGINT, SIGHUP) that asked the run to end, 0 while
// none came. Set by the platform layer's signal handler; the engine threads
// leave their loops when they see it, and the run ends in order with exit
// code 16 and the System row minus the signal number.
extern std::atomic<int32_t> g_iStopSignal;
