#include "platform/sim/spi_straps.h"

namespace kvq::sim {

uint32_t SpiStraps::fdod() const {
  const uint32_t section = (fdoc_ >> 12) & 7;
  const uint32_t index = (fdoc_ >> 2) & 0x3FF;
  if (section == 0 && index == 0) return 0x0FF0A55Au;  // FLVALSIG
  if (section == 0 && index == 2) return static_cast<uint32_t>(pch_straps.size()) << 24;  // FLMAP1.PSL
  if (section != kSectionPchStraps || index >= pch_straps.size()) return 0xFFFFFFFFu;
  return pch_straps[index];
}

// Whole dwords: HSFS in the low half of the one at 04h.
uint32_t SpiStraps::reg(uint32_t offset) const {
  if (offset == 0x04) return descriptor_valid ? 0x4000u : 0;
  if (offset == fdoc_at_) return fdoc_;
  if (offset == fdoc_at_ + 4) return fdod();
  return 0;
}

uint64_t SpiStraps::read(uint64_t addr, int width) {
  return read_dword_lanes(static_cast<uint32_t>(addr - spibar_), width, [this](uint32_t o) { return reg(o); });
}

void SpiStraps::write(uint64_t addr, int width, uint64_t value) {
  // Byte lanes of FDOC take the write; the rest is read-only here.
  for (int i = 0; i < width / 8; ++i) {
    const uint32_t o = static_cast<uint32_t>(addr - spibar_) + static_cast<uint32_t>(i);
    if ((o & ~3u) != fdoc_at_) continue;
    const uint32_t lane = o & 3;
    const uint32_t mask = 0xFFu << (8 * lane);
    fdoc_ = (fdoc_ & ~mask) | ((static_cast<uint32_t>(value >> (8 * i)) & 0xFF) << (8 * lane));
  }
  fdoc_ &= 0x7FFCu;  // FDSS and FDSI are the writable fields
}

}  // namespace kvq::sim
