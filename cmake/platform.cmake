# Operating-system libraries behind src/platform.
if(WIN32)
  target_link_libraries(pdflash_core PUBLIC setupapi winusb advapi32 user32)
  target_link_options(pdflash_core PUBLIC -static)
  # mingw's standard-conforming printf family (the format checks assume it),
  # and no min/max macros from windows.h.
  target_compile_definitions(pdflash_core PUBLIC __USE_MINGW_ANSI_STDIO=1 NOMINMAX)
else()
  find_package(PkgConfig QUIET)
  if(PkgConfig_FOUND)
    pkg_check_modules(LIBUSB QUIET IMPORTED_TARGET libusb-1.0)
  endif()
  if(LIBUSB_FOUND)
    target_link_libraries(pdflash_core PUBLIC PkgConfig::LIBUSB)
    target_compile_definitions(pdflash_core PUBLIC PDFLASH_HAVE_LIBUSB=1)
  endif()
endif()
