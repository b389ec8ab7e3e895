// Whether a physical address can be reached without a fault. UEFI firmware
// runs on an identity map (a linear address is the physical address of the
// same value), but it need not map everything: guard pages around pool
// allocations, page 0 under null-pointer detection, and whatever lies past
// the address width it built its tables for. A load from an unmapped page
// raises a page fault, and a page fault in a UEFI application halts the
// firmware; so kvq walks the live page tables before it touches a page.
#pragma once
#include <stdint.h>

namespace kvq::paging {

// The control registers the walk starts from, as the processor holds them.
struct Registers {
  uint64_t cr0 = 0;
  uint64_t cr3 = 0;
  uint64_t cr4 = 0;
  bool long_mode = false;  // IA-32e paging (EFER.LMA): x64 firmware always runs in it
  // The bits of a 64-bit entry that name a table or a page: bits 51:12 cut
  // to the processor's physical address width, without AMD's memory
  // encryption bit (see address_mask).
  uint64_t address_mask = 0x000FFFFFFFFFF000ull;
};

// The address bits of an entry on a processor of `physical_bits` whose
// memory-encryption C-bit is `c_bit` (-1: none). Firmware that encrypts
// memory (SME, SEV) sets the C-bit in every entry; it selects encryption and
// is no part of the address.
uint64_t address_mask(int physical_bits, int c_bit);

inline constexpr uint64_t kCr0Wp = uint64_t{1} << 16;  // supervisor writes honour read-only pages
inline constexpr uint64_t kCr0Pg = uint64_t{1} << 31;
inline constexpr uint64_t kCr4Pse = uint64_t{1} << 4;  // 4 MiB pages in 32-bit paging
inline constexpr uint64_t kCr4Pae = uint64_t{1} << 5;
inline constexpr uint64_t kCr4La57 = uint64_t{1} << 12;  // five levels

// Paging structure entries: the bits the walk reads.
inline constexpr uint64_t kPresent = 1;
inline constexpr uint64_t kWritable = 2;
inline constexpr uint64_t kLargePage = 0x80;  // PS: the entry maps a 4 MiB, 2 MiB or 1 GiB page

enum class Access : uint8_t { kRead, kWrite };

// Reads a paging structure entry of `bytes` (4 or 8) at a physical
// address; false when it cannot be read (it lies beyond what this processor
// mode can address).
using TableReader = bool (*)(uint64_t address, int bytes, uint64_t* entry, void* context);

// Whether the tables map the 4 KiB page holding `address` to itself, for a
// read or for a write (a write also needs every level writable while CR0.WP
// is set). With paging off, everything below 4 GiB is reached as is. 32-bit,
// PAE, 4-level and 5-level tables are walked, with 4 MiB, 2 MiB and 1 GiB
// pages.
bool maps_to_itself(const Registers& regs, uint64_t address, Access access, TableReader read, void* context);

}  // namespace kvq::paging

namespace kvq::plat {

// The live tables' answer for the page holding `address`: the processor's
// own control registers on UEFI, the simulated board's on the host. The walk
// runs every time: firmware that guards its pool maps and unmaps pages as
// its drivers allocate and free them, between two passes of kvq.
bool page_mapped(uint64_t address, paging::Access access);

// Bits of physical address the processor implements (CPUID 80000008h EAX
// bits 7:0; 36 with PAE and 32 without, on a processor that lacks the leaf).
int physical_address_bits();

// The position of the memory-encryption C-bit in a page-table entry (CPUID
// 8000001Fh EBX bits 5:0, when EAX reports SME or SEV); -1 on a processor
// without one.
int encryption_bit();

// address_mask for the processor kvq runs on.
uint64_t entry_address_mask();

}  // namespace kvq::plat
