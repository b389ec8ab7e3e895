#include "hw/nic.h"

#include "hw/phys.h"
#include "platform/hw.h"

namespace kvq::nic {
namespace {

using Bar0 = pci::hdr::Bar0;

constexpr uint8_t kClassNetwork = 0x02;
constexpr uint8_t kSubClassEthernet = 0x00;

// Intel: the receive address pair RAL0/RAH0 of the register block, at 40h
// and 44h.
constexpr uint32_t kRal0 = 0x40;

// An Intel controller's registers lie behind a memory BAR0. Its flag bits
// are cleared so a 64-bit or prefetchable BAR gives its address. An address
// of 0 (never assigned) or all ones (a function that stopped answering)
// points at no register block.
bool intel_registers(uint32_t bar0, uint32_t* base) {
  *base = bar0 & Bar0::MemoryAddress::kMask;
  return Bar0::IoSpace::get(bar0) == 0 && *base != 0 && *base != Bar0::MemoryAddress::kMask;
}

// A Realtek controller's behind an I/O BAR0 whose address holds all six
// station address ports below 64 KiB. An unassigned BAR (0) would read the
// legacy DMA controller's ports 0 to 5, and a read there flips its byte
// pointer.
bool realtek_ports(uint32_t bar0, uint32_t* base) {
  *base = bar0 & Bar0::IoAddress::kMask;
  return Bar0::IoSpace::get(bar0) != 0 && *base != 0 && *base <= 0xFFFFu - 5;
}

}  // namespace

MacSource mac_source(const pci::Bdf& f, const RegisterWindow& w) {
  MacSource source;
  const bool ethernet = w.reg<pci::hdr::BaseClass>() == kClassNetwork &&
                        w.reg<pci::hdr::SubClass>() == kSubClassEthernet;
  const uint32_t vendor = w.reg<pci::hdr::VendorId>();
  if (!ethernet || (vendor != kVendorIntel && vendor != kVendorRealtek)) return source;
  const uint32_t bar0 = pci::read<Bar0>(f);
  if (vendor == kVendorIntel ? intel_registers(bar0, &source.base) : realtek_ports(bar0, &source.base)) {
    source.kind = vendor == kVendorIntel ? MacSource::kIntelMemory : MacSource::kRealtekPorts;
  }
  return source;
}

void read_mac(const MacSource& source, uint8_t (&mac)[6]) {
  if (source.kind == MacSource::kIntelMemory) {
    // Intel network controllers decode their registers only as whole
    // dwords: the pair is read with two 32-bit loads.
    const phys::Span pair(source.base + kRal0, 8);
    const uint32_t ral = pair.read32(0);
    const uint32_t rah = pair.read32(4);
    for (int i = 0; i < 4; ++i) mac[i] = static_cast<uint8_t>(ral >> (8 * i));
    mac[4] = static_cast<uint8_t>(rah);
    mac[5] = static_cast<uint8_t>(rah >> 8);
  } else if (source.kind == MacSource::kRealtekPorts) {
    // The RTL8139 family keeps the address in its first six I/O registers,
    // which it lets be read byte by byte.
    for (int i = 0; i < 6; ++i) mac[i] = plat::port_in8(static_cast<uint16_t>(source.base + static_cast<uint32_t>(i)));
  }
}

}  // namespace kvq::nic
