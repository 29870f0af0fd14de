# Cross-builds 64-bit Windows programs with MinGW-w64 (Debian: g++-mingw-w64-x86-64).
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(MINGW_TRIPLET x86_64-w64-mingw32)
# The POSIX thread model: GoogleTest needs std::mutex, which GCC 12's
# win32 thread model lacks. -static below keeps winpthread out of the DLLs.
set(CMAKE_C_COMPILER ${MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Everything from the compiler's own run-time goes into the .exe, so that it
# needs no DLL beyond those Windows ships.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# ctest and gtest_discover_tests run the test programs under Wine.
find_program(MINGW_WINE wine)
if(MINGW_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${MINGW_WINE})
endif()
