// One libFuzzer executable per target; PDFLASH_FUZZ_TARGET names it. With
// PDFLASH_FUZZ_SEEDS=DIR it writes the target's own seeds into DIR and stops.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "fuzz/targets.h"

#define PDFLASH_STR2(x) #x
#define PDFLASH_STR(x) PDFLASH_STR2(x)

namespace {

const pdflash::fuzz::Target& TheTarget() {
  static const pdflash::fuzz::Target* target =
      pdflash::fuzz::FindTarget(PDFLASH_STR(PDFLASH_FUZZ_TARGET));
  if (!target) {
    std::fprintf(stderr, "no fuzz target %s\n", PDFLASH_STR(PDFLASH_FUZZ_TARGET));
    std::abort();
  }
  return *target;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  const char* dir = std::getenv("PDFLASH_FUZZ_SEEDS");
  if (!dir) return 0;
  int n = 0;
  if (TheTarget().seeds)
    for (const std::string& seed : TheTarget().seeds()) {
      std::ofstream f(std::string(dir) + "/own" + std::to_string(n++), std::ios::binary);
      f.write(seed.data(), static_cast<std::streamsize>(seed.size()));
      if (!f) {
        std::fprintf(stderr, "cannot write the seeds into %s\n", dir);
        std::exit(1);
      }
    }
  std::printf("%d seeds in %s\n", n, dir);
  std::exit(0);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return TheTarget().run(data, size);
}
