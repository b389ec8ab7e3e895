// The DXE services table (from the configuration table) as far as kvq
// calls it: GetMemorySpaceDescriptor, and the descriptor it fills.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include "platform/uefi/efi.h"

namespace kvq::efi {

inline constexpr Status kNotFound = kErrorBit | 14;

struct GcdMemorySpaceDescriptor {
  PhysicalAddress base_address;
  uint64_t length;
  uint64_t capabilities;
  uint64_t attributes;
  uint32_t gcd_memory_type;
  Handle image_handle;
  Handle device_handle;
};

struct DxeServices {
  TableHeader hdr;
  AnyFn add_memory_space;
  AnyFn allocate_memory_space;
  AnyFn free_memory_space;
  AnyFn remove_memory_space;
  Status (*get_memory_space_descriptor)(PhysicalAddress base_address, GcdMemorySpaceDescriptor* descriptor);
};

static_assert(offsetof(DxeServices, get_memory_space_descriptor) == 24 + 4 * sizeof(void*));
static_assert(offsetof(GcdMemorySpaceDescriptor, gcd_memory_type) == 32);

}  // namespace kvq::efi
