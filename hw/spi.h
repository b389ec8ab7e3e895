// The SPI flash controller of an Intel ICH/PCH, found where the chipset
// puts it, and the soft straps of the flash descriptor it reports through
// its descriptor observability registers: FDOC selects a section and a
// dword in it, FDOD returns that dword.
#pragma once
#include <stdint.h>

#include "hw/pci.h"
#include "hw/reg.h"

namespace kvq::spi {

// Up to the 9 series, the controller's registers (SPIBAR) lie 3800h into
// the root complex register block that RCBA (0:31.0 register F0h) places.
struct Rcba : reg::Register<0xF0, 4> {
  using Base = reg::Field<31, 14>;
  using Enable = reg::Field<0, 0>;
};
static_assert(reg::fields_fit<Rcba, Rcba::Base, Rcba::Enable>());
inline constexpr pci::Bdf kLpc = {0, 0, 31, 0};
inline constexpr uint32_t kSpiBarInRcba = 0x3800;
// From the 100 series on there is no RCBA: the controller is the function
// at 0:31.5, its registers behind BAR0.
inline constexpr pci::Bdf kSpiFunction = {0, 0, 31, 5};

// Hardware sequencing flash status, from SPIBAR: FDV says the flash holds
// a valid descriptor (without one the straps are not straps).
struct Hsfs : reg::Register<0x04, 2> {
  using Fdv = reg::Field<14, 14>;
};
static_assert(reg::fields_fit<Hsfs, Hsfs::Fdv>());

// Flash descriptor observability control: at B0h before the 100 series,
// at B4h from it on; its data register follows.
template <uint32_t Offset>
struct FdocAt : reg::Register<Offset, 4> {
  using Section = reg::Field<14, 12>;  // FDSS
  using Index = reg::Field<11, 2>;     // FDSI: the dword in the section
};
using IchFdoc = FdocAt<0xB0>;
using PchFdoc = FdocAt<0xB4>;
static_assert(reg::fields_fit<IchFdoc, IchFdoc::Section, IchFdoc::Index>());
inline constexpr uint32_t kFdodAfterFdoc = 4;

inline constexpr uint32_t kSectionPchStraps = 4;
inline constexpr int kStrapCount = 21;

constexpr uint32_t fdoc_value(int index) {
  return IchFdoc::Index::with(IchFdoc::Section::with(0, kSectionPchStraps), static_cast<uint32_t>(index));
}
static_assert(fdoc_value(0) == 0x4000 && fdoc_value(1) == 0x4004 && fdoc_value(20) == 0x4050);

struct Controller {
  enum Kind : uint8_t { kNone, kBehindRcba, kFunction } kind = kNone;
  uint64_t registers = 0;  // SPIBAR
  uint32_t fdoc = 0;       // FDOC's offset from it
};

// RCBA when its enable bit is set; else the function at 0:31.5 when its
// BAR0 is a memory BAR; else none, and nothing is ever written.
Controller find_controller();

// HSFS.FDV.
bool descriptor_valid(const Controller& c);

// The 21 PCH soft straps: for each, FDOC written and FDOD read at once
// after, in ascending order (the data register answers for the index last
// written).
void read_straps(const Controller& c, uint32_t (&straps)[kStrapCount]);

}  // namespace kvq::spi
