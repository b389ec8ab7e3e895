// ATA through the firmware's ATA Pass Thru protocol, and bus-master windows
// through the PCI I/O protocol of the controller's function.
#include "platform/ata.h"
#include "platform/uefi/efi.h"
#include "platform/uefi/efi_ata.h"
#include "platform/uefi/handles.h"

namespace kvq::plat {
namespace {

constinit efi::AtaPassThruProtocol* g_pass_thru[kMaxAtaControllers] = {};
constinit int g_count = 0;

constexpr uint8_t kIdentifyDevice = 0xEC;
constexpr uint32_t kIdentifyBytes = 512;
constexpr uint32_t kStatusBlockAt = 2048;
constexpr uint64_t kTimeout100ns = 10 * 1000 * 1000;  // 1 s
// The device register: LBA mode and the obsolete bits 7 and 5 set.
constexpr uint8_t kDeviceHead = 0xE0;

efi::AtaPassThruProtocol* instance(int controller) {
  return controller >= 0 && controller < g_count ? g_pass_thru[controller] : nullptr;
}

}  // namespace

int ata_controllers(AtaController (&out)[kMaxAtaControllers]) {
  g_count = 0;
  efi::for_each_handle(efi::kAtaPassThruProtocolGuid, [&](efi::Handle handle, void* interface) {
    auto* p = static_cast<efi::AtaPassThruProtocol*>(interface);
    out[g_count] = {efi::location_of(efi::pci_io_of(handle)), p->mode != nullptr ? p->mode->io_align : 0};
    g_pass_thru[g_count++] = p;
    return g_count < kMaxAtaControllers;
  });
  return g_count;
}

bool ata_next_port(int controller, uint16_t* port) {
  efi::AtaPassThruProtocol* p = instance(controller);
  return p != nullptr && p->get_next_port(p, port) == efi::kSuccess;
}

bool ata_next_device(int controller, uint16_t port, uint16_t* multiplier_port) {
  efi::AtaPassThruProtocol* p = instance(controller);
  return p != nullptr && p->get_next_device(p, port, multiplier_port) == efi::kSuccess;
}

bool ata_identify(int controller, uint16_t port, uint16_t multiplier_port, uint32_t buffer) {
  efi::AtaPassThruProtocol* p = instance(controller);
  if (p == nullptr || buffer == 0 || (p->mode != nullptr && p->mode->io_align > kStatusBlockAt)) return false;
  efi::AtaCommandBlock acb = {};
  acb.command = kIdentifyDevice;
  acb.device_head = kDeviceHead;
  efi::AtaCommandPacket packet = {};
  packet.asb = reinterpret_cast<efi::AtaStatusBlock*>(static_cast<uintptr_t>(buffer) + kStatusBlockAt);
  packet.acb = &acb;
  packet.timeout = kTimeout100ns;
  packet.in_data_buffer = reinterpret_cast<void*>(static_cast<uintptr_t>(buffer));
  packet.in_transfer_length = kIdentifyBytes;
  packet.protocol = efi::kAtaProtocolPioDataIn;
  packet.length = efi::kAtaLengthBytes | efi::kAtaLengthSectorCount;
  return p->pass_thru(p, port, multiplier_port, &packet, nullptr) == efi::kSuccess;
}

bool dma_map_for_device_writes(const PciLocation& where, uint32_t host, uint32_t bytes, DmaMapping* out) {
  efi::PciIoProtocol* io = nullptr;
  efi::for_each_handle(efi::kPciIoProtocolGuid, [&](efi::Handle, void* interface) {
    auto* candidate = static_cast<efi::PciIoProtocol*>(interface);
    if (efi::location_of(candidate) == where) io = candidate;
    return io == nullptr;
  });
  if (io == nullptr) return false;
  uintptr_t length = bytes;
  efi::PhysicalAddress device = 0;
  void* mapping = nullptr;
  if (reinterpret_cast<efi::PciIoMap>(io->map)(io, efi::kPciIoBusMasterWrite,
                                               reinterpret_cast<void*>(static_cast<uintptr_t>(host)), &length, &device,
                                               &mapping) != efi::kSuccess) {
    return false;
  }
  *out = DmaMapping{device, io, mapping};
  // A window shorter than asked would let the controller write past it.
  if (length < bytes) {
    dma_unmap(*out);
    return false;
  }
  return true;
}

void dma_unmap(const DmaMapping& m) {
  auto* io = static_cast<efi::PciIoProtocol*>(m.pci_io);
  if (io != nullptr) reinterpret_cast<efi::PciIoUnmap>(io->unmap)(io, m.mapping);
}

}  // namespace kvq::plat
