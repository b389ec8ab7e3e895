// Physical memory and I/O port windows: 256 single-byte reads in ascending
// order, and the writes of the value entry. Memory addresses wrap at 4 GiB,
// ports at 0x10000.
#pragma once
#include <stdint.h>

#include "hw/window.h"

namespace kvq::memio {

void read_memory_window(uint32_t base, RegisterWindow& window);
void read_io_window(uint16_t base, RegisterWindow& window);

// One store of `size` bytes (1, 2 or 4) at any alignment, little-endian.
void write_memory(uint32_t address, int size, uint32_t value);

// Ports are written a byte at a time from the highest port down: a word
// writes port + 1 then port, a dword port + 3 down to port. No wider port
// access: many legacy devices decode only byte accesses.
void write_io(uint16_t port, int size, uint32_t value);

// One load of `size` bytes (1, 2 or 4) at any alignment, little-endian: a
// register that must be read whole is read whole.
uint32_t read_memory(uint32_t address, int size);

// `size` byte reads from `port` up, as the I/O page reads its window;
// little-endian.
uint32_t read_io(uint16_t port, int size);

}  // namespace kvq::memio
