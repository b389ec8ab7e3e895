// The one hardware seam: every port, memory and stall access of kvq goes
// through these functions. The UEFI backend makes each call exactly one
// processor access of the stated width; the simulated board logs it.
//
// Physical addresses are 64 bits wide. These primitives check nothing: the
// callers in hw/ reach memory only through hw/phys.h, which asks the page
// tables first. An IA-32 image never passes an address above 4 GiB.
#pragma once
#include <stdint.h>

namespace kvq::plat {

uint8_t port_in8(uint16_t port);
uint16_t port_in16(uint16_t port);
uint32_t port_in32(uint16_t port);
void port_out8(uint16_t port, uint8_t value);
void port_out16(uint16_t port, uint16_t value);
void port_out32(uint16_t port, uint32_t value);

uint8_t mem_read8(uint64_t addr);
uint16_t mem_read16(uint64_t addr);
uint32_t mem_read32(uint64_t addr);
// On IA-32 this is two 32-bit loads, low dword first; it only ever reads
// RAM (a disk's IDENTIFY answer), never a register.
uint64_t mem_read64(uint64_t addr);
void mem_write8(uint64_t addr, uint8_t value);
void mem_write16(uint64_t addr, uint16_t value);
void mem_write32(uint64_t addr, uint32_t value);

void stall_us(uint32_t microseconds);

}  // namespace kvq::plat
