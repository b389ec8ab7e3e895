#include "platform/sim/cpu_models.h"

namespace kvq::sim {
namespace {

struct LeafRow {
  uint32_t leaf;
  uint32_t subleaf;
  plat::CpuidRegs regs;
};

struct MsrRow {
  uint32_t index;
  SimMsr msr;
};

constexpr uint64_t kBspFlag = 0x100;

// qemu64 under TCG, CPU 0 of `-smp 2` (leaves that read all zeros left out;
// ECX is ignored where the processor ignores it).
constexpr LeafRow kQemu64Leaves[] = {
    {.leaf = 0x00000000, .subleaf = kAnySubleaf, .regs = {0x0000000D, 0x68747541, 0x444D4163, 0x69746E65}},
    {.leaf = 0x00000001, .subleaf = kAnySubleaf, .regs = {0x00060FB1, 0x00020800, 0x80002001, 0x178BFBFD}},
    {.leaf = 0x00000005, .subleaf = kAnySubleaf, .regs = {0x00000000, 0x00000000, 0x00000003, 0x00000000}},
    {.leaf = 0x0000000B, .subleaf = 0, .regs = {0x00000000, 0x00000001, 0x00000100, 0x00000000}},
    {.leaf = 0x0000000B, .subleaf = 1, .regs = {0x00000001, 0x00000002, 0x00000201, 0x00000000}},
    {.leaf = 0x0000000B, .subleaf = 2, .regs = {0x00000000, 0x00000000, 0x00000002, 0x00000000}},
    {.leaf = 0x80000000, .subleaf = kAnySubleaf, .regs = {0x8000000A, 0x68747541, 0x444D4163, 0x69746E65}},
    {.leaf = 0x80000001, .subleaf = kAnySubleaf, .regs = {0x00060FB1, 0x00000000, 0x00000007, 0x2193FBFD}},
    {.leaf = 0x80000002, .subleaf = kAnySubleaf, .regs = {0x554D4551, 0x72695620, 0x6C617574, 0x55504320}},
    {.leaf = 0x80000003, .subleaf = kAnySubleaf, .regs = {0x72657620, 0x6E6F6973, 0x352E3220, 0x0000002B}},
    {.leaf = 0x80000005, .subleaf = kAnySubleaf, .regs = {0x01FF01FF, 0x01FF01FF, 0x40020140, 0x40020140}},
    {.leaf = 0x80000006, .subleaf = kAnySubleaf, .regs = {0x00000000, 0x42004200, 0x02008140, 0x00808140}},
    {.leaf = 0x80000008, .subleaf = kAnySubleaf, .regs = {0x00003028, 0x00000000, 0x00001001, 0x00000000}},
    {.leaf = 0x8000000A, .subleaf = kAnySubleaf, .regs = {0x00000001, 0x00000010, 0x00000000, 0x00000000}},
};

// What a qemu64 implements here, as OVMF leaves it; IA32_PKRS raises #GP
// for bits 63:32 as TCG's wrmsr does, the patch level is read-only.
constexpr MsrRow kQemu64Msrs[] = {
    {.index = 0x00000010, .msr = {.value = 0x0000000123456789}},
    {.index = 0x0000001B, .msr = {.value = 0xFEE00800, .reserved = 0xFFFFFF00000006FF}},
    {.index = 0x0000008B, .msr = {.value = 0x01000065, .read_only = true}},
    {.index = 0x000000FE, .msr = {.value = 0x508, .read_only = true}},
    {.index = 0x00000174, .msr = {}},
    {.index = 0x00000175, .msr = {}},
    {.index = 0x00000176, .msr = {}},
    {.index = 0x00000179, .msr = {.value = 0x10A, .read_only = true}},
    {.index = 0x0000017A, .msr = {}},
    {.index = 0x000001A0, .msr = {.value = 0x1}},
    {.index = 0x00000200, .msr = {.value = 0x80000000}},
    {.index = 0x00000201, .msr = {.value = 0xFF80000800}},
    {.index = 0x00000277, .msr = {.value = 0x0007040600070406}},
    {.index = 0x000002FF, .msr = {.value = 0xC06}},
    {.index = 0x000006E1, .msr = {.reserved = 0xFFFFFFFF00000000}},
    {.index = 0xC0000080, .msr = {.value = 0xD01, .reserved = ~uint64_t{0xFD01}}},
    {.index = 0xC0000081, .msr = {}},
    {.index = 0xC0000082, .msr = {}},
    {.index = 0xC0000083, .msr = {}},
    {.index = 0xC0000084, .msr = {}},
    {.index = 0xC0000100, .msr = {}},
    {.index = 0xC0000101, .msr = {}},
    {.index = 0xC0000102, .msr = {}},
    {.index = 0xC0000103, .msr = {}},
};

constexpr LeafRow kIntelLeaves[] = {
    {.leaf = 0x00000000, .subleaf = kAnySubleaf, .regs = {0x00000016, 0x756E6547, 0x6C65746E, 0x49656E69}},
    {.leaf = 0x00000001, .subleaf = kAnySubleaf, .regs = {0x000906EA, 0x00100800, 0x7FFAFBBF, 0xBFEBFBFF}},
    {.leaf = 0x00000004, .subleaf = 0, .regs = {0x1C004121, 0x01C0003F, 0x0000003F, 0x00000000}},
    {.leaf = 0x00000004, .subleaf = 1, .regs = {0x1C004122, 0x01C0003F, 0x0000003F, 0x00000000}},
    {.leaf = 0x00000004, .subleaf = 2, .regs = {0x1C004143, 0x00C0003F, 0x000003FF, 0x00000000}},
    {.leaf = 0x00000004, .subleaf = 3, .regs = {0x1C03C163, 0x03C0003F, 0x00002FFF, 0x00000006}},
    {.leaf = 0x00000007, .subleaf = 0, .regs = {0x00000000, 0x029C67AF, 0x40000000, 0xBC002E00}},
    {.leaf = 0x0000000B, .subleaf = 0, .regs = {0x00000001, 0x00000002, 0x00000100, 0x00000000}},
    {.leaf = 0x0000000B, .subleaf = 1, .regs = {0x00000004, 0x0000000C, 0x00000201, 0x00000000}},
    {.leaf = 0x0000000B, .subleaf = 2, .regs = {0x00000000, 0x00000000, 0x00000002, 0x00000000}},
    {.leaf = 0x0000000D, .subleaf = 0, .regs = {0x0000001F, 0x00000440, 0x00000440, 0x00000000}},
    {.leaf = 0x0000000D, .subleaf = 1, .regs = {0x0000000F, 0x00000440, 0x00000100, 0x00000000}},
    {.leaf = 0x0000000D, .subleaf = 2, .regs = {0x00000100, 0x00000240, 0x00000000, 0x00000000}},
    {.leaf = 0x0000000D, .subleaf = 3, .regs = {0x00000040, 0x000003C0, 0x00000000, 0x00000000}},
    {.leaf = 0x0000000D, .subleaf = 4, .regs = {0x00000040, 0x00000400, 0x00000000, 0x00000000}},
    {.leaf = 0x0000000D, .subleaf = 8, .regs = {0x00000080, 0x00000000, 0x00000001, 0x00000000}},
    {.leaf = 0x80000000, .subleaf = kAnySubleaf, .regs = {0x80000008, 0x00000000, 0x00000000, 0x00000000}},
    {.leaf = 0x80000001, .subleaf = kAnySubleaf, .regs = {0x00000000, 0x00000000, 0x00000121, 0x2C100800}},
    {.leaf = 0x80000002, .subleaf = kAnySubleaf, .regs = {0x65746E49, 0x2952286C, 0x726F4320, 0x4D542865}},
    {.leaf = 0x80000003, .subleaf = kAnySubleaf, .regs = {0x37692029, 0x3037382D, 0x50432030, 0x20402055}},
    {.leaf = 0x80000004, .subleaf = kAnySubleaf, .regs = {0x30322E33, 0x007A4847, 0x00000000, 0x00000000}},
    {.leaf = 0x80000008, .subleaf = kAnySubleaf, .regs = {0x00003027, 0x00000000, 0x00000000, 0x00000000}},
};

// MSR 8Bh is cleared by a write of 0 and filled by CPUID leaf 1; the
// feature control register is locked, so every write raises #GP.
constexpr MsrRow kIntelMsrs[] = {
    {.index = 0x00000010, .msr = {.value = 0x000000A987654321}},
    {.index = 0x00000017, .msr = {.value = 0x0004000000000000, .read_only = true}},
    {.index = 0x0000001B, .msr = {.value = 0xFEE00800, .reserved = 0xFFFFFF80000002FF}},
    {.index = 0x0000003A, .msr = {.value = 0x5, .read_only = true}},
    {.index = 0x0000008B, .msr = {}},
    {.index = 0x000000FE, .msr = {.value = 0xD0A, .read_only = true}},
    {.index = 0x0000019C, .msr = {.value = 0x88420000}},
    {.index = 0x000001A0, .msr = {.value = 0x850089}},
    {.index = 0x00000277, .msr = {.value = 0x0007040600070406}},
    {.index = 0x000002FF, .msr = {.value = 0xC06}},
    {.index = 0xC0000080, .msr = {.value = 0xD01, .reserved = ~uint64_t{0xD01}}},
};

template <size_t L, size_t M>
SimCpu make_cpu(const LeafRow (&leaves)[L], const MsrRow (&msrs)[M], uint32_t apic_id) {
  SimCpu cpu;
  for (const LeafRow& l : leaves) cpu.leaves[{l.leaf, l.subleaf}] = l.regs;
  for (const MsrRow& m : msrs) cpu.msrs[m.index] = m.msr;
  // The APIC ID in leaf 1 (EBX 31:24) and the x2APIC ID of leaf 0Bh.
  cpu.leaves[{1, kAnySubleaf}].ebx |= apic_id << 24;
  for (uint32_t s = 0; s < 3; ++s) {
    auto it = cpu.leaves.find({0x0B, s});
    if (it != cpu.leaves.end()) it->second.edx = apic_id;
  }
  if (apic_id == 0) cpu.msrs[0x1B].value |= kBspFlag;
  return cpu;
}

}  // namespace

SimCpu qemu64_cpu(uint32_t apic_id) { return make_cpu(kQemu64Leaves, kQemu64Msrs, apic_id); }

SimCpu intel_cpu(uint32_t apic_id) {
  SimCpu cpu = make_cpu(kIntelLeaves, kIntelMsrs, apic_id);
  cpu.intel_microcode = 0xF4;
  return cpu;
}

void set_cpus(Board& board, SimCpu (*make)(uint32_t apic_id), int count) {
  board.cpu.cpus.clear();
  for (int i = 0; i < count; ++i) board.cpu.cpus.push_back(make(static_cast<uint32_t>(i)));
}

}  // namespace kvq::sim
