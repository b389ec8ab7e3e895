// The processor services of the hardware seam: CPUID, model-specific
// registers under a #GP guard, and the firmware's other processors.
//
// An MSR that a processor does not implement, or a value with reserved bits
// set, raises #GP; with nothing to catch it the firmware halts. So every MSR
// access here runs with a #GP handler installed through the firmware's CPU
// architectural protocol (vector 13) and removed right after: a refused
// access comes back as kRefused and changes nothing. The UEFI backend makes
// each step one rdmsr or wrmsr; the simulated board models the processors
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

// What the firmware says of a processor (GetProcessorInfo's status flags):
// one it disabled, or whose self-test failed, is never woken. The one kvq
// runs on is always kReady.
enum class CpuState : uint8_t { kReady, kDisabled, kUnhealthy };
CpuState cpu_state(uint32_t cpu);

// Runs `procedure(context)` on processor `cpu` and waits for it to return.
// On another processor the procedure may not call the firmware. False when
// it did not run: no such processor, no MP Services protocol, or the
// processor did not come back in time (the firmware's timeout).
bool run_on_cpu(uint32_t cpu, void (*procedure)(void* context), void* context);

enum class MsrStatus : uint8_t {
  kOk,
  kRefused,        // the processor raised #GP: nothing was read or written
  kNoCpuProtocol,  // no CPU architectural protocol to install a handler with
  kGuardRefused,   // the firmware refused a handler for vector 13
  kCpuDown,        // the processor could not be reached
  kNoApGuard,      // the processor's vector-13 gate is not the boot processor's
  kCpuSkipped,     // the firmware reports the processor disabled or unhealthy
};

// One step of a batch: an rdmsr, a wrmsr, or CPUID (subleaf 0), which on an
// Intel processor loads the microcode revision into MSR 8Bh.
enum class MsrOp : uint8_t { kRead, kWrite, kCpuid };
struct MsrStep {
  MsrOp op;
  uint32_t index;     // the MSR, or the CPUID leaf
  uint64_t value;     // written, or read (0 when refused)
  MsrStatus status;   // this step's own fault flag
};
inline constexpr int kMaxMsrSteps = 24;

// Runs `count` steps (at most kMaxMsrSteps) in order on processor `cpu`, in
// one procedure there: one wake-up for the whole batch, under one
// installation of the #GP guard. Each step has its own fault flag (kOk or
// kRefused). On another processor the procedure first compares that
// processor's IDT gate for vector 13 with the boot processor's: a processor
// with an exception table of its own would not reach kvq's handler, and an
// unguarded #GP resets the board, so where they differ no step runs
// (kNoApGuard). The result is kOk when the steps ran; otherwise none ran
// and it says why.
MsrStatus msr_batch(uint32_t cpu, MsrStep* steps, int count);

}  // namespace kvq::plat
