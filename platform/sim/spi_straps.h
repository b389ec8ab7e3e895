// The SPI controller's flash descriptor observability registers of an Intel
// PCH, at their place behind the default root complex base 0xFED1C000:
// FDOC (0xFED1F8B0) selects a descriptor section (bits 14:12) and a dword in
// it (bits 11:2); FDOD (0xFED1F8B4) returns that dword.
#pragma once
#include <cstdint>
#include <vector>

#include "platform/sim/board.h"

namespace kvq::sim {

class SpiStraps : public MemDevice {
 public:
  static constexpr uint32_t kFdoc = 0xFED1F8B0u;
  static constexpr uint32_t kSectionPchStraps = 4;

  bool claims(uint64_t addr) const override { return addr - kFdoc < 8; }
  uint64_t read(uint64_t addr, int width) override;
  void write(uint64_t addr, int width, uint64_t value) override;

  // The descriptor's PCH soft straps; dwords past them, and every other
  // section, read as erased flash.
  std::vector<uint32_t> pch_straps;

 private:
  uint32_t fdod() const;
  uint32_t fdoc_ = 0;
};

}  // namespace kvq::sim
