#include "hw/spi.h"

#include "platform/hw.h"

namespace kvq::spi {
namespace {
constexpr uint32_t kSpiBar = kDefaultRcba + kSpiBarInRcba;
}  // namespace

void read_straps(uint32_t (&straps)[kStrapCount]) {
  for (int i = 0; i < kStrapCount; ++i) {
    plat::mem_write32(kSpiBar + Fdoc::kOffset, fdoc_value(i));
    straps[i] = plat::mem_read32(kSpiBar + Fdod::kOffset);
  }
}

}  // namespace kvq::spi
