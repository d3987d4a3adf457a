# Cross build for 64-bit Windows with Debian's MinGW-w64 toolchain (posix threads variant, for
# std::thread and std::mutex). The programs are linked statically against the compiler's runtime
# so that a single .exe needs nothing but the DLLs every Windows has.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# This GCC 12 reports false -Wrestrict overlaps inside libstdc++'s std::string assignment and
# concatenation once they are inlined (GCC bug 105329); with -Werror they would stop the build.
set(CMAKE_CXX_FLAGS_INIT "-Wno-restrict")
set(CMAKE_CXX_FLAGS_RELEASE_INIT "-O2 -DNDEBUG")

# Tests run under Wine: ctest puts this in front of every test program.
find_program(MARLOWICK_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(MARLOWICK_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${MARLOWICK_WINE})
endif()
