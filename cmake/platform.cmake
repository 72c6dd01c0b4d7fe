# Operating-system libraries behind src/platform.
if(WIN32)
  target_link_libraries(pdflash_platform PUBLIC setupapi winusb advapi32 user32)
  target_link_options(pdflash_platform PUBLIC -static)
  # mingw's standard-conforming printf family (the format checks assume it),
  # and no min/max macros from windows.h.
  target_compile_definitions(pdflash_platform PUBLIC __USE_MINGW_ANSI_STDIO=1 NOMINMAX)
else()
  find_package(PkgConfig QUIET)
  if(PkgConfig_FOUND)
    pkg_check_modules(LIBUSB QUIET IMPORTED_TARGET libusb-1.0)
  endif()
  if(LIBUSB_FOUND)
    target_link_libraries(pdflash_platform PUBLIC PkgConfig::LIBUSB)
    target_compile_definitions(pdflash_platform PUBLIC PDFLASH_HAVE_LIBUSB=1)
  endif()
endif()
