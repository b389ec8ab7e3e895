// Physical memory and I/O port windows and the values a user reads and
// writes there. Every access is one access of the width shown, naturally
// aligned: a window whose base is aligned to the width is read a cell at a
// time (bytes, words or dwords), one that is not is read a byte at a time.
// Memory below 4 GiB wraps at 4 GiB, as a 32-bit address does; above it
// addresses run on to the processor's physical address width. Ports wrap at
// 0x10000.
//
// Memory is reached only where the page tables map it (hw/phys.h), and the
// walk and the accesses it allows run as one step with firmware events held
// off: a timer event that unmaps a page cannot run in between. A page the
// firmware's memory space map calls non-existent is never touched, and the
// pages of the interrupt controllers (hw/apic.h) only with aligned dwords.
#pragma once
#include <stdint.h>

#include "hw/window.h"

namespace kvq::memio {

inline constexpr uint64_t k4GiB = uint64_t{1} << 32;

// Byte `offset` of a window based at `base`: below 4 GiB the sum wraps at
// 32 bits.
constexpr uint64_t window_address(uint64_t base, uint64_t offset) {
  return base < k4GiB ? (base + offset) & 0xFFFFFFFFu : base + offset;
}

// What the firmware's memory space map says a page is. kNone: nothing
// decodes it (non-existent, or memory a confidential guest has not
// accepted, which faults when touched). kUnknown: the firmware has no map.
enum class MemoryType : uint8_t { kUnknown, kNone, kRam, kMmio, kReserved };
MemoryType memory_type(uint64_t address);
// "RAM", "MMIO", "reserved", "none"; "" when unknown.
const char16_t* type_name(MemoryType type);

// The window at the width `size` (1, 2 or 4). Bytes that were not read
// (their page unmapped or of type kNone) are marked absent.
void read_memory_window(uint64_t base, int size, RegisterWindow& window);
void read_io_window(uint16_t base, int size, RegisterWindow& window);

// Why a value was not read or written; nothing was accessed then.
enum class Refusal : uint8_t {
  kNone,
  kNoMemory,   // the memory space map has nothing there
  kUnmapped,   // the page tables do not map it
  kReadOnly,   // ... or map it read-only (a write)
  kUnaligned,  // a word or dword store at an address not aligned to it
  kDwordOnly,  // a store narrower than a dword in an APIC's page
};
// The reason, as a phrase that follows the address ("is mapped read-only").
const char16_t* why(Refusal refusal);

// A value at an address the user typed: read as the window reads it (one
// load when aligned, else bytes; the covering dwords in an APIC's page);
// written with one store of the width.
Refusal read_value(uint64_t address, int size, uint32_t* value);
Refusal write_value(uint64_t address, int size, uint32_t value);

// For register blocks kvq knows (the memory-mapped configuration space, a
// NIC's registers): one load or store of `size` bytes, the page-table walk
// and the access as one step. False, with nothing accessed, where the
// tables do not map the bytes (writable, for a store), and for a store
// that is not aligned to its width.
bool read_memory(uint64_t address, int size, uint32_t* value);
bool write_memory(uint64_t address, int size, uint32_t value);

// One IN or OUT of `size` bytes: a dword register pair (an index and a
// data register, such as a NIC's IOADDR and IODATA) takes only dword
// accesses. read_io reads a port not aligned to the width in bytes, as the
// window does.
void write_io(uint16_t port, int size, uint32_t value);
uint32_t read_io(uint16_t port, int size);

}  // namespace kvq::memio
