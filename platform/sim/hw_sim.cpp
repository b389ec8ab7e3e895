// The hardware seam on the host: every access goes to the simulated board.
#include "platform/hw.h"
#include "platform/sim/board.h"

namespace kvq::plat {

uint8_t port_in8(uint16_t port) { return static_cast<uint8_t>(sim::board().port_read(port, 8)); }
uint16_t port_in16(uint16_t port) { return static_cast<uint16_t>(sim::board().port_read(port, 16)); }
uint32_t port_in32(uint16_t port) { return sim::board().port_read(port, 32); }
void port_out8(uint16_t port, uint8_t value) { sim::board().port_write(port, 8, value); }
void port_out16(uint16_t port, uint16_t value) { sim::board().port_write(port, 16, value); }
void port_out32(uint16_t port, uint32_t value) { sim::board().port_write(port, 32, value); }

uint8_t mem_read8(uint64_t addr) { return static_cast<uint8_t>(sim::board().mem_read(addr, 8)); }
uint16_t mem_read16(uint64_t addr) { return static_cast<uint16_t>(sim::board().mem_read(addr, 16)); }
uint32_t mem_read32(uint64_t addr) { return static_cast<uint32_t>(sim::board().mem_read(addr, 32)); }
uint64_t mem_read64(uint64_t addr) { return sim::board().mem_read(addr, 64); }
void mem_write8(uint64_t addr, uint8_t value) { sim::board().mem_write(addr, 8, value); }
void mem_write16(uint64_t addr, uint16_t value) { sim::board().mem_write(addr, 16, value); }
void mem_write32(uint64_t addr, uint32_t value) { sim::board().mem_write(addr, 32, value); }

void stall_us(uint32_t microseconds) { sim::board().stall(microseconds); }

}  // namespace kvq::plat
