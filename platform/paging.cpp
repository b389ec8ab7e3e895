#include "platform/paging.h"

#include "platform/cpu.h"

namespace kvq::paging {
namespace {

constexpr uint64_t k4GiB = uint64_t{1} << 32;
// Bits 51:12 of an entry name the next table or the page.
constexpr uint64_t kAddressBits = 0x000FFFFFFFFFF000ull;
constexpr uint32_t kCr3PaeBits = 0xFFFFFFE0u;

// One level of a walk: where its index sits in the address, how wide its
// entries are, and the page an entry with PS set maps (0: PS is not a
// large page at this level).
struct Level {
  int shift;
  int index_bits;
  int entry_bytes;
  int large_shift;
};

// From the top level down. 32-bit paging: page directory, page table; PAE:
// PDPT, directory, table; IA-32e: PML5 (with LA57), PML4, PDPT, directory,
// table.
constexpr Level k32Bit[] = {{22, 10, 4, 22}, {12, 10, 4, 0}};
constexpr Level kPae[] = {{30, 2, 8, 0}, {21, 9, 8, 21}, {12, 9, 8, 0}};
constexpr Level kLong5[] = {{48, 9, 8, 0}, {39, 9, 8, 0}, {30, 9, 8, 30}, {21, 9, 8, 21}, {12, 9, 8, 0}};

struct Walk {
  const Level* levels;
  int count;
  uint64_t table;     // physical address of the top table
  uint64_t limit;     // linear addresses from here up are not translated
};

Walk walk_for(const Registers& r) {
  if (r.long_mode) {
    const bool five = (r.cr4 & kCr4La57) != 0;
    return {five ? kLong5 : kLong5 + 1, five ? 5 : 4, r.cr3 & r.address_mask, uint64_t{1} << (five ? 56 : 47)};
  }
  if ((r.cr4 & kCr4Pae) != 0) return {kPae, 3, r.cr3 & kCr3PaeBits, k4GiB};
  return {k32Bit, 2, r.cr3 & 0xFFFFF000u, k4GiB};
}

}  // namespace

uint64_t address_mask(int physical_bits, int c_bit) {
  uint64_t mask = kAddressBits;
  if (physical_bits > 12 && physical_bits < 52) mask &= (uint64_t{1} << physical_bits) - 1;
  if (c_bit >= 12 && c_bit < 52) mask &= ~(uint64_t{1} << c_bit);
  return mask;
}

bool maps_to_itself(const Registers& r, uint64_t address, Access access, TableReader read, void* context) {
  if ((r.cr0 & kCr0Pg) == 0) return address < k4GiB;
  const Walk w = walk_for(r);
  // The identity map holds only the lower half of the canonical space.
  if (address >= w.limit) return false;
  const bool check_write = access == Access::kWrite && (r.cr0 & kCr0Wp) != 0;
  uint64_t table = w.table;
  for (int i = 0; i < w.count; ++i) {
    const Level& level = w.levels[i];
    const uint64_t index = (address >> level.shift) & ((uint64_t{1} << level.index_bits) - 1);
    uint64_t entry = 0;
    if (!read(table + index * static_cast<uint64_t>(level.entry_bytes), level.entry_bytes, &entry, context)) return false;
    if ((entry & kPresent) == 0) return false;
    // PAE's PDPT entries have no R/W bit.
    const bool has_rw = !(w.levels == kPae && i == 0);
    if (check_write && has_rw && (entry & kWritable) == 0) return false;
    const bool last = i == w.count - 1;
    const bool large = level.large_shift != 0 && (entry & kLargePage) != 0 &&
                       (level.entry_bytes == 8 || (r.cr4 & kCr4Pse) != 0);
    if (last || large) {
      const int shift = last ? 12 : level.large_shift;
      const uint64_t frame_bits = level.entry_bytes == 4 ? 0xFFFFFFFFull : r.address_mask;
      const uint64_t frame = entry & frame_bits & ~((uint64_t{1} << shift) - 1);
      return frame == (address & ~((uint64_t{1} << shift) - 1));
    }
    table = entry & (level.entry_bytes == 4 ? 0xFFFFF000ull : r.address_mask);
  }
  return false;
}

}  // namespace kvq::paging

namespace kvq::plat {

int physical_address_bits() {
  constexpr uint32_t kPae = 1u << 6;  // CPUID 1, EDX
  if (cpuid(0x80000000u, 0).eax >= 0x80000008u) return static_cast<int>(cpuid(0x80000008u, 0).eax & 0xFF);
  return (cpuid(1, 0).edx & kPae) != 0 ? 36 : 32;
}

int encryption_bit() {
  constexpr uint32_t kLeaf = 0x8000001Fu;
  constexpr uint32_t kSmeOrSev = 0x3;  // EAX bit 0 SME, bit 1 SEV
  // Processors without the leaf (Intel's stop at 80000008h) answer a leaf
  // beyond their maximum with another leaf's registers.
  if (cpuid(0x80000000u, 0).eax < kLeaf) return -1;
  const CpuidRegs r = cpuid(kLeaf, 0);
  return (r.eax & kSmeOrSev) != 0 ? static_cast<int>(r.ebx & 0x3F) : -1;
}

uint64_t entry_address_mask() { return paging::address_mask(physical_address_bits(), encryption_bit()); }

}  // namespace kvq::plat
