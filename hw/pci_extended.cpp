#include "hw/pci_extended.h"

#include "hw/acpi.h"
#include "hw/pci.h"

namespace kvq::pci {
namespace {

using reg::Field;
using reg::Register;

// PCIEXBAR, a 64-bit register at 60h of Intel's host bridges since the 965
// family. The base is aligned to the length; later parts use length values
// 3 and up for 512 MiB and more, which no known part here has and this
// decoder does not take.
struct PciexbarLow : Register<0x60, 4> {
  using Address = Field<31, 26>;
  using Length = Field<3, 1>;  // 0: 256 buses, 1: 128, 2: 64
  using Enable = Field<0, 0>;
};
static_assert(reg::fields_fit<PciexbarLow, PciexbarLow::Address, PciexbarLow::Length, PciexbarLow::Enable>());
struct PciexbarHigh : Register<0x64, 4> {};  // address bits 63:32

// Intel host bridges (0:0.0) whose PCIEXBAR is at 60h, by device ID, from
// Intel's datasheets and the host bridge lists of coreboot (northbridge and
// common system agent code), Linux (intel-agp, ie31200_edac) and pci.ids:
// the 965, 3 and 4 series, Pineview, Core processors from the first
// generation (Ironlake) to the 13th (Raptor Lake), Apollo and Gemini Lake.
// The 945 family has it at 48h, servers put it elsewhere, i440FX-era
// bridges hold DRAM row boundaries at 60h and AMD's an index register: none
// of them is here.
constexpr uint16_t kPciexbarHostBridges[] = {
    0x0040, 0x0044, 0x0048, 0x0062, 0x0069, 0x006A,  // Ironlake (1st gen Core)
    0x0100, 0x0104, 0x0108, 0x010C,                  // Sandy Bridge
    0x0150, 0x0154, 0x0158, 0x015C,                  // Ivy Bridge
    0x0A04, 0x0C00, 0x0C04, 0x0C08, 0x0D00, 0x0D04,  // Haswell
    0x1600, 0x1604, 0x1608, 0x1610, 0x1614, 0x1618,  // Broadwell
    0x1900, 0x1904, 0x1908, 0x190C, 0x190F, 0x1910, 0x1918, 0x191F,  // Skylake
    0x2970, 0x2980, 0x2990, 0x29A0,  // 965 (Broadwater)
    0x29B0, 0x29C0, 0x29D0, 0x29E0, 0x29F0,  // 3 series (Q35 is 29C0 on QEMU)
    0x2A00, 0x2A10,  // Mobile 965 (Crestline)
    0x2A40, 0x2E00, 0x2E10, 0x2E20, 0x2E30, 0x2E40, 0x2E90,  // 4 series
    0x31F0,  // Gemini Lake
    0x3E0F, 0x3E10, 0x3E18, 0x3E1F, 0x3E30, 0x3E31, 0x3E32, 0x3E33, 0x3E34, 0x3E35,  // Coffee Lake
    0x3EC2, 0x3EC4, 0x3EC6, 0x3ECA, 0x3ED0,
    0x4629, 0x4630, 0x4640, 0x4641, 0x4660, 0x4668,  // Alder Lake
    0x5900, 0x5904, 0x590C, 0x590F, 0x5910, 0x5914, 0x5918, 0x591F,  // Kaby Lake
    0x5AF0,                                                          // Apollo Lake
    0x8A12, 0x8A14,                                                  // Ice Lake
    0x9A14, 0x9A26, 0x9A36,                                          // Tiger Lake
    0x9B33, 0x9B43, 0x9B44, 0x9B53, 0x9B54, 0x9B61, 0x9B63, 0x9B64,  // Comet Lake
    0xA000, 0xA010,                                                  // Pineview
    0xA703,                                                          // Raptor Lake
};

constexpr bool ascending_once() {
  for (size_t i = 1; i < sizeof kPciexbarHostBridges / sizeof kPciexbarHostBridges[0]; ++i) {
    if (kPciexbarHostBridges[i] <= kPciexbarHostBridges[i - 1]) return false;
  }
  return true;
}
static_assert(ascending_once(), "one row per device ID, ascending");

constexpr bool listed(uint16_t device) {
  for (uint16_t d : kPciexbarHostBridges) {
    if (d == device) return true;
  }
  return false;
}
static_assert(listed(0x29C0), "QEMU's Q35 host bridge");
static_assert(!listed(0x1237), "the i440FX holds DRAM row boundaries at 60h");

constexpr uint16_t kIntel = 0x8086;

// MCFG: the 36-byte header, 8 reserved bytes, then one 16-byte allocation
// per range: base address (64 bits), segment, first bus, last bus, 4
// reserved bytes.
constexpr uint32_t kMcfgAllocations = acpi::kHeaderLength + 8;
constexpr uint32_t kMcfgAllocationBytes = 16;
constexpr uint32_t kMcfgMaxLength = kMcfgAllocations + 256 * kMcfgAllocationBytes;

bool before(const ExtendedSpace& a, const ExtendedSpace& b) {
  return a.segment != b.segment ? a.segment < b.segment : a.first_bus < b.first_bus;
}

// Every allocation whose buses lie within the processor's reach, in order.
// False when the firmware has no MCFG at all.
bool from_mcfg(ExtendedSpaces& spaces) {
  const phys::Span mcfg = acpi::find_table("MCFG", kMcfgMaxLength);
  spaces.from_mcfg = true;
  for (uint64_t at = kMcfgAllocations; mcfg.holds(at, kMcfgAllocationBytes) && spaces.count < kMaxSpaces;
       at += kMcfgAllocationBytes) {
    const ExtendedSpace s = {mcfg.read_le(at, 8), static_cast<uint16_t>(mcfg.read_le(at + 8, 2)), mcfg.read8(at + 10),
                             mcfg.read8(at + 11)};
    // 1 MiB a bus, counted from the segment's bus 0.
    const uint64_t end = s.base + (static_cast<uint64_t>(s.last_bus) + 1) * 0x100000u;
    if (s.last_bus < s.first_bus || end < s.base || end - 1 > phys::highest_address()) continue;
    int i = spaces.count++;
    for (; i > 0 && before(s, spaces.at[i - 1]); --i) spaces.at[i] = spaces.at[i - 1];
    spaces.at[i] = s;
  }
  return mcfg.ok();
}

}  // namespace

const ExtendedSpace* ExtendedSpaces::find(uint16_t segment, uint8_t bus) const {
  for (int i = 0; i < count; ++i) {
    const ExtendedSpace& s = at[i];
    if (s.segment == segment && bus >= s.first_bus && bus <= s.last_bus) return &s;
  }
  return nullptr;
}

bool has_pciexbar(uint32_t id) {
  return hdr::Id::Vendor::get(id) == kIntel && listed(static_cast<uint16_t>(hdr::Id::Device::get(id)));
}

Pciexbar decode_pciexbar(uint32_t low, uint32_t high) {
  static constexpr int kBuses[] = {256, 128, 64};
  const uint32_t length = PciexbarLow::Length::get(low);
  if (PciexbarLow::Enable::get(low) == 0 || length >= sizeof kBuses / sizeof kBuses[0]) return Pciexbar{};
  const int buses = kBuses[length];
  // The base is aligned to the space: 1 MiB a bus.
  const uint64_t size = static_cast<uint64_t>(buses) << 20;
  const uint64_t base = ((uint64_t{high} << 32) | (low & PciexbarLow::Address::kMask)) & ~(size - 1);
  if (base == 0) return Pciexbar{};  // over the interrupt vectors and RAM: never set up
  return Pciexbar{true, base, buses};
}

Pciexbar read_pciexbar() {
  return decode_pciexbar(read<PciexbarLow>(kHostBridge), read<PciexbarHigh>(kHostBridge));
}

void find_extended_spaces(ExtendedSpaces& spaces) {
  spaces.count = 0;  // the ranges past it are never read
  if (from_mcfg(spaces)) return;
  spaces.from_mcfg = false;
  if (!has_pciexbar(read<hdr::Id>(kHostBridge))) return;
  const Pciexbar bar = read_pciexbar();
  if (!bar.present) return;
  spaces.count = 1;
  spaces.at[0] = ExtendedSpace{bar.base, 0, 0, static_cast<uint8_t>(bar.buses - 1)};
}

}  // namespace kvq::pci
