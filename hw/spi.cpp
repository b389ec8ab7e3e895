#include "hw/spi.h"

#include "hw/phys.h"

namespace kvq::spi {
namespace {

// The registers kvq touches: HSFS up to FDOD.
uint64_t register_bytes(const Controller& c) { return c.fdoc + kFdodAfterFdoc + 4; }

// The SPI function's BAR0, if the function is Intel's SPI controller with
// its memory space on: 0 otherwise.
uint64_t function_bar(const pci::Bdf& f) {
  using namespace pci::hdr;
  if (Id::Vendor::get(pci::read<Id>(f)) != 0x8086) return 0;
  const uint32_t klass = pci::read<ClassRevision>(f);
  if ((ClassRevision::BaseClass::get(klass) << 8 | ClassRevision::SubClass::get(klass)) != kSpiClass) return 0;
  if (Command::MemorySpace::get(pci::read<Command>(f)) == 0) return 0;
  const uint32_t bar0 = pci::read<Bar0>(f);
  if (Bar0::IoSpace::get(bar0) != 0) return 0;
  uint64_t base = bar0 & Bar0::MemoryAddress::kMask;
  // A 64-bit BAR0 holds the upper half in BAR1.
  if (Bar0::MemoryType::get(bar0) == 2) base |= uint64_t{pci::read<Bar<1>>(f)} << 32;
  return base;
}

uint32_t descriptor_dword(const phys::Span& r, const Controller& c, uint32_t section, int index) {
  r.write32(c.fdoc, fdoc_value(section, index));
  return r.read32(c.fdoc + kFdodAfterFdoc);
}

}  // namespace

Controller find_controller() {
  const chipset::Generation* g = chipset::identify();
  if (g == nullptr || g->spi == chipset::Spi::kNone) return {};
  if (g->spi == chipset::Spi::kNoFdoc) return {Controller::kNotSupported, g->name};
  uint64_t registers = 0;
  if (g->spi == chipset::Spi::kRcba) {
    const uint32_t rcba = pci::read<Rcba>(kLpc);
    if (Rcba::Enable::get(rcba) != 0 && rcba != 0xFFFFFFFFu && Rcba::Base::get(rcba) != 0) {
      registers = uint64_t{rcba & Rcba::Base::kMask} + g->spibar_in_rcba;
    }
  } else {
    registers = function_bar(pci::Bdf{0, 0, g->spi_device, g->spi_function});
  }
  if (registers == 0) return {};
  return {Controller::kFound, g->name, registers, g->fdoc};
}

Straps read_straps(const Controller& c, int first) {
  Straps s;
  if (c.kind != Controller::kFound) return s;
  const phys::Span r(c.registers, register_bytes(c), paging::Access::kWrite);
  if (!r.ok()) {
    // Registers the page tables do not map read as all ones, unreached.
    s.count = s.shown = kDefaultStraps;
    for (uint32_t& v : s.values) v = 0xFFFFFFFFu;
    return s;
  }
  const uint32_t saved = r.read32(c.fdoc);
  s.valid = Hsfs::Fdv::get(r.read16(Hsfs::kOffset)) != 0;
  s.count = s.valid ? static_cast<int>(Flmap1::Psl::get(descriptor_dword(r, c, kSectionMap, kFlmap1)))
                    : kDefaultStraps;
  const int last_page = s.count > 0 ? (s.count - 1) / Straps::kRows * Straps::kRows : 0;
  s.first = first < 0 ? 0 : first > last_page ? last_page : first;
  for (int i = s.first; i < s.count && s.shown < Straps::kRows; ++i) {
    s.values[s.shown++] = descriptor_dword(r, c, kSectionPchStraps, i);
  }
  r.write32(c.fdoc, saved);
  return s;
}

}  // namespace kvq::spi
