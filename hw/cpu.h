// The processors: what CPUID says a processor is, its model-specific
// registers under the #GP guard, and every CPUID leaf for a dump. Each
// call names the processor (the firmware's MP Services numbering) and runs
// there.
#pragma once
#include <stdint.h>

#include "platform/cpu.h"

namespace kvq::cpu {

inline constexpr uint32_t kApicBase = 0x1B;
inline constexpr uint32_t kBiosSignId = 0x8B;  // microcode revision

// What CPUID leaves 0, 1 and 80000002h to 80000004h say, and the microcode
// revision.
struct Identity {
  bool reached = false;  // the processor ran CPUID
  char vendor[13] = {};
  char brand[49] = {};  // printable ASCII, leading blanks removed
  uint32_t family = 0;  // with the extended family and model folded in
  uint32_t model = 0;
  uint32_t stepping = 0;
  plat::MsrStatus microcode_status = plat::MsrStatus::kCpuDown;
  uint32_t microcode = 0;
};

// Reads MSR 8Bh the way the vendor documents it: an AMD processor holds the
// patch level in bits 31:0; an Intel processor fills bits 63:32 when CPUID
// leaf 1 runs after 0 is written to the register.
Identity identify(uint32_t cpu);

struct MsrValue {
  plat::MsrStatus status = plat::MsrStatus::kCpuDown;
  uint64_t value = 0;
};

// Why an MSR access was not made or was refused, for a message ("" for
// kOk): at most kMaxStatusText characters.
inline constexpr int kMaxStatusText = 54;
const char16_t* status_text(plat::MsrStatus status);

// The processors kvq can reach (processor 0 alone without MP Services),
// and the one it runs on.
inline uint32_t processor_count() { return plat::cpu_count(); }
inline uint32_t this_processor() { return plat::this_cpu(); }

// One MSR, read or written on processor `cpu` under the #GP guard.
MsrValue read_msr(uint32_t cpu, uint32_t index);
inline plat::MsrStatus write_msr(uint32_t cpu, uint32_t index, uint64_t value) {
  return plat::msr_write(cpu, index, value);
}

// `count` MSRs from `base` up (wrapping at 2^32), each its own guarded
// access. Where the guard itself cannot be had, nothing more is tried: the
// remaining entries get that status.
void read_msrs(uint32_t cpu, uint32_t base, MsrValue* out, int count);

// CPUID of processor `cpu`; false in *reached when it could not be run.
plat::CpuidRegs cpuid_on(uint32_t cpu, uint32_t leaf, uint32_t subleaf, bool* reached);

struct Leaf {
  uint32_t leaf;
  uint32_t subleaf;
  plat::CpuidRegs regs;
};

// Every leaf of the basic and extended ranges up to their maximum leaves,
// and the subleaves of the leaves that have them, each to its stated or
// zero-terminated end (at most 64 per leaf), in ascending order. False when
// the processor could not be reached.
bool each_leaf(uint32_t cpu, void (*emit)(void* context, const Leaf& leaf), void* context);

}  // namespace kvq::cpu
