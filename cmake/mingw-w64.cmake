# Cross-compiles the Windows build with mingw-w64 (posix thread model, which
# std::thread and the C++20 library need). The runtime is linked statically so
# pdflash.exe runs on a machine that has no mingw DLLs; wine runs the tests.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(PDFLASH_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${PDFLASH_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${PDFLASH_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${PDFLASH_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${PDFLASH_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

include(${CMAKE_CURRENT_LIST_DIR}/wine.cmake)
