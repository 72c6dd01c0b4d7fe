#include "ops/dp.h"

#include "core/files.h"
#include "image/pd_image.h"
#include "ops/pd_file.h"

namespace pdflash {

// A DP converter file has the PD file's header layout.
uint32_t GetDpBinVersion(Tool& t, uint8_t d) {
  if (d >= t.Dp.size()) return 0;
  DeviceRecord& r = t.Dp[d];
  uint8_t h[16];
  {
    FilePtr f(t.Open(r.BinPath, "rb"));
    ReadFileAt(f.get(), kPdHeader, h, sizeof h);
  }
  r.BinVersion = 0;
  const PdHeader header = ParsePdHeader(h);
  const uint16_t vid = header.vid, vid2 = header.vid2;
  if (t.set.DbgMsg) LogPrint(t.out, "    DP_Bin_VID = %04X/%04X\n", vid, vid2);
  if (!IdentityAccepts(vid, vid2, t.set.DP1VID)) {
    LogPrint(t.out, "    DP_Bin_VID = %04X/%04X\n", vid, vid2);
  } else {
    r.CurVid = vid;
    r.CurPid = header.pid;
    r.BinVersion = header.version;
    LogPrint(t.out, "=========================================\n");
    LogPrint(t.out, "=    DP[%d] Bin Version is %02X.%02X.%02X.%02X   =\n", d, h[0], h[1], h[2],
             h[3]);
    LogPrint(t.out, "=========================================\n");
  }
  if (r.BinVersion != 0) GetFormalVersion(t, kFormalDpFile, d);
  return r.BinVersion;
}

}  // namespace pdflash
