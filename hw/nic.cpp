#include "hw/nic.h"

#include "hw/memio.h"
#include "platform/hw.h"

namespace kvq::nic {
namespace {

using Bar0 = pci::hdr::Bar0;
using Command = pci::hdr::Command;

constexpr uint8_t kClassNetwork = 0x02;
constexpr uint8_t kSubClassEthernet = 0x00;
constexpr uint32_t kBar32 = 0;
constexpr uint32_t kBar64 = 2;

// An Intel controller's registers behind a memory BAR0, 32 or 64 bits wide,
// in 64-bit arithmetic: a BAR near 4 GiB must not wrap to the real-mode
// vector table. An address of 0 (never assigned), all ones (a function that
// stopped answering) or one not aligned to a register block is none.
bool intel_registers(const pci::Bdf& f, uint32_t bar0, uint64_t* base) {
  const uint32_t type = Bar0::MemoryType::get(bar0);
  if (Bar0::IoSpace::get(bar0) != 0 || (type != kBar32 && type != kBar64)) return false;
  const uint64_t high = type == kBar64 ? pci::read<pci::hdr::Bar<1>>(f) : 0;
  *base = (high << 32) | (bar0 & Bar0::MemoryAddress::kMask);
  return *base != 0 && *base % kMinRegisterBlock == 0 && high != 0xFFFFFFFFu;
}

// A Realtek controller's behind an I/O BAR0 whose address holds all six
// station address ports below 64 KiB. An unassigned BAR (0) would read the
// legacy DMA controller's ports 0 to 5, and a read there flips its byte
// pointer.
bool realtek_ports(uint32_t bar0, uint64_t* base) {
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
  source.kind = MacSource::kUnreadable;
  // A function that does not decode its BAR leaves the addresses to
  // whatever else answers there.
  const uint32_t command = pci::read<Command>(f);
  const uint32_t bar0 = pci::read<Bar0>(f);
  if (vendor == kVendorIntel) {
    if (Command::MemorySpace::get(command) != 0 && intel_registers(f, bar0, &source.base)) {
      source.kind = MacSource::kIntelMemory;
    }
  } else if (Command::IoSpace::get(command) != 0 && realtek_ports(bar0, &source.base)) {
    source.kind = MacSource::kRealtekPorts;
  }
  return source;
}

bool read_mac(const MacSource& source, uint8_t (&mac)[6]) {
  if (source.kind == MacSource::kIntelMemory) {
    // Intel network controllers decode their registers only as whole
    // dwords: the pair is read with two 32-bit loads.
    uint32_t ral = 0;
    uint32_t rah = 0;
    if (!memio::read_memory(source.base + kRal0, 4, &ral) || !memio::read_memory(source.base + kRah0, 4, &rah)) {
      return false;
    }
    for (int i = 0; i < 4; ++i) mac[i] = static_cast<uint8_t>(ral >> (8 * i));
    mac[4] = static_cast<uint8_t>(rah);
    mac[5] = static_cast<uint8_t>(rah >> 8);
    return true;
  }
  if (source.kind == MacSource::kRealtekPorts) {
    // The RTL8139 family keeps the address in its first six I/O registers,
    // which it lets be read byte by byte.
    for (int i = 0; i < 6; ++i) mac[i] = plat::port_in8(static_cast<uint16_t>(source.base + static_cast<uint32_t>(i)));
    return true;
  }
  return false;
}

}  // namespace kvq::nic
