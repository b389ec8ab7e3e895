// The names of PCI capabilities as the PCI-SIG's Code and ID Assignment
// lists them, of the Advanced Error Reporting status bits, and the words
// of the PCI Express registers kvq decodes (link speeds, port types, ASPM
// states), as pciutils spells them so that a screen compares with lspci.
#pragma once
#include <stdint.h>

namespace kvq::cap_names {

struct CapName {
  uint16_t id;
  const char16_t* abbrev;  // at most kAbbrevChars: the PCIE page's panel
  const char16_t* name;    // at most kNameChars: the capability view
};

inline constexpr int kAbbrevChars = 6;
inline constexpr int kNameChars = 49;

// A standard (configuration space below 100h) or extended capability's
// names; null for an ID the lists do not hold.
const CapName* find(bool extended, uint16_t id);

// One bit of a status register and its name.
struct BitName {
  uint8_t bit;
  const char16_t* name;
};

inline constexpr int kBitNameChars = 16;

// AER's Uncorrectable and Correctable Error Status registers, low bit
// first; `count` gets the number of rows.
const BitName* aer_uncorrectable(int* count);
const BitName* aer_correctable(int* count);

// The gigatransfers a second of the Link Capabilities and Link Status speed
// codes 1 to 6 ("2.5" to "64"), "?" for any other; at most
// kSpeedChars.
inline constexpr int kSpeedChars = 3;
const char16_t* link_speed(uint32_t code);
// The PCI Express capability's Device/Port Type.
const char16_t* port_type(uint32_t type);
// Link Capabilities' ASPM Support and Link Control's ASPM Control.
const char16_t* aspm_support(uint32_t code);
const char16_t* aspm_control(uint32_t code);
// Power Management's PowerState field: D0, D1, D2, D3hot.
const char16_t* power_state(uint32_t state);

}  // namespace kvq::cap_names
