// The SPI flash controller of an Intel ICH/PCH, found where the chipset
// table (hw/chipset) says the generation puts it, and the soft straps of
// the flash descriptor it reports through its descriptor observability
// registers: FDOC selects a section and a dword in it, FDOD returns that
// dword.
#pragma once
#include <stdint.h>

#include "hw/chipset.h"
#include "hw/pci.h"
#include "hw/reg.h"

namespace kvq::spi {

// Up to the 9 series, the controller's registers (SPIBAR) lie in the root
// complex register block that RCBA (bridge register F0h) places.
struct Rcba : reg::Register<0xF0, 4> {
  using Base = reg::Field<31, 14>;
  using Enable = reg::Field<0, 0>;
};
static_assert(reg::fields_fit<Rcba, Rcba::Base, Rcba::Enable>());
inline constexpr pci::Bdf kLpc = {0, 0, 31, 0};
// From the 100 series on the controller is a function of its own: an
// Intel serial bus controller of the "other" kind, its registers behind
// memory BAR0.
inline constexpr uint32_t kSpiClass = 0x0C80;  // base class and subclass

// Hardware sequencing flash status, from SPIBAR: FDV says the flash holds
// a valid descriptor (without one the straps are not straps).
struct Hsfs : reg::Register<0x04, 2> {
  using Fdv = reg::Field<14, 14>;
};
static_assert(reg::fields_fit<Hsfs, Hsfs::Fdv>());

// Flash descriptor observability control: at B0h before the 100 series,
// at B4h from it on; its data register follows.
struct Fdoc : reg::Register<0xB0, 4> {
  using Section = reg::Field<14, 12>;  // FDSS
  using Index = reg::Field<11, 2>;     // FDSI: the dword in the section
};
static_assert(reg::fields_fit<Fdoc, Fdoc::Section, Fdoc::Index>());
inline constexpr uint32_t kFdodAfterFdoc = 4;

// Descriptor sections, and the map's FLMAP1 (after FLVALSIG and FLMAP0),
// whose top byte says how many dwords of PCH straps there are.
inline constexpr uint32_t kSectionMap = 0;
inline constexpr uint32_t kSectionPchStraps = 4;
inline constexpr int kFlmap1 = 2;
struct Flmap1 : reg::Register<0x08, 4> {
  using Psl = reg::Field<31, 24>;
};
static_assert(reg::fields_fit<Flmap1, Flmap1::Psl>());

// Straps shown when no valid descriptor counts them.
inline constexpr int kDefaultStraps = 21;

constexpr uint32_t fdoc_value(uint32_t section, int index) {
  return Fdoc::Index::with(Fdoc::Section::with(0, section), static_cast<uint32_t>(index));
}
static_assert(fdoc_value(kSectionPchStraps, 0) == 0x4000 && fdoc_value(kSectionPchStraps, 20) == 0x4050);
static_assert(fdoc_value(kSectionMap, kFlmap1) == 0x0008);

struct Controller {
  enum Kind : uint8_t {
    kNone,          // no flash controller known here: nothing is touched
    kNotSupported,  // a known chipset whose controller has no FDOC
    kFound,
  } kind = kNone;
  const char16_t* chipset = nullptr;  // the generation's name
  uint64_t registers = 0;             // SPIBAR
  uint32_t fdoc = 0;                  // FDOC's offset from it
};

// Asks the chipset table where the controller is, then that place: RCBA
// with its enable bit set, or the SPI function when it is Intel's, of the
// SPI class, with memory decoding on and a memory BAR0.
Controller find_controller();

// What one pass read: whether the descriptor is valid, how many straps it
// has (FLMAP1.PSL; 21 without a descriptor), and up to `kRows` of them
// from `first`.
struct Straps {
  static constexpr int kRows = 21;
  bool valid = false;
  int count = 0;
  int first = 0;  // `first` as asked, brought within the straps
  int shown = 0;
  uint32_t values[kRows] = {};
};

// FDOC is read first and written back last, so whoever selected a dword
// before finds it selected. Each strap: FDOC written, FDOD read at once
// after (the data register answers for the index last written). `first`
// is moved back to the last page of kRows straps when it lies beyond.
Straps read_straps(const Controller& c, int first);

}  // namespace kvq::spi
