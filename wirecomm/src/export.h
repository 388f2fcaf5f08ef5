#pragma once
// Marks a C entry point of the library as exported from the shared library
// (the library is built with hidden symbols otherwise).

#if defined(_WIN32)
#define WC_EXPORT extern "C" __declspec(dllexport)
#else
#define WC_EXPORT extern "C" __attribute__((visibility("default")))
#endif
