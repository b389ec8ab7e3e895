#include "hw/sata.h"

#include "hw/pci.h"
#include "platform/console.h"
#include "platform/hw.h"

namespace kvq::sata {

int mode_query() {
  plat::port_out32(pci::kAddressPort, pci::config_address(0, 31, 2) + 0x90);
  const uint32_t dword = plat::port_in32(pci::kDataPort);
  con::print(u"%08X\n", dword);
  const uint8_t low = plat::port_in8(pci::kDataPort);
  con::print(u"%02X\n", low);
  const uint32_t mode_bits = plat::port_in32(pci::kDataPort) & 0xC0u;
  con::print(u"%02X\n", mode_bits);
  return static_cast<int>(mode_bits >> 6);
}

}  // namespace kvq::sata
