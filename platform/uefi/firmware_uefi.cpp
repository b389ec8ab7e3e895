// Firmware services on UEFI, from the system table.
#include "platform/firmware.h"
#include "platform/uefi/efi.h"

namespace kvq::plat {

uint64_t config_table(const Guid& guid) {
  const efi::SystemTable* st = efi::g_system_table;
  for (uintptr_t i = 0; i < st->number_of_table_entries; ++i) {
    const efi::ConfigurationTable& entry = st->configuration_table[i];
    Guid g;
    const uint8_t* b = entry.vendor_guid;
    g.data1 = static_cast<uint32_t>(b[0] | b[1] << 8 | b[2] << 16 | static_cast<uint32_t>(b[3]) << 24);
    g.data2 = static_cast<uint16_t>(b[4] | b[5] << 8);
    g.data3 = static_cast<uint16_t>(b[6] | b[7] << 8);
    for (int k = 0; k < 8; ++k) g.data4[k] = b[8 + k];
    if (same_guid(g, guid)) return reinterpret_cast<uintptr_t>(entry.vendor_table);
  }
  return 0;
}

}  // namespace kvq::plat
