// The processor services of the hardware seam: CPUID, model-specific
// registers under a #GP guard, and the firmware's other processors.
//
// An MSR that a processor does not implement, or a value with reserved bits
// set, raises #GP; with nothing to catch it the firmware halts. So every MSR
// access here runs with a #GP handler installed through the firmware's CPU
// architectural protocol (vector 13) and removed right after: a refused
// access comes back as kRefused and changes nothing. The UEFI backend makes
// each call one rdmsr or wrmsr; the simulated board models the processors
// and logs every access and every handler installed and removed.
#pragma once
#include <stdint.h>

namespace kvq::plat {

struct CpuidRegs {
  uint32_t eax;
  uint32_t ebx;
  uint32_t ecx;
  uint32_t edx;
};

// CPUID on the processor that runs the call (inside run_on_cpu, that one).
CpuidRegs cpuid(uint32_t leaf, uint32_t subleaf);

// The processors the firmware runs, numbered as its MP Services protocol
// numbers them; 1 where it has no such protocol. And the one kvq runs on.
uint32_t cpu_count();
uint32_t this_cpu();

// Runs `procedure(context)` on processor `cpu` and waits for it to return.
// On another processor the procedure may not call the firmware. False when
// it did not run: no such processor, no MP Services protocol, or the
// processor did not come back in time.
bool run_on_cpu(uint32_t cpu, void (*procedure)(void* context), void* context);

enum class MsrStatus : uint8_t {
  kOk,
  kRefused,        // the processor raised #GP: nothing was read or written
  kNoCpuProtocol,  // no CPU architectural protocol to install a handler with
  kGuardRefused,   // the firmware refused a handler for vector 13
  kCpuDown,        // the processor could not be reached
};

// One rdmsr or wrmsr on processor `cpu`, the #GP handler installed before
// it and removed after it. Without the guard nothing is accessed. A refused
// read gives 0.
MsrStatus msr_read(uint32_t cpu, uint32_t index, uint64_t* value);
MsrStatus msr_write(uint32_t cpu, uint32_t index, uint64_t value);

}  // namespace kvq::plat
