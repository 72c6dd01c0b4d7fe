// One libFuzzer executable per target; PDFLASH_FUZZ_TARGET names it.
#include <cstdio>
#include <cstdlib>

#include "fuzz/targets.h"

#define PDFLASH_STR2(x) #x
#define PDFLASH_STR(x) PDFLASH_STR2(x)

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const pdflash::fuzz::Target* target =
      pdflash::fuzz::FindTarget(PDFLASH_STR(PDFLASH_FUZZ_TARGET));
  if (!target) {
    std::fprintf(stderr, "no fuzz target %s\n", PDFLASH_STR(PDFLASH_FUZZ_TARGET));
    std::abort();
  }
  return target->run(data, size);
}
