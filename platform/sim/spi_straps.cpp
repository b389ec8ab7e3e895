#include "platform/sim/spi_straps.h"

namespace kvq::sim {

uint32_t SpiStraps::fdod() const {
  const uint32_t section = (fdoc_ >> 12) & 7;
  const uint32_t index = (fdoc_ >> 2) & 0x3FF;
  if (section != kSectionPchStraps || index >= pch_straps.size()) return 0xFFFFFFFFu;
  return pch_straps[index];
}

uint64_t SpiStraps::read(uint64_t addr, int width) {
  const uint64_t both = fdoc_ | static_cast<uint64_t>(fdod()) << 32;
  const uint32_t shift = static_cast<uint32_t>(addr - kFdoc) * 8;
  const uint64_t v = both >> shift;
  return width >= 64 ? v : v & ((uint64_t{1} << width) - 1);
}

void SpiStraps::write(uint64_t addr, int width, uint64_t value) {
  // Byte lanes of FDOC take the write; FDOD is read-only.
  for (int i = 0; i < width / 8; ++i) {
    const uint32_t lane = static_cast<uint32_t>(addr - kFdoc) + static_cast<uint32_t>(i);
    if (lane >= 4) break;
    const uint32_t mask = 0xFFu << (8 * lane);
    fdoc_ = (fdoc_ & ~mask) | ((static_cast<uint32_t>(value >> (8 * i)) & 0xFF) << (8 * lane));
  }
  fdoc_ &= 0x7FFCu;  // FDSS and FDSI are the writable fields
}

}  // namespace kvq::sim
