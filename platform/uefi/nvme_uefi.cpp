// NVM Express through the firmware's NVM Express Pass Thru protocol: the
// firmware's driver owns the controller's queues, so kvq hands it a command
// packet and waits for the driver to run it.
#include "platform/firmware.h"
#include "platform/uefi/efi.h"
#include "platform/uefi/handles.h"

namespace kvq::plat {
namespace {

constinit efi::NvmePassThruProtocol* g_pass_thru[kMaxNvmeControllers] = {};
constinit int g_count = 0;

constexpr uint8_t kAdminIdentify = 0x06;
constexpr uint32_t kIdentifyBytes = 4096;
constexpr uint64_t kTimeout100ns = 10 * 1000 * 1000;  // 1 s

}  // namespace

int nvme_controllers(NvmeController (&out)[kMaxNvmeControllers]) {
  g_count = 0;
  efi::for_each_handle(efi::kNvmePassThruProtocolGuid, [&](efi::Handle handle, void* interface) {
    const PciLocation at = efi::location_of(efi::pci_io_of(handle));
    out[g_count] = {at.segment, at.bus, at.device, at.function};
    g_pass_thru[g_count++] = static_cast<efi::NvmePassThruProtocol*>(interface);
    return g_count < kMaxNvmeControllers;
  });
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
