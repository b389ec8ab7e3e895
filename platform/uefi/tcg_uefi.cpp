// The TCG protocol, looked for through the boot services.
#include "platform/tcg.h"
#include "platform/uefi/efi.h"

namespace kvq::plat {
namespace {

constexpr efi::Guid kTcgProtocolGuid = {0xF541796D, 0xA62E, 0x4954, {0xA7, 0x75, 0x95, 0x84, 0xF6, 0x1B, 0x9C, 0xDD}};

}  // namespace

bool tpm12_present() {
  void* found = nullptr;
  return efi::g_system_table->boot_services->locate_protocol(&kTcgProtocolGuid, nullptr, &found) == efi::kSuccess &&
         found != nullptr;
}

}  // namespace kvq::plat
