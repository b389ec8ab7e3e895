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

namespace kvq::plat {

uint32_t allocate_pages_below_4g(uint32_t pages) {
  efi::PhysicalAddress address = 0xFFFFFFFFu;  // the highest address allowed
  const efi::Status status = efi::g_system_table->boot_services->allocate_pages(efi::kAllocateMaxAddress,
                                                                                efi::kLoaderData, pages, &address);
  if (status != efi::kSuccess || address > 0xFFFFFFFFu) return 0;
  return static_cast<uint32_t>(address);
}

void free_pages(uint32_t address, uint32_t pages) { efi::g_system_table->boot_services->free_pages(address, pages); }

uintptr_t raise_tpl(uintptr_t tpl) { return efi::g_system_table->boot_services->raise_tpl(tpl); }

void restore_tpl(uintptr_t old_tpl) { efi::g_system_table->boot_services->restore_tpl(old_tpl); }

}  // namespace kvq::plat
