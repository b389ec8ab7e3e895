// The processors: what CPUID says a processor is, its model-specific
// registers under the #GP guard, batched so that one wake-up of another
// processor makes them all, the writes that ask first, and every CPUID leaf
// for a dump. Each call names the processor (the firmware's MP Services
// numbering) and runs there.
#pragma once
#include <stdint.h>

#include "platform/cpu.h"

namespace kvq::cpu {

inline constexpr uint32_t kApicBase = 0x1B;
inline constexpr uint32_t kBiosSignId = 0x8B;  // microcode revision

// How a vendor's processors give their microcode revision.
enum class MicrocodeRead : uint8_t {
  kNone,        // no documented way: shown as --, and nothing is accessed
  kIntel,       // 0 into MSR 8Bh, CPUID leaf 1, then bits 63:32 of 8Bh
  kPatchLevel,  // AMD and Hygon: bits 31:0 of MSR 8Bh, read only
};

// What CPUID leaves 0, 1 and 80000002h to 80000004h say, and the microcode
// revision.
struct Identity {
  bool reached = false;  // the processor ran CPUID
  char vendor[13] = {};
  char brand[49] = {};  // printable ASCII, leading blanks removed
  uint32_t family = 0;  // with the extended family and model folded in
  uint32_t model = 0;
  uint32_t stepping = 0;
  MicrocodeRead microcode_read = MicrocodeRead::kNone;  // from the vendor
  plat::MsrStatus microcode_status = plat::MsrStatus::kCpuDown;
  uint32_t microcode = 0;
};

// The CPUID leaves, in one procedure on processor `cpu`; the microcode
// revision is read in a batch (queue_microcode).
Identity identify(uint32_t cpu);

// Zero-initialised: kOk and 0.
struct MsrValue {
  plat::MsrStatus status;
  uint64_t value;
};

// Why an MSR access was not made or was refused, for a message ("" for
// kOk): at most kMaxStatusText characters.
inline constexpr int kMaxStatusText = 54;
const char16_t* status_text(plat::MsrStatus status);

// The processors kvq can reach (processor 0 alone without MP Services),
// and the one it runs on.
inline uint32_t processor_count() { return plat::cpu_count(); }
inline uint32_t this_processor() { return plat::this_cpu(); }

// Whether processor `cpu` is woken at all: kCpuSkipped where the firmware
// reports it disabled or unhealthy, kCpuDown where it is no processor or
// did not come back from an earlier procedure (it is not woken again in
// this run: each try would cost the firmware's whole timeout).
plat::MsrStatus reachable(uint32_t cpu);
// Forgets the processors that did not come back (start-up, each command).
void forget_processors();
// The next processor from `from` in `direction` (+1 or -1), wrapping, that
// the firmware has not disabled or found unhealthy; `from` when none is.
uint32_t step_processor(uint32_t from, int direction);

// Steps queued for one processor and run there in one wake-up, each with
// its own fault flag.
class Batch {
 public:
  // Each queues one step and returns its number for result(); -1 when the
  // batch is full (nothing queued).
  int read(uint32_t index) { return add(plat::MsrOp::kRead, index, 0); }
  int write(uint32_t index, uint64_t value) { return add(plat::MsrOp::kWrite, index, value); }
  int cpuid(uint32_t leaf) { return add(plat::MsrOp::kCpuid, leaf, 0); }
  // Runs the steps on processor `cpu`: kOk when they ran, each with its own
  // status; otherwise none ran, and every step has the status returned.
  plat::MsrStatus run(uint32_t cpu);
  // A step's outcome (kCpuDown for -1 or a step never queued).
  MsrValue result(int step) const;

 private:
  int add(plat::MsrOp op, uint32_t index, uint64_t value);
  plat::MsrStep steps_[plat::kMaxMsrSteps];
  int count_ = 0;
  plat::MsrStatus status_ = plat::MsrStatus::kCpuDown;  // of the last run
};

// The vendor's microcode read queued in a batch (nothing for kNone), and
// after the batch ran, the revision put into the identity.
struct MicrocodeSteps {
  int write = -1;
  int read = -1;
};
MicrocodeSteps queue_microcode(Batch& batch, const Identity& id);
void finish_microcode(const Batch& batch, const MicrocodeSteps& steps, Identity* id);

// One MSR, read or written on processor `cpu` under the #GP guard (one
// batch of one step).
MsrValue read_msr(uint32_t cpu, uint32_t index);
plat::MsrStatus write_msr(uint32_t cpu, uint32_t index, uint64_t value);

// MSRs whose write can hang or reset a board without any #GP, or cannot be
// undone: a write to one is made only once the user has confirmed it.
inline constexpr int kMaxAskWhy = 43;
struct AskFirst {
  uint32_t first;
  uint32_t last;
  char why[kMaxAskWhy + 1];  // for row 18 and the command's message
};
// The row whose range holds `index`, or nullptr.
const AskFirst* ask_first(uint32_t index);

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
