// The processor services on UEFI. CPUID and MSR accesses are single
// instructions; other processors are reached through the firmware's MP
// Services protocol; the #GP guard is a handler for vector 13 installed
// through the CPU architectural protocol around each MSR access.
//
// The handler table behind RegisterInterruptHandler is the firmware's one
// table: the application processors take their exceptions through the same
// IDT, so a handler installed on the boot processor also catches a #GP that
// an MSR access raises on another processor.
#include "platform/cpu.h"
#include "platform/uefi/efi.h"

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

struct Access {
  uint32_t index;
  uint64_t value;
  bool write;
  bool refused;
};
// In static storage, not on a stack: a procedure on a processor that
// timed out may still write it after the caller has returned.
constinit Access g_access = {0, 0, false, false};

// Runs on the processor asked for, under the guard.
void access_msr(void* context) {
  Access& a = *static_cast<Access*>(context);
  g_refused = false;
  if (a.write) {
    asm volatile("wrmsr"
                 :
                 : "c"(a.index), "a"(static_cast<uint32_t>(a.value)), "d"(static_cast<uint32_t>(a.value >> 32))
                 : "memory");
  } else {
    uint32_t low = 0;
    uint32_t high = 0;
    asm volatile("rdmsr" : "=a"(low), "=d"(high) : "c"(a.index) : "memory");
    a.value = (static_cast<uint64_t>(high) << 32) | low;
  }
  a.refused = g_refused;
  if (a.refused && !a.write) a.value = 0;
}

MsrStatus guarded(uint32_t cpu, uint32_t index, uint64_t value, bool write, uint64_t* read) {
  efi::CpuArchProtocol* arch = protocols().cpu_arch;
  if (arch == nullptr) return MsrStatus::kNoCpuProtocol;
  if (arch->register_interrupt_handler(arch, efi::kExceptGpFault, gp_handler) != efi::kSuccess) {
    return MsrStatus::kGuardRefused;
  }
  g_armed = true;
  g_access = Access{index, value, write, false};
  const bool ran = run_on_cpu(cpu, access_msr, &g_access);
  g_armed = false;
  arch->register_interrupt_handler(arch, efi::kExceptGpFault, nullptr);
  if (!ran) return MsrStatus::kCpuDown;
  if (read != nullptr) *read = g_access.value;
  return g_access.refused ? MsrStatus::kRefused : MsrStatus::kOk;
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

MsrStatus msr_read(uint32_t cpu, uint32_t index, uint64_t* value) {
  *value = 0;
  return guarded(cpu, index, 0, false, value);
}

MsrStatus msr_write(uint32_t cpu, uint32_t index, uint64_t value) { return guarded(cpu, index, value, true, nullptr); }

}  // namespace kvq::plat
