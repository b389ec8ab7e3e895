// Walking the firmware's handles: every handle that carries a protocol, and
// the PCI function a handle's PCI I/O protocol names.
#pragma once
#include <stdint.h>

#include "platform/ata.h"
#include "platform/uefi/efi.h"

namespace kvq::efi {

inline PciIoProtocol* pci_io_of(Handle handle) {
  void* io = nullptr;
  if (g_system_table->boot_services->handle_protocol(handle, &kPciIoProtocolGuid, &io) != kSuccess) return nullptr;
  return static_cast<PciIoProtocol*>(io);
}

// All ones where the handle has no PCI I/O, or it cannot say.
inline plat::PciLocation location_of(PciIoProtocol* io) {
  uintptr_t seg = 0, bus = 0, dev = 0, fn = 0;
  if (io == nullptr || io->get_location(io, &seg, &bus, &dev, &fn) != kSuccess) return {0xFFFF, 0xFF, 0xFF, 0xFF};
  return {static_cast<uint16_t>(seg), static_cast<uint8_t>(bus), static_cast<uint8_t>(dev), static_cast<uint8_t>(fn)};
}

// Calls take(handle, interface) for each handle that carries `protocol`,
// until it returns false.
template <class Take>
void for_each_handle(const Guid& protocol, Take take) {
  BootServices* bs = g_system_table->boot_services;
  uintptr_t count = 0;
  Handle* handles = nullptr;
  if (bs->locate_handle_buffer(kByProtocol, &protocol, nullptr, &count, &handles) != kSuccess) return;
  for (uintptr_t i = 0; i < count; ++i) {
    void* interface = nullptr;
    if (bs->handle_protocol(handles[i], &protocol, &interface) == kSuccess && !take(handles[i], interface)) break;
  }
  bs->free_pool(handles);
}

}  // namespace kvq::efi
