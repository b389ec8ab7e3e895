// The memory space map on UEFI: GetMemorySpaceDescriptor of the DXE
// services table that the firmware lists in its configuration table.
#include "platform/memory_space.h"
#include "platform/uefi/efi_dxe.h"

namespace kvq::plat {

GcdType memory_space_type(uint64_t address) {
  const uint64_t table = config_table(kDxeServicesTableGuid);
  if (table == 0) return GcdType::kNoMap;
  const auto* dxe = reinterpret_cast<const efi::DxeServices*>(static_cast<uintptr_t>(table));
  efi::GcdMemorySpaceDescriptor d{};
  const efi::Status status = dxe->get_memory_space_descriptor(address, &d);
  if (status == efi::kNotFound) return GcdType::kNonExistent;
  if (status != efi::kSuccess) return GcdType::kNoMap;
  return static_cast<GcdType>(d.gcd_memory_type);
}

}  // namespace kvq::plat
