// The firmware's variable services (GetNextVariableName, GetVariable,
// SetVariable), one firmware call each. The UEFI backend calls the runtime
// services table; the simulated board answers from its variable store model.
// Statuses come back in one form on both processors: the error flag in bit
// 63 (IA-32 firmware returns it in bit 31) and the code below it.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include "platform/efi_status.h"
#include "platform/firmware.h"

namespace kvq::plat {

// EfiStatus and the status codes: platform/efi_status.h.

// Variable attributes.
inline constexpr uint32_t kVarNonVolatile = 0x01;
inline constexpr uint32_t kVarBootService = 0x02;
inline constexpr uint32_t kVarRuntime = 0x04;
inline constexpr uint32_t kVarHardwareError = 0x08;
inline constexpr uint32_t kVarAuthenticatedWrite = 0x10;    // count-based, deprecated
inline constexpr uint32_t kVarTimeAuthenticatedWrite = 0x20;
inline constexpr uint32_t kVarAppendWrite = 0x40;
inline constexpr uint32_t kVarEnhancedAuthenticatedAccess = 0x80;

// GetNextVariableName: `*name_size` bytes of `name` hold the previous name
// (an empty one to start) on entry and the next on return, with its vendor
// GUID; EFI_BUFFER_TOO_SMALL sets *name_size to what the next one needs.
EfiStatus get_next_variable_name(size_t* name_size, char16_t* name, Guid* guid);

// GetVariable: the attributes and `*data_size` bytes of data;
// EFI_BUFFER_TOO_SMALL sets *data_size to the variable's size. `data` may
// be null with a size of 0.
EfiStatus get_variable(const char16_t* name, const Guid& guid, uint32_t* attributes, size_t* data_size, void* data);

// SetVariable. A size of 0 deletes the variable: callers never pass it.
EfiStatus set_variable(const char16_t* name, const Guid& guid, uint32_t attributes, size_t data_size,
                       const void* data);

}  // namespace kvq::plat
