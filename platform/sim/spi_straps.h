// The SPI controller of an Intel PCH for the simulated board: HSFS (its FDV
// bit says whether the flash holds a descriptor) and the flash descriptor
// observability registers, FDOC (bits 14:12 select a descriptor section,
// bits 11:2 a dword in it) and FDOD (that dword), from SPIBAR. Up to the 9
// series FDOC sits at B0h, SPIBAR 3800h into the root complex block that
// RCBA places (FED1F800h by default); from the 100 series on at B4h,
// SPIBAR being BAR0 of the function at 0:31.5.
#pragma once
#include <cstdint>
#include <vector>

#include "platform/sim/board.h"

namespace kvq::sim {

class SpiStraps : public MemDevice {
 public:
  static constexpr uint64_t kIchSpiBar = 0xFED1F800u;
  static constexpr uint32_t kIchFdoc = 0xB0;
  static constexpr uint32_t kPchFdoc = 0xB4;
  static constexpr uint32_t kSectionPchStraps = 4;

  explicit SpiStraps(uint64_t spibar = kIchSpiBar, uint32_t fdoc = kIchFdoc) : spibar_(spibar), fdoc_at_(fdoc) {}
  bool claims(uint64_t addr) const override { return addr - spibar_ < 0x100; }
  uint64_t read(uint64_t addr, int width) override;
  void write(uint64_t addr, int width, uint64_t value) override;

  // The descriptor's PCH soft straps, which its map (section 0) counts in
  // FLMAP1; dwords past them, and every other section, read as erased flash.
  std::vector<uint32_t> pch_straps;
  bool descriptor_valid = true;  // HSFS.FDV
  // FDOC as someone else left it.
  uint32_t fdoc() const { return fdoc_; }
  void set_fdoc(uint32_t value) { fdoc_ = value & 0x7FFC; }

 private:
  uint32_t reg(uint32_t offset) const;
  uint32_t fdod() const;
  uint64_t spibar_;
  uint32_t fdoc_at_;
  uint32_t fdoc_ = 0;
};

}  // namespace kvq::sim
