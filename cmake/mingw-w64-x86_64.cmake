# Cross-compiling for Windows x64 with Debian's MinGW-w64 (the posix thread
# variant: only it gives std::thread). VEXLINK_WIN_DEPS names the folder that
# scripts/build-windows.sh fills with OpenSSL, SQLite, GoogleTest and the
# Boost headers built or gathered for Windows.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32 $ENV{VEXLINK_WIN_DEPS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Tests and generators that run a built program run it under Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR env WINEDEBUG=-all wine)
# The C and C++ runtimes go into each binary, so only our own DLL ships.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++ -static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++ -static")
set(OPENSSL_USE_STATIC_LIBS ON)
