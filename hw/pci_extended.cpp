#include "hw/pci_extended.h"

#include "hw/acpi.h"
#include "hw/pci.h"

namespace kvq::pci {
namespace {

// MCFG: the 36-byte header, 8 reserved bytes, then one 16-byte allocation
// per segment range: base address (64 bits), segment, first bus, last bus,
// 4 reserved bytes.
constexpr uint32_t kMcfgAllocations = acpi::kHeaderLength + 8;
constexpr uint32_t kMcfgAllocationBytes = 16;
constexpr uint32_t kMcfgMaxLength = kMcfgAllocations + 256 * kMcfgAllocationBytes;

// Looks for segment 0 in the MCFG; *found tells whether the firmware has an
// MCFG at all.
ExtendedSpace from_mcfg(bool* found) {
  const phys::Span mcfg = acpi::find_table("MCFG", kMcfgMaxLength);
  *found = mcfg.ok();
  ExtendedSpace space;
  for (uint64_t at = kMcfgAllocations; mcfg.holds(at, kMcfgAllocationBytes); at += kMcfgAllocationBytes) {
    if (mcfg.read_le(at + 8, 2) != 0) continue;
    const uint64_t base = mcfg.read_le(at, 8);
    const uint8_t first = mcfg.read8(at + 10);
    const uint8_t last = mcfg.read8(at + 11);
    // The buses' 1 MiB each must lie within the processor's reach.
    const uint64_t end = base + (static_cast<uint64_t>(last) + 1) * 0x100000u;
    if (last < first || end < base || end - 1 > phys::highest_address()) continue;
    space = ExtendedSpace{true, base, first, last, true};
    break;
  }
  return space;
}

}  // namespace

ExtendedSpace find_extended_space() {
  bool have_mcfg = false;
  const ExtendedSpace space = from_mcfg(&have_mcfg);
  if (have_mcfg) return space;
  // PCIEXBAR decodes nothing while its enable bit is clear.
  const uint32_t reg = read<Pciexbar>(kHostBridge);
  const uint32_t base = extended_base();
  if (Pciexbar::Enable::get(reg) == 0 || base == 0) return ExtendedSpace{};
  return ExtendedSpace{true, base, 0, 255, false};
}

}  // namespace kvq::pci
