// Simulated processors: QEMU's qemu64 as TCG runs it under OVMF, and an
// Intel desktop part. Each implements a set of MSRs and raises #GP on the
// rest; the AP of a pair differs from the BSP in its APIC ID and the
// APIC base's BSP flag.
#pragma once
#include <stdint.h>

#include "platform/sim/board.h"

namespace kvq::sim {

// QEMU's default x86-64 processor ("QEMU Virtual CPU version 2.5+",
// AuthenticAMD family 0Fh model 6Bh): its CPUID leaves as kvq's dump read
// them on QEMU 7.2.
SimCpu qemu64_cpu(uint32_t apic_id);
// "Intel(R) Core(TM) i7-8700 CPU @ 3.20GHz", family 06h model 9Eh stepping
// Ah, microcode F4h, IA32_FEATURE_CONTROL locked.
SimCpu intel_cpu(uint32_t apic_id);

// `count` processors made by `make`, processor 0 the BSP.
void set_cpus(Board& board, SimCpu (*make)(uint32_t apic_id), int count);

}  // namespace kvq::sim
