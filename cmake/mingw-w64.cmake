# Cross build for Windows with Debian's mingw-w64 (the posix thread model, for std::thread);
# the programs are linked static and run under Wine (tools/wine-run, set as the emulator in
# the top-level CMakeLists.txt).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
# Template-heavy test files can pass the 32k sections of a plain COFF object.
set(CMAKE_CXX_FLAGS_INIT "-Wa,-mbig-obj")
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# libz.a, not the import library of zlib1.dll: the programs carry everything they need, so
# Wine runs them without a DLL beside them.
set(ZLIB_USE_STATIC_LIBS ON)
