// The fuzz targets: each takes one input as libFuzzer hands it over. The
// fuzzer executables run them; the unit tests replay the saved findings and
// the seeds through the same functions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace pdflash::fuzz {

struct Target {
  std::string_view name;
  int (*run)(const uint8_t* data, size_t size);
  // Seeds the example files cannot give (made by the program itself).
  std::vector<std::string> (*seeds)() = nullptr;
};

const std::vector<Target>& Targets();
const Target* FindTarget(std::string_view name);

}  // namespace pdflash::fuzz
