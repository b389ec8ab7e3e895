#include "hw/spi.h"

#include "hw/phys.h"

namespace kvq::spi {
namespace {
constexpr uint32_t kSpiBar = kDefaultRcba + kSpiBarInRcba;
}  // namespace

void read_straps(uint32_t (&straps)[kStrapCount]) {
  const phys::Span registers(kSpiBar + Fdoc::kOffset, 8, paging::Access::kWrite);
  for (int i = 0; i < kStrapCount; ++i) {
    registers.write32(0, fdoc_value(i));
    straps[i] = registers.read32(Fdod::kOffset - Fdoc::kOffset);
  }
}

}  // namespace kvq::spi
