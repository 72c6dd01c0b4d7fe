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

# The virtual device's security block computes its cryptography with
# libgcrypt; nothing of the tool itself links it. Windows links it statically.
if(WIN32)
  find_path(GCRYPT_INCLUDE_DIR gcrypt.h REQUIRED)
  find_library(GCRYPT_LIBRARY NAMES libgcrypt.a gcrypt REQUIRED)
  find_library(GPG_ERROR_LIBRARY NAMES libgpg-error.a gpg-error REQUIRED)
  target_include_directories(pdflash_sim PUBLIC ${GCRYPT_INCLUDE_DIR})
  target_link_libraries(pdflash_sim PUBLIC ${GCRYPT_LIBRARY} ${GPG_ERROR_LIBRARY} ws2_32)
else()
  find_package(PkgConfig REQUIRED)
  pkg_check_modules(GCRYPT REQUIRED IMPORTED_TARGET libgcrypt)
  target_link_libraries(pdflash_sim PUBLIC PkgConfig::GCRYPT)
endif()
