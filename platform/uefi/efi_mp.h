// What GetProcessorInfo of the MP Services protocol (PI, DXE) fills in:
// kvq reads one processor's status flags.
#pragma once
#include <stddef.h>
#include <stdint.h>

#include "platform/uefi/efi.h"

namespace kvq::efi {

// EFI_PROCESSOR_INFORMATION with room for the extended location (PI 1.7):
// firmware that fills the extended fields writes 48 bytes, older firmware 24.
struct ProcessorInformation {
  uint64_t processor_id;
  uint32_t status_flag;
  uint32_t location[3];           // package, core, thread
  uint32_t extended_location[6];  // package, module, tile, die, core, thread
};
static_assert(offsetof(ProcessorInformation, status_flag) == 8);
static_assert(sizeof(ProcessorInformation) == 48);

inline constexpr uint32_t kProcessorAsBsp = 1u << 0;
inline constexpr uint32_t kProcessorEnabled = 1u << 1;
inline constexpr uint32_t kProcessorHealthy = 1u << 2;

}  // namespace kvq::efi
