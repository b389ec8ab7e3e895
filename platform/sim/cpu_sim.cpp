// The processor services on the host: the simulated board's processors.
// Procedures run at once on the host's one thread, with the board's
// "running" processor switched for their duration, so CPUID inside one
// answers for the processor it was sent to, as on the real board.
#include "platform/cpu.h"
#include "platform/sim/board.h"

namespace kvq::plat {
namespace {

constexpr uint32_t kBiosSignId = 0x8B;

sim::CpuModel& model() { return sim::board().cpu; }

bool is_intel(const sim::SimCpu& cpu) {
  const CpuidRegs v = cpu.cpuid(0, 0);
  return v.ebx == 0x756E6547 && v.edx == 0x49656E69 && v.ecx == 0x6C65746E;  // "GenuineIntel"
}

struct Access {
  uint32_t index;
  uint64_t value;
  bool write;
  bool refused;
};

// On the running processor: what its MSR does with the access.
void access_msr(void* context) {
  Access& a = *static_cast<Access*>(context);
  sim::CpuModel& m = model();
  sim::SimCpu& cpu = m.cpus[m.running];
  auto it = cpu.msrs.find(a.index);
  sim::SimMsr* msr = it == cpu.msrs.end() ? nullptr : &it->second;
  if (a.write) {
    a.refused = msr == nullptr || msr->read_only || (a.value & msr->reserved) != 0;
    if (!a.refused) msr->value = a.value;
  } else {
    a.refused = msr == nullptr;
    a.value = a.refused ? 0 : msr->value;
  }
  sim::Access logged = a.write ? sim::wrmsr(a.index, a.value, static_cast<int>(m.running))
                               : sim::rdmsr(a.index, a.value, static_cast<int>(m.running));
  logged.refused = a.refused;
  sim::board().note(logged);
}

MsrStatus guarded(uint32_t cpu, Access& a) {
  sim::CpuModel& m = model();
  if (!m.cpu_protocol) return MsrStatus::kNoCpuProtocol;
  if (m.guard_refused) return MsrStatus::kGuardRefused;
  const int which = static_cast<int>(cpu);
  m.guard_installed = true;
  sim::board().note(sim::guard_on(which));
  const bool ran = run_on_cpu(cpu, access_msr, &a);
  m.guard_installed = false;
  sim::board().note(sim::guard_off(which));
  if (!ran) return MsrStatus::kCpuDown;
  return a.refused ? MsrStatus::kRefused : MsrStatus::kOk;
}

}  // namespace

CpuidRegs cpuid(uint32_t leaf, uint32_t subleaf) {
  sim::CpuModel& m = model();
  sim::SimCpu& cpu = m.cpus[m.running];
  // An Intel processor reports its microcode revision in MSR 8Bh after
  // CPUID leaf 1.
  auto sign = cpu.msrs.find(kBiosSignId);
  if (leaf == 1 && sign != cpu.msrs.end() && is_intel(cpu)) sign->second.value = uint64_t{cpu.intel_microcode} << 32;
  return cpu.cpuid(leaf, subleaf);
}

uint32_t cpu_count() { return model().mp_services ? static_cast<uint32_t>(model().cpus.size()) : 1; }

uint32_t this_cpu() { return 0; }

bool run_on_cpu(uint32_t cpu, void (*procedure)(void* context), void* context) {
  sim::CpuModel& m = model();
  if (cpu >= cpu_count() || m.cpus[cpu].down) return false;
  const uint32_t before = m.running;
  m.running = cpu;
  procedure(context);
  m.running = before;
  return true;
}

MsrStatus msr_read(uint32_t cpu, uint32_t index, uint64_t* value) {
  Access a{index, 0, false, false};
  const MsrStatus status = guarded(cpu, a);
  *value = status == MsrStatus::kOk ? a.value : 0;
  return status;
}

MsrStatus msr_write(uint32_t cpu, uint32_t index, uint64_t value) {
  Access a{index, value, true, false};
  return guarded(cpu, a);
}

}  // namespace kvq::plat
