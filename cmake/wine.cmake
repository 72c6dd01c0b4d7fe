# Tests of a Windows build run under wine, quietly and in a throw-away prefix.
# Included by the Windows toolchain files.
find_program(PDFLASH_WINE wine)
if(PDFLASH_WINE)
  if(NOT DEFINED ENV{WINEPREFIX})
    set(ENV{WINEPREFIX} /tmp/pdflash-wine)
  endif()
  set(CMAKE_CROSSCOMPILING_EMULATOR
      ${CMAKE_COMMAND} -E env WINEDEBUG=-all WINEPREFIX=$ENV{WINEPREFIX} ${PDFLASH_WINE})
endif()
