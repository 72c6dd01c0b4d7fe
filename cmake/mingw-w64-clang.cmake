# Cross-compiles the Windows build with clang against the runtime of the
# mingw-w64 gcc of the posix thread model (std::thread needs it): its C++
# headers and libstdc++, named explicitly because clang would find none or
# the win32 model's, and the mingw-w64 import libraries. lld links it
# statically like the gcc build.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(PDFLASH_MINGW_PREFIX x86_64-w64-mingw32)
set(PDFLASH_MINGW_GCC_VERSION 12 CACHE STRING "Version of the mingw-w64 gcc whose runtime clang uses")
set(PDFLASH_MINGW_GCC_DIR /usr/lib/gcc/${PDFLASH_MINGW_PREFIX}/${PDFLASH_MINGW_GCC_VERSION}-posix)
if(NOT EXISTS ${PDFLASH_MINGW_GCC_DIR}/include/c++)
  message(FATAL_ERROR "no mingw-w64 posix gcc runtime in ${PDFLASH_MINGW_GCC_DIR} "
                      "(PDFLASH_WINDOWS=1 PDFLASH_CLANG=1 scripts/setup.sh installs it)")
endif()

set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET ${PDFLASH_MINGW_PREFIX})
set(CMAKE_CXX_COMPILER_TARGET ${PDFLASH_MINGW_PREFIX})
set(CMAKE_RC_COMPILER ${PDFLASH_MINGW_PREFIX}-windres)
set(CMAKE_AR ${PDFLASH_MINGW_PREFIX}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${PDFLASH_MINGW_PREFIX}-ranlib CACHE FILEPATH "")

# The C++ library's headers and what gcc predefines for them on this target:
# without the equality macro the headers define type_info::operator== inline,
# which then clashes with the library's own. Compile-only flags, so they go in
# the compile rule rather than CMAKE_CXX_FLAGS, which reaches the link line too.
set(pdflash_cxx_include ${PDFLASH_MINGW_GCC_DIR}/include/c++)
set(pdflash_cxx_compile
    "-nostdinc++ -isystem ${pdflash_cxx_include} -isystem ${pdflash_cxx_include}/${PDFLASH_MINGW_PREFIX} -isystem ${pdflash_cxx_include}/backward -D__GXX_TYPEINFO_EQUALITY_INLINE=0 -D__GXX_MERGED_TYPEINFO_NAMES=0 -D_REENTRANT")
set(CMAKE_CXX_COMPILE_OBJECT
    "<CMAKE_CXX_COMPILER> ${pdflash_cxx_compile} <DEFINES> <INCLUDES> <FLAGS> -o <OBJECT> -c <SOURCE>")
# The posix libstdc++ needs winpthreads, which only the gcc driver adds; lld
# resolves archives in any order, so it may stand ahead of the objects.
set(CMAKE_EXE_LINKER_FLAGS_INIT
    "-fuse-ld=lld -L${PDFLASH_MINGW_GCC_DIR} -static -static-libgcc -static-libstdc++ -lpthread")

set(CMAKE_FIND_ROOT_PATH /usr/${PDFLASH_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

include(${CMAKE_CURRENT_LIST_DIR}/wine.cmake)
