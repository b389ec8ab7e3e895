// The SPI flash controller of an Intel ICH/PCH, and the soft straps of the
// flash descriptor it reports through its descriptor observability
// registers: FDOC selects a section and a dword in it, FDOD returns that
// dword.
#pragma once
#include <stdint.h>

#include "hw/reg.h"

namespace kvq::spi {

// The controller's registers sit at SPIBAR, 3800h into the root complex
// register block; RCBA is FED1C000h on every board firmware leaves at its
// default.
inline constexpr uint32_t kDefaultRcba = 0xFED1C000u;
inline constexpr uint32_t kSpiBarInRcba = 0x3800;

// Flash descriptor observability control and data, from SPIBAR.
struct Fdoc : reg::Register<0xB0, 4> {
  using Section = reg::Field<14, 12>;  // FDSS
  using Index = reg::Field<11, 2>;     // FDSI: the dword in the section
};
static_assert(reg::fields_fit<Fdoc, Fdoc::Section, Fdoc::Index>());
struct Fdod : reg::Register<0xB4, 4> {};

inline constexpr uint32_t kSectionPchStraps = 4;
inline constexpr int kStrapCount = 21;

constexpr uint32_t fdoc_value(int index) {
  return Fdoc::Index::with(Fdoc::Section::with(0, kSectionPchStraps), static_cast<uint32_t>(index));
}
static_assert(fdoc_value(0) == 0x4000 && fdoc_value(1) == 0x4004 && fdoc_value(20) == 0x4050);

// The 21 PCH soft straps: for each, FDOC written and FDOD read at once
// after, in ascending order (the data register answers for the index last
// written).
void read_straps(uint32_t (&straps)[kStrapCount]);

}  // namespace kvq::spi
