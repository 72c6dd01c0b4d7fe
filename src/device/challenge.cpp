#include "device/challenge.h"

#include <algorithm>
#include <sstream>
#include <vector>

#include "core/ini.h"

namespace pdflash {

uint16_t ComputeChallengeAnswer(const CoefficientSet& s, uint16_t challenge) {
  uint32_t x = challenge;
  for (int round = 0; round < 3; ++round)
    x = ((x & s.Mask1) * s.Mult1 + (x & s.Mask2) * s.Mult2 + s.Add) & 0xFFFF;
  return static_cast<uint16_t>(x);
}

bool ParseCoefficientSet(const std::string& text, CoefficientSet& set) {
  uint16_t* fields[] = {&set.Mask1, &set.Mult1, &set.Mask2, &set.Mult2, &set.Add};
  std::stringstream in(text);
  std::string item;
  size_t n = 0;
  while (std::getline(in, item, ',')) {
    uint32_t v = 0;
    if (n >= 5 || !ScanHex(item.c_str(), v) || v > 0xFFFF) return false;
    *fields[n++] = static_cast<uint16_t>(v);
  }
  return n == 5;
}

bool LoadCoefficientSet(Output& out, const std::string& exe_dir, uint8_t client, bool for_test,
                        CoefficientSet& set) {
  const char* key = "Default";
  if (client == 1 && !for_test)
    key = "Client1";
  else if (client == 2)
    key = "Client2";
  else if (client == 3)
    key = "Client3";
  else if (for_test)
    key = "Test";
  const std::string file = exe_dir + kChallengeFile;
  std::string text;
  if (!out.host.PathExists(file)) {
    LogPrint(out, "    Challenge_Coefficients_Missing: %s\n", file.c_str());
    return false;
  }
  if (!ReadIniString(exe_dir, "Challenge", key, text, kSettingTextSize, "", file) ||
      !ParseCoefficientSet(text, set)) {
    LogPrint(out, "    Challenge_Coefficients_Invalid: %s [Challenge] %s\n", file.c_str(), key);
    return false;
  }
  return true;
}

uint32_t CoefficientTest(Output& out, const std::string& exe_dir, uint8_t client) {
  LogPrint(out, "---------- Coeficient_Test,  Client %d ----------\n", client);
  CoefficientSet set;
  if (!LoadCoefficientSet(out, exe_dir, client, true, set)) return 0;
  std::vector<uint16_t> answer(0x10000);
  for (uint32_t x = 0; x <= 0xFFFF; ++x)
    answer[x] = ComputeChallengeAnswer(set, static_cast<uint16_t>(x));
  // Challenges grouped by answer, ascending, give every (i, j > i) pair in the
  // order a pairwise scan would find them.
  std::vector<std::vector<uint16_t>> by_answer(0x10000);
  for (uint32_t x = 0; x <= 0xFFFF; ++x) by_answer[answer[x]].push_back(static_cast<uint16_t>(x));
  std::vector<uint32_t> rank(0x10000);
  for (const auto& group : by_answer)
    for (uint32_t k = 0; k < group.size(); ++k) rank[group[k]] = k;
  // A broken set can answer everything alike: two billion pairs. The count
  // stays exact; the list stops where no one would read on.
  constexpr uint32_t kListedPairs = 0x10000;
  uint32_t hits = 0;
  for (uint32_t i = 0; i < 0xFFFF; ++i) {
    if (i % 0x1000 == 0) LogPrint(out, "    ---- 0x%04X ----\n", i);
    const auto& group = by_answer[answer[i]];
    const uint32_t later = static_cast<uint32_t>(group.size()) - rank[i] - 1;
    const uint32_t room = hits < kListedPairs ? kListedPairs - hits : 0;
    for (uint32_t k = 1; k <= std::min(later, room); ++k)
      LogPrint(out, "    %X, %X, [%X]\n", i, group[rank[i] + k], answer[i]);
    // The first challenge with pairs left out says so, once.
    if (later > room && hits <= kListedPairs)
      LogPrint(out, "    ---- list stops after 0x%X pairs ----\n", kListedPairs);
    hits += later;
  }
  LogPrint(out, "    ---- hit = 0x%04X ----\n", hits);
  return hits == 0 ? 1 : 0;
}

}  // namespace pdflash
