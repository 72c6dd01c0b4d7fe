# Sanitizer and fuzzing builds (scripts/sanitize.sh, scripts/fuzz.sh). Every
# finding is fatal, so a test that trips a sanitizer fails.
set(PDFLASH_SANITIZE "" CACHE STRING "Sanitizers to build with, e.g. address,undefined")
option(PDFLASH_FUZZ "Also build the libFuzzer targets (clang)" OFF)
if(PDFLASH_SANITIZE)
  add_compile_options(-fsanitize=${PDFLASH_SANITIZE} -fno-sanitize-recover=all
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=${PDFLASH_SANITIZE})
endif()
if(PDFLASH_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "PDFLASH_FUZZ needs clang (libFuzzer)")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()
