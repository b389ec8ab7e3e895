#include "hw/spi.h"

#include "hw/phys.h"

namespace kvq::spi {
namespace {

// The registers kvq touches: HSFS up to FDOD.
uint64_t register_bytes(const Controller& c) { return c.fdoc + kFdodAfterFdoc + 4; }

}  // namespace

Controller find_controller() {
  const uint32_t rcba = pci::read<Rcba>(kLpc);
  if (Rcba::Enable::get(rcba) != 0 && rcba != 0xFFFFFFFFu && Rcba::Base::get(rcba) != 0) {
    return {Controller::kBehindRcba, uint64_t{rcba & Rcba::Base::kMask} + kSpiBarInRcba, IchFdoc::kOffset};
  }
  using Bar0 = pci::hdr::Bar0;
  const uint32_t bar0 = pci::read<Bar0>(kSpiFunction);
  const uint32_t base = bar0 & Bar0::MemoryAddress::kMask;
  if (bar0 != 0xFFFFFFFFu && Bar0::IoSpace::get(bar0) == 0 && base != 0) {
    uint64_t registers = base;
    // A 64-bit BAR0 holds the upper half in BAR1.
    if (Bar0::MemoryType::get(bar0) == 2) registers |= uint64_t{pci::read<pci::hdr::Bar<1>>(kSpiFunction)} << 32;
    return {Controller::kFunction, registers, PchFdoc::kOffset};
  }
  return {};
}

bool descriptor_valid(const Controller& c) {
  const phys::Span registers(c.registers, register_bytes(c));
  return c.kind != Controller::kNone && Hsfs::Fdv::get(registers.read16(Hsfs::kOffset)) != 0;
}

void read_straps(const Controller& c, uint32_t (&straps)[kStrapCount]) {
  const phys::Span registers(c.registers, register_bytes(c), paging::Access::kWrite);
  for (int i = 0; i < kStrapCount; ++i) {
    straps[i] = 0xFFFFFFFFu;
    if (c.kind == Controller::kNone || !registers.ok()) continue;
    registers.write32(c.fdoc, fdoc_value(i));
    straps[i] = registers.read32(c.fdoc + kFdodAfterFdoc);
  }
}

}  // namespace kvq::spi
