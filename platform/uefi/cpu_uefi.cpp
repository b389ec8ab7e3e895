// The processor services on UEFI. CPUID and MSR accesses are single
// instructions; other processors are reached through the firmware's MP
// Services protocol; the #GP guard is a handler for vector 13 installed
// through the CPU architectural protocol around each batch of MSR accesses.
//
// RegisterInterruptHandler fills the firmware's one handler table, which
// the common entry code behind every IDT gate dispatches from. An
// application processor takes its exceptions through its own IDTR: EDK2's
// MP code loads a copy of the boot processor's IDT there, whose gates lead
// to the same entry code, so kvq's handler also catches a #GP raised on it.
// Another MP driver need not do so; each batch on another processor
// therefore first compares that processor's gate for vector 13 with the
// boot processor's, and makes no access where they differ.
#include "platform/cpu.h"
#include "platform/uefi/efi.h"
#include "platform/uefi/efi_mp.h"

namespace kvq::plat {
namespace {

constexpr uint8_t kTwoByteOpcode = 0x0F;
constexpr uint8_t kWrmsrOpcode = 0x30;
constexpr uint8_t kRdmsrOpcode = 0x32;
// A procedure on another processor that has not returned by then is taken
// as lost; the firmware resets that processor.
constexpr uintptr_t kProcedureTimeoutUs = 2000000;

// Set while the guard is installed, and by the handler when it stepped
// over a refused access. Volatile: the handler writes it behind the
// compiler's back, possibly from another processor.
constinit volatile bool g_armed = false;
constinit volatile bool g_refused = false;

// The firmware's protocols, looked up once; `looked_up` tells an absent
// protocol from one not yet asked for.
struct Protocols {
  bool looked_up = false;
  efi::CpuArchProtocol* cpu_arch = nullptr;
  efi::MpServicesProtocol* mp = nullptr;
  uint32_t count = 1;
  uint32_t self = 0;
};
constinit Protocols g_protocols;

const Protocols& protocols() {
  Protocols& p = g_protocols;
  if (p.looked_up) return p;
  p.looked_up = true;
  efi::BootServices* bs = efi::g_system_table->boot_services;
  void* found = nullptr;
  if (bs->locate_protocol(&efi::kCpuArchProtocolGuid, nullptr, &found) == efi::kSuccess) {
    p.cpu_arch = static_cast<efi::CpuArchProtocol*>(found);
  }
  found = nullptr;
  uintptr_t total = 0;
  uintptr_t enabled = 0;
  uintptr_t self = 0;
  if (bs->locate_protocol(&efi::kMpServicesProtocolGuid, nullptr, &found) == efi::kSuccess && found != nullptr) {
    auto* mp = static_cast<efi::MpServicesProtocol*>(found);
    if (mp->get_number_of_processors(mp, &total, &enabled) == efi::kSuccess && total >= 1 &&
        mp->who_am_i(mp, &self) == efi::kSuccess && self < total) {
      p.mp = mp;
      p.count = static_cast<uint32_t>(total);
      p.self = static_cast<uint32_t>(self);
    }
  }
  return p;
}

// The #GP handler. A refused rdmsr or wrmsr leaves the instruction pointer
// on the instruction (0F 32 or 0F 30); stepping over its two bytes resumes
// the program as if the access had been made. Any other #GP is not kvq's:
// nothing is known about it, so the processor stops as the firmware's own
// handler would stop it.
void gp_handler(efi::ExceptionType, efi::SystemContext context) {
#if defined(__x86_64__)
  uint64_t& ip = context.x64->rip;
#else
  uint32_t& ip = context.ia32->eip;
#endif
  const auto* code = reinterpret_cast<const volatile uint8_t*>(static_cast<uintptr_t>(ip));
  if (g_armed && code[0] == kTwoByteOpcode && (code[1] == kRdmsrOpcode || code[1] == kWrmsrOpcode)) {
    ip += 2;
    g_refused = true;
    return;
  }
  for (;;) asm volatile("cli; hlt");
}

// The exception table's gate for vector 13 on the processor that runs
// this: 16 bytes in long mode, 8 in protected mode. False when the IDT is
// too short to hold it.
struct Gate {
  uint64_t low;
  uint64_t high;
};
constexpr uintptr_t kGateBytes = sizeof(void*) == 8 ? 16 : 8;
constexpr uintptr_t kGpVector = efi::kExceptGpFault;

bool read_gp_gate(Gate* gate) {
  struct __attribute__((packed)) {
    uint16_t limit;
    uintptr_t base;
  } idtr = {0, 0};
  asm volatile("sidt %0" : "=m"(idtr));
  if (uintptr_t{idtr.limit} < (kGpVector + 1) * kGateBytes - 1) return false;
  const auto* p = reinterpret_cast<const volatile uint64_t*>(idtr.base + kGpVector * kGateBytes);
  gate->low = p[0];
  gate->high = kGateBytes == 16 ? p[1] : 0;
  return true;
}

struct Batch {
  MsrStep steps[kMaxMsrSteps];
  int count;
  bool check_gate;  // on another processor: compare its gate with bsp_gate
  Gate bsp_gate;
  bool no_guard;
};
// In static storage, not on a stack: a procedure on a processor that
// timed out may still write it after the caller has returned.
constinit Batch g_batch = {};

// Runs on the processor asked for, under the guard. Each step has its own
// fault flag: the handler sets g_refused, which is cleared before each one.
void run_batch(void* context) {
  Batch& b = *static_cast<Batch*>(context);
  if (b.check_gate) {
    // The firmware's handler table is reached through this processor's IDT:
    // the same gate as the boot processor's means the same dispatch, and so
    // kvq's handler. Anything else is left untouched.
    Gate own = {0, 0};
    if (!read_gp_gate(&own) || own.low != b.bsp_gate.low || own.high != b.bsp_gate.high) {
      b.no_guard = true;
      return;
    }
  }
  for (int i = 0; i < b.count; ++i) {
    MsrStep& s = b.steps[i];
    g_refused = false;
    if (s.op == MsrOp::kCpuid) {
      cpuid(s.index, 0);
    } else if (s.op == MsrOp::kWrite) {
      asm volatile("wrmsr"
                   :
                   : "c"(s.index), "a"(static_cast<uint32_t>(s.value)), "d"(static_cast<uint32_t>(s.value >> 32))
                   : "memory");
    } else {
      uint32_t low = 0;
      uint32_t high = 0;
      asm volatile("rdmsr" : "=a"(low), "=d"(high) : "c"(s.index) : "memory");
      s.value = (static_cast<uint64_t>(high) << 32) | low;
    }
    s.status = g_refused ? MsrStatus::kRefused : MsrStatus::kOk;
    if (g_refused && s.op == MsrOp::kRead) s.value = 0;
  }
}

MsrStatus guarded_batch(uint32_t cpu, MsrStep* steps, int count) {
  efi::CpuArchProtocol* arch = protocols().cpu_arch;
  if (arch == nullptr) return MsrStatus::kNoCpuProtocol;
  if (arch->register_interrupt_handler(arch, efi::kExceptGpFault, gp_handler) != efi::kSuccess) {
    return MsrStatus::kGuardRefused;
  }
  Batch& b = g_batch;
  __builtin_memcpy(b.steps, steps, static_cast<size_t>(count) * sizeof(MsrStep));
  b.count = count;
  b.no_guard = false;
  b.check_gate = cpu != protocols().self;
  // The boot processor's gate, read after the handler went in (a firmware
  // may point the gate itself at a new handler).
  b.bsp_gate = Gate{0, 0};
  if (b.check_gate && !read_gp_gate(&b.bsp_gate)) b.no_guard = true;
  g_armed = true;
  const bool ran = b.no_guard || run_on_cpu(cpu, run_batch, &b);
  g_armed = false;
  arch->register_interrupt_handler(arch, efi::kExceptGpFault, nullptr);
  if (!ran) return MsrStatus::kCpuDown;
  if (b.no_guard) return MsrStatus::kNoApGuard;
  __builtin_memcpy(steps, b.steps, static_cast<size_t>(count) * sizeof(MsrStep));
  return MsrStatus::kOk;
}

}  // namespace

CpuidRegs cpuid(uint32_t leaf, uint32_t subleaf) {
  CpuidRegs r;
  asm volatile("cpuid" : "=a"(r.eax), "=b"(r.ebx), "=c"(r.ecx), "=d"(r.edx) : "a"(leaf), "c"(subleaf));
  return r;
}

uint32_t cpu_count() { return protocols().count; }

uint32_t this_cpu() { return protocols().self; }

bool run_on_cpu(uint32_t cpu, void (*procedure)(void* context), void* context) {
  const Protocols& p = protocols();
  if (cpu == p.self) {
    procedure(context);
    return true;
  }
  if (p.mp == nullptr || cpu >= p.count) return false;
  return p.mp->startup_this_ap(p.mp, procedure, cpu, nullptr, kProcedureTimeoutUs, context, nullptr) == efi::kSuccess;
}

CpuState cpu_state(uint32_t cpu) {
  const Protocols& p = protocols();
  if (cpu == p.self || p.mp == nullptr) return CpuState::kReady;
  efi::ProcessorInformation info = {};
  if (p.mp->get_processor_info(p.mp, cpu, &info) != efi::kSuccess) return CpuState::kDisabled;
  if ((info.status_flag & efi::kProcessorEnabled) == 0) return CpuState::kDisabled;
  if ((info.status_flag & efi::kProcessorHealthy) == 0) return CpuState::kUnhealthy;
  return CpuState::kReady;
}

MsrStatus msr_batch(uint32_t cpu, MsrStep* steps, int count) { return guarded_batch(cpu, steps, count); }

}  // namespace kvq::plat
