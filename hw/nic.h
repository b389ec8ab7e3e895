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

// Intel gigabit controllers: the receive address pair RAL0/RAH0, at 5400h
// of the register block in every family (the alias at 40h exists only on
// the oldest parts). A BAR0 that holds them spans 32 KiB at least, and a
// BAR is aligned to its size.
inline constexpr uint32_t kRal0 = 0x5400;
inline constexpr uint32_t kRah0 = 0x5404;
inline constexpr uint64_t kMinRegisterBlock = 0x8000;

// Where the address can be read: nowhere (not an Intel or Realtek
// Ethernet controller: no MAC line), nowhere that decodes now (the line
// says so), an Intel controller's register block in memory, or a Realtek
// controller's ports.
struct MacSource {
  enum Kind : uint8_t { kNone, kUnreadable, kIntelMemory, kRealtekPorts } kind = kNone;
  uint64_t base = 0;
};

// For an Intel or Realtek Ethernet controller (class 02h, subclass 00h, as
// the window already read shows it), from its Command register and BAR0
// (with BAR1 for a 64-bit one), read afresh. Intel registers are used only
// when BAR0 is a memory BAR the function decodes (Command.MSE), Realtek
// ports only when it decodes I/O (Command.IOSE).
MacSource mac_source(const pci::Bdf& f, const RegisterWindow& window);

// The six bytes of the address, first byte first. False when they could
// not be read (the page tables do not map the register block).
bool read_mac(const MacSource& source, uint8_t (&mac)[6]);

}  // namespace kvq::nic
