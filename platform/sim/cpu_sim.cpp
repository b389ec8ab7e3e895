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

// On the running processor: what its MSR does with the access.
void access_msr(MsrStep& s) {
  sim::CpuModel& m = model();
  sim::SimCpu& cpu = m.cpus[m.running];
  if (cpu.gp_gate != m.cpus[this_cpu()].gp_gate) ++m.unguarded_accesses;
  auto it = cpu.msrs.find(s.index);
  sim::SimMsr* msr = it == cpu.msrs.end() ? nullptr : &it->second;
  bool refused = false;
  if (s.op == MsrOp::kWrite) {
    refused = msr == nullptr || msr->read_only || (s.value & msr->reserved) != 0;
    if (!refused) msr->value = s.value;
  } else {
    refused = msr == nullptr;
    s.value = refused ? 0 : msr->value;
  }
  s.status = refused ? MsrStatus::kRefused : MsrStatus::kOk;
  const int which = static_cast<int>(m.running);
  sim::Access logged = s.op == MsrOp::kWrite ? sim::wrmsr(s.index, s.value, which) : sim::rdmsr(s.index, s.value, which);
  logged.refused = refused;
  sim::board().note(logged);
}

struct Batch {
  MsrStep* steps;
  int count;
  bool no_guard;
};

// As on the board: another processor first compares its gate for vector 13
// with the boot processor's, and makes no access where they differ.
void run_batch(void* context) {
  Batch& b = *static_cast<Batch*>(context);
  sim::CpuModel& m = model();
  if (m.running != this_cpu() && m.cpus[m.running].gp_gate != m.cpus[this_cpu()].gp_gate) {
    b.no_guard = true;
    return;
  }
  for (int i = 0; i < b.count; ++i) {
    MsrStep& s = b.steps[i];
    if (s.op == MsrOp::kCpuid) {
      cpuid(s.index, 0);
      s.status = MsrStatus::kOk;
    } else {
      access_msr(s);
    }
  }
}

MsrStatus guarded_batch(uint32_t cpu, MsrStep* steps, int count) {
  sim::CpuModel& m = model();
  if (!m.cpu_protocol) return MsrStatus::kNoCpuProtocol;
  if (m.guard_refused) return MsrStatus::kGuardRefused;
  const int which = static_cast<int>(cpu);
  m.guard_installed = true;
  sim::board().note(sim::guard_on(which));
  Batch b{steps, count, false};
  const bool ran = run_on_cpu(cpu, run_batch, &b);
  m.guard_installed = false;
  sim::board().note(sim::guard_off(which));
  if (!ran) return MsrStatus::kCpuDown;
  return b.no_guard ? MsrStatus::kNoApGuard : MsrStatus::kOk;
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

CpuState cpu_state(uint32_t cpu) {
  const sim::CpuModel& m = model();
  if (cpu == this_cpu() || cpu >= cpu_count()) return CpuState::kReady;
  if (m.cpus[cpu].disabled) return CpuState::kDisabled;
  return m.cpus[cpu].unhealthy ? CpuState::kUnhealthy : CpuState::kReady;
}

bool run_on_cpu(uint32_t cpu, void (*procedure)(void* context), void* context) {
  sim::CpuModel& m = model();
  if (cpu >= cpu_count()) return false;
  if (cpu != this_cpu()) {
    ++m.wakeups;
    // The firmware refuses a disabled processor; an unhealthy one is woken
    // (what it then does is anyone's guess: here it does not come back).
    const sim::SimCpu& c = m.cpus[cpu];
    if (c.disabled || c.unhealthy || c.down) return false;
  }
  const uint32_t before = m.running;
  m.running = cpu;
  procedure(context);
  m.running = before;
  return true;
}

MsrStatus msr_batch(uint32_t cpu, MsrStep* steps, int count) { return guarded_batch(cpu, steps, count); }

}  // namespace kvq::plat
