# Cross build for 64-bit Windows with Debian's MinGW-w64 toolchain.
# Binaries are linked statically so they run under Wine without extra DLLs;
# CTest runs them through scripts/wine-run.sh.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KORVANE_MINGW_TRIPLE x86_64-w64-mingw32)

# The -posix thread model gives std::thread / std::mutex.
find_program(CMAKE_C_COMPILER
    NAMES ${KORVANE_MINGW_TRIPLE}-gcc-posix ${KORVANE_MINGW_TRIPLE}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER
    NAMES ${KORVANE_MINGW_TRIPLE}-g++-posix ${KORVANE_MINGW_TRIPLE}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER
    NAMES ${KORVANE_MINGW_TRIPLE}-windres windres REQUIRED)
find_program(CMAKE_AR NAMES ${KORVANE_MINGW_TRIPLE}-gcc-ar ${KORVANE_MINGW_TRIPLE}-ar)
find_program(CMAKE_RANLIB NAMES ${KORVANE_MINGW_TRIPLE}-gcc-ranlib ${KORVANE_MINGW_TRIPLE}-ranlib)

set(CMAKE_FIND_ROOT_PATH /usr/${KORVANE_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")

# add_test() commands for cross-built targets are prefixed with this, so
# `ctest` runs the .exe files under Wine (prefix kept in the build tree).
get_filename_component(KORVANE_TOOLCHAIN_ROOT "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR
    "${KORVANE_TOOLCHAIN_ROOT}/scripts/wine-run.sh;--prefix;${CMAKE_BINARY_DIR}/wineprefix")
