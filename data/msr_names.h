// Names of the architectural model-specific registers: the IA32_* MSRs of
// Intel's Software Developer's Manual, volume 4, and the AMD64 ones from
// C000_0080h up of AMD's Programmer's Manual, volume 2. Model-specific
// registers proper (one family's, one model's) are not named.
#pragma once
#include <stdint.h>

namespace kvq::data {

// The longest name, digits filled in: it fits the CPU page's row after the
// index and the value.
inline constexpr int kMaxMsrName = 32;

// Writes the name of MSR `index` into `out` (kMaxMsrName + 1 characters) and
// returns true, or returns false when the index has no architectural name.
bool msr_name(uint32_t index, char* out);

}  // namespace kvq::data
