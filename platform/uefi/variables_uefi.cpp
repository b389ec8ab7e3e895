// The variable services on UEFI: one call of the runtime services table
// each, the status widened to the 64-bit form kvq keeps.
#include "platform/uefi/efi_variables.h"
#include "platform/variables.h"

namespace kvq::plat {
namespace {

efi::RuntimeServices* runtime() { return static_cast<efi::RuntimeServices*>(efi::g_system_table->runtime_services); }

EfiStatus widen(efi::Status s) {
  const efi::Status code = s & ~efi::kErrorBit;
  return (s & efi::kErrorBit) != 0 ? kEfiErrorBit | code : code;
}

}  // namespace

EfiStatus get_next_variable_name(size_t* name_size, char16_t* name, Guid* guid) {
  uintptr_t size = *name_size;
  const EfiStatus s = widen(runtime()->get_next_variable_name(&size, name, guid));
  *name_size = size;
  return s;
}

EfiStatus get_variable(const char16_t* name, const Guid& guid, uint32_t* attributes, size_t* data_size, void* data) {
  uintptr_t size = *data_size;
  const EfiStatus s = widen(runtime()->get_variable(name, &guid, attributes, &size, data));
  *data_size = size;
  return s;
}

EfiStatus set_variable(const char16_t* name, const Guid& guid, uint32_t attributes, size_t data_size,
                       const void* data) {
  return widen(runtime()->set_variable(name, &guid, attributes, data_size, data));
}

}  // namespace kvq::plat
