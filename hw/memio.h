// Physical memory and I/O port windows: 256 single-byte reads in ascending
// order, and the writes of the value entry. Memory below 4 GiB wraps at
// 4 GiB, as a 32-bit address does; above it addresses run on to the
// processor's physical address width. Ports wrap at 0x10000. Memory is
// reached only where the page tables map it (hw/phys.h).
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

// The bytes of pages that are not mapped are not read, and marked absent.
void read_memory_window(uint64_t base, RegisterWindow& window);
void read_io_window(uint16_t base, RegisterWindow& window);

// One store of `size` bytes (1, 2 or 4) at any alignment, little-endian.
// False, with nothing written, where the page tables do not map the bytes
// writable.
bool write_memory(uint64_t address, int size, uint32_t value);

// Ports are written a byte at a time from the highest port down: a word
// writes port + 1 then port, a dword port + 3 down to port. No wider port
// access: many legacy devices decode only byte accesses.
void write_io(uint16_t port, int size, uint32_t value);

// One load of `size` bytes (1, 2 or 4) at any alignment, little-endian: a
// register that must be read whole is read whole. False, with nothing read,
// where the page tables do not map the bytes.
bool read_memory(uint64_t address, int size, uint32_t* value);

// `size` byte reads from `port` up, as the I/O page reads its window;
// little-endian.
uint32_t read_io(uint16_t port, int size);

}  // namespace kvq::memio
