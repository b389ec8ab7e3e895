#include "hw/cpu.h"

#include <stddef.h>

#include "platform/text16.h"

namespace kvq::cpu {
namespace {

using plat::CpuidRegs;
using plat::MsrStatus;

constexpr uint32_t kExtendedBase = 0x80000000u;
constexpr uint32_t kBrandFirst = 0x80000002u;
constexpr int kBrandLeaves = 3;
// Leaves kvq asks for in one range, and subleaves in one leaf, at most: a
// processor (or a hypervisor) that states an absurd maximum does not make
// the dump endless.
constexpr uint32_t kMaxLeavesPerRange = 0x80;
constexpr uint32_t kMaxSubleaves = 64;

struct CpuidCall {
  uint32_t leaf;
  uint32_t subleaf;
  CpuidRegs regs;
};

void run_cpuid(void* context) {
  CpuidCall& c = *static_cast<CpuidCall*>(context);
  c.regs = plat::cpuid(c.leaf, c.subleaf);
}

// The identity leaves, read on the processor in one procedure.
struct IdentityLeaves {
  CpuidRegs vendor;
  CpuidRegs signature;
  CpuidRegs extended;
  CpuidRegs brand[kBrandLeaves];
};

void read_identity_leaves(void* context) {
  IdentityLeaves& l = *static_cast<IdentityLeaves*>(context);
  l.vendor = plat::cpuid(0, 0);
  l.signature = plat::cpuid(1, 0);
  l.extended = plat::cpuid(kExtendedBase, 0);
  const bool has_brand = l.extended.eax >= kBrandFirst + kBrandLeaves - 1 && l.extended.eax < kExtendedBase + kMaxLeavesPerRange;
  for (int i = 0; i < kBrandLeaves; ++i) {
    l.brand[i] = has_brand ? plat::cpuid(kBrandFirst + static_cast<uint32_t>(i), 0) : CpuidRegs{0, 0, 0, 0};
  }
}

void put_dword(char* out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

// The vendors whose manuals say how to read the microcode revision; every
// other vendor string (Centaur, Zhaoxin, unknown or empty) gets no access.
struct MicrocodeVendor {
  char vendor[13];
  MicrocodeRead how;
};
constexpr MicrocodeVendor kMicrocodeVendors[] = {
    {.vendor = "GenuineIntel", .how = MicrocodeRead::kIntel},
    {.vendor = "AuthenticAMD", .how = MicrocodeRead::kPatchLevel},
    {.vendor = "HygonGenuine", .how = MicrocodeRead::kPatchLevel},
};

constexpr bool microcode_vendors_sound() {
  for (const MicrocodeVendor& v : kMicrocodeVendors) {
    int n = 0;
    while (v.vendor[n] != 0) ++n;
    if (n != 12 || v.how == MicrocodeRead::kNone) return false;
  }
  return true;
}
static_assert(microcode_vendors_sound(), "a vendor string is 12 characters and names a way");

MicrocodeRead microcode_read_of(const char* vendor) {
  for (const MicrocodeVendor& v : kMicrocodeVendors) {
    int i = 0;
    while (i < 12 && vendor[i] == v.vendor[i]) ++i;
    if (i == 12) return v.how;
  }
  return MicrocodeRead::kNone;
}

// Writes that ask first, ascending by index. The MTRRs must be equal on
// every processor, and a write changes one.
constexpr AskFirst kAskFirst[] = {
    {.first = 0x1B, .last = 0x1B, .why = "moving the local APIC stops the board"},
    {.first = 0x3A, .last = 0x3A, .why = "its lock holds until a reset"},
    {.first = 0x79, .last = 0x79, .why = "it loads microcode"},
    {.first = 0xFE, .last = 0xFE, .why = "MTRR: only this CPU changes, all must match"},
    {.first = 0x200, .last = 0x2FF, .why = "MTRR: only this CPU changes, all must match"},
    {.first = 0x800, .last = 0x8FF, .why = "x2APIC: it can send INIT"},
    {.first = 0xC0000080, .last = 0xC0000080, .why = "EFER: clearing LME or NXE stops firmware"},
};

constexpr bool ask_first_sound() {
  for (size_t i = 0; i < sizeof(kAskFirst) / sizeof(kAskFirst[0]); ++i) {
    const AskFirst& a = kAskFirst[i];
    if (a.first > a.last || (i > 0 && a.first <= kAskFirst[i - 1].last)) return false;
  }
  return true;
}
static_assert(ask_first_sound(), "ranges ascend without overlap");

// The processors that did not come back from a procedure; a board with
// more of them than this has the others asked again.
constexpr int kMaxLost = 8;
constinit uint32_t g_lost[kMaxLost] = {};
constinit int g_lost_count = 0;

bool is_lost(uint32_t cpu) {
  for (int i = 0; i < g_lost_count; ++i) {
    if (g_lost[i] == cpu) return true;
  }
  return false;
}

void mark_lost(uint32_t cpu) {
  if (g_lost_count < kMaxLost && cpu != plat::this_cpu() && !is_lost(cpu)) g_lost[g_lost_count++] = cpu;
}

// Runs a procedure where reachable() allows it; a processor that does not
// come back is not woken again.
bool run_there(uint32_t cpu, void (*procedure)(void*), void* context) {
  if (reachable(cpu) != MsrStatus::kOk) return false;
  if (plat::run_on_cpu(cpu, procedure, context)) return true;
  mark_lost(cpu);
  return false;
}

// How far the subleaves of a leaf run.
enum class End : uint8_t {
  kCountInEax,  // subleaf 0's EAX is the last subleaf
  kZeroField,   // up to the first subleaf (from `first_checked`) whose field is 0
  kBitmap,      // the subleaves whose bits are set in one register of subleaf 0
  kXsave,       // 0, 1, and the state components of XCR0 and IA32_XSS
};

struct SubleafRule {
  uint32_t leaf;
  End end;
  uint8_t reg;  // 0 EAX, 1 EBX, 2 ECX, 3 EDX
  uint32_t mask;
  uint32_t first_checked;
};

constexpr SubleafRule kSubleafRules[] = {
    {.leaf = 0x04, .end = End::kZeroField, .reg = 0, .mask = 0x1F, .first_checked = 0},  // cache type
    {.leaf = 0x07, .end = End::kCountInEax, .reg = 0, .mask = 0, .first_checked = 0},
    {.leaf = 0x0B, .end = End::kZeroField, .reg = 2, .mask = 0xFF00, .first_checked = 0},  // level type
    {.leaf = 0x0D, .end = End::kXsave, .reg = 0, .mask = 0, .first_checked = 0},
    {.leaf = 0x0F, .end = End::kBitmap, .reg = 3, .mask = 0, .first_checked = 0},  // monitoring resources
    {.leaf = 0x10, .end = End::kBitmap, .reg = 1, .mask = 0, .first_checked = 0},  // allocation resources
    {.leaf = 0x12, .end = End::kZeroField, .reg = 0, .mask = 0xF, .first_checked = 2},  // EPC sections
    {.leaf = 0x14, .end = End::kCountInEax, .reg = 0, .mask = 0, .first_checked = 0},
    {.leaf = 0x17, .end = End::kCountInEax, .reg = 0, .mask = 0, .first_checked = 0},
    {.leaf = 0x18, .end = End::kCountInEax, .reg = 0, .mask = 0, .first_checked = 0},
    {.leaf = 0x1D, .end = End::kCountInEax, .reg = 0, .mask = 0, .first_checked = 0},
    {.leaf = 0x1F, .end = End::kZeroField, .reg = 2, .mask = 0xFF00, .first_checked = 0},  // level type
    {.leaf = 0x8000001D, .end = End::kZeroField, .reg = 0, .mask = 0x1F, .first_checked = 0},  // cache type
};

constexpr bool rules_sound() {
  for (size_t i = 1; i < sizeof(kSubleafRules) / sizeof(kSubleafRules[0]); ++i) {
    if (kSubleafRules[i].leaf <= kSubleafRules[i - 1].leaf) return false;
  }
  for (const SubleafRule& r : kSubleafRules) {
    if (r.reg > 3 || ((r.end == End::kZeroField) != (r.mask != 0))) return false;
  }
  return true;
}
static_assert(rules_sound(), "rules ascend by leaf; only a zero-terminated leaf names a field");

const SubleafRule* rule_of(uint32_t leaf) {
  for (const SubleafRule& r : kSubleafRules) {
    if (r.leaf == leaf) return &r;
  }
  return nullptr;
}

uint32_t reg_of(const CpuidRegs& r, uint8_t which) {
  const uint32_t regs[] = {r.eax, r.ebx, r.ecx, r.edx};
  return regs[which & 3];
}

class LeafWalker {
 public:
  LeafWalker(uint32_t cpu, void (*emit)(void*, const Leaf&), void* context) : cpu_(cpu), emit_(emit), context_(context) {}

  bool reached() const { return reached_; }

  // Asks for one subleaf and passes it on.
  CpuidRegs ask(uint32_t leaf, uint32_t subleaf) {
    bool ok = false;
    const CpuidRegs r = reached_ ? cpuid_on(cpu_, leaf, subleaf, &ok) : CpuidRegs{0, 0, 0, 0};
    reached_ = reached_ && ok;
    if (reached_) emit_(context_, Leaf{leaf, subleaf, r});
    return r;
  }

  void leaf(uint32_t leaf) {
    const CpuidRegs first = ask(leaf, 0);
    const SubleafRule* rule = rule_of(leaf);
    if (rule == nullptr) return;
    switch (rule->end) {
      case End::kCountInEax:
        for (uint32_t s = 1; s <= first.eax && s < kMaxSubleaves && reached_; ++s) ask(leaf, s);
        break;
      case End::kZeroField: {
        CpuidRegs r = first;
        for (uint32_t s = 1; s < kMaxSubleaves && reached_; ++s) {
          if (s > rule->first_checked && (reg_of(r, rule->reg) & rule->mask) == 0) break;
          r = ask(leaf, s);
        }
        break;
      }
      case End::kBitmap:
        for (uint32_t s = 1; s < 32 && reached_; ++s) {
          if ((reg_of(first, rule->reg) >> s) & 1) ask(leaf, s);
        }
        break;
      case End::kXsave: {
        const CpuidRegs second = ask(leaf, 1);
        const uint64_t components = (static_cast<uint64_t>(first.edx) << 32 | first.eax) |
                                    (static_cast<uint64_t>(second.edx) << 32 | second.ecx);
        for (uint32_t s = 2; s < kMaxSubleaves && reached_; ++s) {
          if ((components >> s) & 1) ask(leaf, s);
        }
        break;
      }
    }
  }

  // Leaves `first` up to the range's maximum, which `first` states.
  void range(uint32_t first) {
    const CpuidRegs top = ask(first, 0);
    // A maximum below the range's first leaf: the range has no other leaf.
    const uint32_t stated = top.eax < first ? first : top.eax;
    const uint32_t last = stated - first < kMaxLeavesPerRange ? stated : first + kMaxLeavesPerRange - 1;
    for (uint32_t leaf = first + 1; leaf <= last && reached_; ++leaf) this->leaf(leaf);
  }

 private:
  uint32_t cpu_;
  void (*emit_)(void*, const Leaf&);
  void* context_;
  bool reached_ = true;
};

// By status, in the order of MsrStatus.
constexpr const char16_t* kStatusTexts[] = {
    u"",
    u"the processor refused the access (#GP)",
    u"no CPU architectural protocol to install a #GP handler",
    u"the firmware refused a #GP handler (vector 13)",
    u"the processor did not run the access",
    u"no #GP guard on this processor",
    u"the firmware has it disabled or unhealthy",
};
static_assert(sizeof(kStatusTexts) / sizeof(kStatusTexts[0]) == static_cast<int>(MsrStatus::kCpuSkipped) + 1);

constexpr bool status_texts_fit() {
  for (const char16_t* t : kStatusTexts) {
    if (text_length(t) > kMaxStatusText) return false;
  }
  return true;
}
static_assert(status_texts_fit());

}  // namespace

CpuidRegs cpuid_on(uint32_t cpu, uint32_t leaf, uint32_t subleaf, bool* reached) {
  CpuidCall call{leaf, subleaf, {0, 0, 0, 0}};
  *reached = run_there(cpu, run_cpuid, &call);
  return call.regs;
}

Identity identify(uint32_t cpu) {
  Identity id;
  IdentityLeaves l{};
  id.reached = run_there(cpu, read_identity_leaves, &l);
  if (!id.reached) return id;
  put_dword(id.vendor, l.vendor.ebx);
  put_dword(id.vendor + 4, l.vendor.edx);
  put_dword(id.vendor + 8, l.vendor.ecx);
  char brand[48];
  for (int i = 0; i < kBrandLeaves; ++i) {
    const uint32_t regs[] = {l.brand[i].eax, l.brand[i].ebx, l.brand[i].ecx, l.brand[i].edx};
    for (int r = 0; r < 4; ++r) put_dword(brand + 16 * i + 4 * r, regs[r]);
  }
  // Intel pads the brand string on the left; it ends at its first NUL.
  int from = 0;
  while (from < 48 && brand[from] == ' ') ++from;
  for (int i = from, n = 0; i < 48 && brand[i] != 0; ++i, ++n) {
    id.brand[n] = brand[i] >= 0x20 && brand[i] < 0x7F ? brand[i] : '.';
  }
  const uint32_t eax = l.signature.eax;
  const uint32_t base_family = (eax >> 8) & 0xF;
  const uint32_t base_model = (eax >> 4) & 0xF;
  id.stepping = eax & 0xF;
  id.family = base_family == 0xF ? base_family + ((eax >> 20) & 0xFF) : base_family;
  id.model = (base_family == 0x6 || base_family == 0xF) ? (((eax >> 16) & 0xF) << 4) + base_model : base_model;
  id.microcode_read = microcode_read_of(id.vendor);
  return id;
}

const char16_t* status_text(MsrStatus status) { return kStatusTexts[static_cast<int>(status)]; }

bool each_leaf(uint32_t cpu, void (*emit)(void* context, const Leaf& leaf), void* context) {
  LeafWalker walker(cpu, emit, context);
  walker.range(0);
  walker.range(kExtendedBase);
  return walker.reached();
}

MsrStatus reachable(uint32_t cpu) {
  if (cpu >= plat::cpu_count() || is_lost(cpu)) return MsrStatus::kCpuDown;
  return plat::cpu_state(cpu) == plat::CpuState::kReady ? MsrStatus::kOk : MsrStatus::kCpuSkipped;
}

void forget_processors() { g_lost_count = 0; }

uint32_t step_processor(uint32_t from, int direction) {
  const uint32_t count = plat::cpu_count();
  uint32_t cpu = from % count;
  for (uint32_t tried = 1; tried < count; ++tried) {
    cpu = (cpu + count + static_cast<uint32_t>(direction)) % count;
    if (plat::cpu_state(cpu) == plat::CpuState::kReady) return cpu;
  }
  return from;
}

int Batch::add(plat::MsrOp op, uint32_t index, uint64_t value) {
  if (count_ >= plat::kMaxMsrSteps) return -1;
  steps_[count_] = plat::MsrStep{op, index, value, MsrStatus::kCpuDown};
  return count_++;
}

MsrStatus Batch::run(uint32_t cpu) {
  status_ = reachable(cpu);
  if (status_ == MsrStatus::kOk) status_ = plat::msr_batch(cpu, steps_, count_);
  if (status_ == MsrStatus::kCpuDown) mark_lost(cpu);
  return status_;
}

MsrValue Batch::result(int step) const {
  if (step < 0 || step >= count_) return MsrValue{MsrStatus::kCpuDown, 0};
  if (status_ != MsrStatus::kOk) return MsrValue{status_, 0};
  return MsrValue{steps_[step].status, steps_[step].op == plat::MsrOp::kWrite ? 0 : steps_[step].value};
}

MicrocodeSteps queue_microcode(Batch& batch, const Identity& id) {
  MicrocodeSteps steps;
  if (!id.reached || id.microcode_read == MicrocodeRead::kNone) return steps;
  if (id.microcode_read == MicrocodeRead::kIntel) {
    // Clear the register; CPUID leaf 1 loads the revision into bits 63:32.
    steps.write = batch.write(kBiosSignId, 0);
    batch.cpuid(1);
  }
  steps.read = batch.read(kBiosSignId);
  return steps;
}

void finish_microcode(const Batch& batch, const MicrocodeSteps& steps, Identity* id) {
  if (steps.read < 0) {
    id->microcode_status = MsrStatus::kCpuDown;
    return;
  }
  const MsrValue written = batch.result(steps.write);
  const MsrValue read = batch.result(steps.read);
  id->microcode_status = steps.write >= 0 && written.status != MsrStatus::kOk ? written.status : read.status;
  id->microcode = static_cast<uint32_t>(steps.write >= 0 ? read.value >> 32 : read.value);
}

MsrValue read_msr(uint32_t cpu, uint32_t index) {
  Batch b;
  const int step = b.read(index);
  b.run(cpu);
  return b.result(step);
}

MsrStatus write_msr(uint32_t cpu, uint32_t index, uint64_t value) {
  Batch b;
  const int step = b.write(index, value);
  b.run(cpu);
  return b.result(step).status;
}

const AskFirst* ask_first(uint32_t index) {
  for (const AskFirst& a : kAskFirst) {
    if (index >= a.first && index <= a.last) return &a;
  }
  return nullptr;
}

}  // namespace kvq::cpu
