// What `pdsim show` tells of the companion firmware in a shared flash: the
// DP converter copies, the hub headers and the VMM6 banks, judged with the
// device's own checksums.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace pdflash::sim {

// One line per DP copy, hub header and VMM6 bank found; nothing for areas
// that hold none.
std::string DescribeCompanions(const std::vector<uint8_t>& flash);

}  // namespace pdflash::sim
