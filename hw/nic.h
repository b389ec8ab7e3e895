// The station (MAC) address of the Ethernet controllers whose registers kvq
// knows: Intel's, behind a memory BAR0, and Realtek's RTL8139 family,
// behind an I/O BAR0.
#pragma once
#include <stdint.h>

#include "hw/pci.h"
#include "hw/window.h"

namespace kvq::nic {

inline constexpr uint16_t kVendorIntel = 0x8086;
inline constexpr uint16_t kVendorRealtek = 0x10EC;

// Where the address can be read: nowhere, an Intel controller's register
// block in memory, or a Realtek controller's ports.
struct MacSource {
  enum Kind : uint8_t { kNone, kIntelMemory, kRealtekPorts } kind = kNone;
  uint32_t base = 0;
};

// For an Intel or Realtek Ethernet controller (class 02h, subclass 00h, as
// the window already read shows it) whose BAR0, read afresh, leads to its
// registers; kNone otherwise.
MacSource mac_source(const pci::Bdf& f, const RegisterWindow& window);

// The six bytes of the address, first byte first.
void read_mac(const MacSource& source, uint8_t (&mac)[6]);

}  // namespace kvq::nic
