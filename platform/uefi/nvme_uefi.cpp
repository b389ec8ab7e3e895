// NVM Express through the firmware's NVM Express Pass Thru protocol: the
// firmware's driver owns the controller's queues, so kvq hands it a command
// packet and waits for the driver to run it.
#include "platform/firmware.h"
#include "platform/uefi/efi.h"

namespace kvq::plat {
namespace {

constinit efi::NvmePassThruProtocol* g_pass_thru[kMaxNvmeControllers] = {};
constinit int g_count = 0;

constexpr uint8_t kAdminIdentify = 0x06;
constexpr uint32_t kIdentifyBytes = 4096;
constexpr uint64_t kTimeout100ns = 10 * 1000 * 1000;  // 1 s

}  // namespace

int nvme_controllers(NvmeController (&out)[kMaxNvmeControllers]) {
  efi::BootServices* bs = efi::g_system_table->boot_services;
  uintptr_t count = 0;
  efi::Handle* handles = nullptr;
  g_count = 0;
  if (bs->locate_handle_buffer(efi::kByProtocol, &efi::kNvmePassThruProtocolGuid, nullptr, &count, &handles) !=
      efi::kSuccess) {
    return 0;
  }
  for (uintptr_t i = 0; i < count && g_count < kMaxNvmeControllers; ++i) {
    void* pass_thru = nullptr;
    if (bs->handle_protocol(handles[i], &efi::kNvmePassThruProtocolGuid, &pass_thru) != efi::kSuccess) continue;
    NvmeController c = {0xFFFF, 0xFF, 0xFF, 0xFF};
    void* io = nullptr;
    uintptr_t seg = 0, bus = 0, dev = 0, fn = 0;
    if (bs->handle_protocol(handles[i], &efi::kPciIoProtocolGuid, &io) == efi::kSuccess) {
      auto* pci = static_cast<efi::PciIoProtocol*>(io);
      if (pci->get_location(pci, &seg, &bus, &dev, &fn) == efi::kSuccess) {
        c = {static_cast<uint16_t>(seg), static_cast<uint8_t>(bus), static_cast<uint8_t>(dev), static_cast<uint8_t>(fn)};
      }
    }
    out[g_count] = c;
    g_pass_thru[g_count++] = static_cast<efi::NvmePassThruProtocol*>(pass_thru);
  }
  bs->free_pool(handles);
  return g_count;
}

bool nvme_next_namespace(int controller, uint32_t* nsid) {
  if (controller < 0 || controller >= g_count) return false;
  efi::NvmePassThruProtocol* p = g_pass_thru[controller];
  return p->get_next_namespace(p, nsid) == efi::kSuccess;
}

bool nvme_identify(int controller, uint32_t nsid, uint32_t cns, uint32_t buffer) {
  if (controller < 0 || controller >= g_count || buffer == 0) return false;
  efi::NvmePassThruProtocol* p = g_pass_thru[controller];
  efi::NvmeCommand command = {};
  command.cdw0 = kAdminIdentify;
  command.flags = efi::kNvmeCdw10Valid;
  command.nsid = nsid;
  command.cdw10 = cns;
  efi::NvmeCompletion completion = {};
  efi::NvmeCommandPacket packet = {};
  packet.command_timeout = kTimeout100ns;
  packet.transfer_buffer = reinterpret_cast<void*>(static_cast<uintptr_t>(buffer));
  packet.transfer_length = kIdentifyBytes;
  packet.queue_type = 0;
  packet.command = &command;
  packet.completion = &completion;
  // Only Identify Namespace is addressed to a namespace; the controller
  // and its namespace list to the controller (namespace 0).
  return p->pass_thru(p, cns == 0 ? nsid : 0, &packet, nullptr) == efi::kSuccess;
}

}  // namespace kvq::plat
