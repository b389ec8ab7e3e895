// The pages of the interrupt controllers' registers. The local APIC and the
// I/O APICs decode only aligned 32-bit accesses (Intel SDM Vol. 3A, 11.4.1:
// other widths are undefined; the I/O APIC's index and window registers
// likewise): a byte load returns garbage and a byte store may be taken as
// a whole register with undefined bytes. kvq reads and writes these pages
// only with aligned dword accesses.
#pragma once
#include <stdint.h>

#include "hw/reg.h"

namespace kvq::apic {

// Where the processor's local APIC lies after reset, and where kvq assumes
// it is when IA32_APIC_BASE cannot be read.
inline constexpr uint64_t kDefaultLocalPage = 0xFEE00000u;

// The MADT: the local APIC address in its header, then entries of a type
// and a length; an I/O APIC entry (type 1) gives its registers' address.
namespace madt {
struct LocalApicAddress : reg::Register<36, 4> {};
inline constexpr uint32_t kFirstEntry = 44;
struct EntryType : reg::Register<0, 1> {};
struct EntryLength : reg::Register<1, 1> {};
inline constexpr uint8_t kIoApic = 1;
struct IoApicAddress : reg::Register<4, 4> {};
inline constexpr uint32_t kIoApicLength = 12;
static_assert(EntryLength::kOffset + 1 <= IoApicAddress::kOffset && IoApicAddress::kOffset + 4 <= kIoApicLength);
}  // namespace madt

// The page of the local APIC of the processor kvq runs on: IA32_APIC_BASE
// (MSR 1Bh) bits 51:12, read under the #GP guard every time (a write on the
// CPU page may move it); kDefaultLocalPage when the MSR cannot be read.
uint64_t local_page();

// Whether `page` (4 KiB aligned) holds the registers of an I/O APIC the
// MADT lists. The MADT is read on first need and kept until forget_board.
bool io_apic_page(uint64_t page);

// Whether `page` is an APIC's, the local APIC's at `local` (local_page()).
bool dword_only(uint64_t page, uint64_t local);

// Drops what was learnt of the board (start-up, every command line).
void forget_board();

}  // namespace kvq::apic
