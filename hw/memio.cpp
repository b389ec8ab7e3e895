#include "hw/memio.h"

#include "platform/hw.h"

namespace kvq::memio {

void read_memory_window(uint32_t base, RegisterWindow& window) {
  for (uint32_t i = 0; i < 256; ++i) window.bytes[i] = plat::mem_read8(base + i);
}

void read_io_window(uint16_t base, RegisterWindow& window) {
  for (int i = 0; i < 256; ++i) window.bytes[i] = plat::port_in8(static_cast<uint16_t>(base + i));
}

void write_memory(uint32_t address, int size, uint32_t value) {
  if (size == 4) {
    plat::mem_write32(address, value);
  } else if (size == 2) {
    plat::mem_write16(address, static_cast<uint16_t>(value));
  } else {
    plat::mem_write8(address, static_cast<uint8_t>(value));
  }
}

void write_io(uint16_t port, int size, uint32_t value) {
  for (int i = size - 1; i >= 0; --i) {
    plat::port_out8(static_cast<uint16_t>(port + i), static_cast<uint8_t>(value >> (8 * i)));
  }
}

uint32_t read_memory(uint32_t address, int size) {
  if (size == 4) return plat::mem_read32(address);
  if (size == 2) return plat::mem_read16(address);
  return plat::mem_read8(address);
}

uint32_t read_io(uint16_t port, int size) {
  uint32_t v = 0;
  for (int i = 0; i < size; ++i) {
    v |= static_cast<uint32_t>(plat::port_in8(static_cast<uint16_t>(port + i))) << (8 * i);
  }
  return v;
}

}  // namespace kvq::memio
