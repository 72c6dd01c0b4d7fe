// The pdsim command: prepares and inspects a virtual device directory.
#pragma once

#include <string>
#include <vector>

namespace pdflash::sim {

// Runs one pdsim command (arguments without the program name). Normal output
// goes to `out`, problems to `err`. Returns the exit code: 0 done, 1 failed,
// 2 bad usage.
int RunPdsim(const std::vector<std::string>& args, std::string& out, std::string& err);

}  // namespace pdflash::sim
