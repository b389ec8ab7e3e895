// Port I/O and physical memory on the bare machine. Each access is one
// instruction of the stated width in inline assembly: the compiler can
// neither merge, split nor reorder it, and a narrow load lands in a register
// of its own width. Some devices (the e1000e under QEMU) answer a byte read
// with garbage above bit 7 in the wider register, so a byte read must never
// be taken as a wider value.
#include "platform/hw.h"
#include "platform/uefi/efi.h"

namespace kvq::plat {
namespace {
// Firmware runs identity-mapped: a physical address is the pointer.
inline uintptr_t pointer_of(uint64_t addr) { return static_cast<uintptr_t>(addr); }
}  // namespace

uint8_t port_in8(uint16_t port) {
  uint8_t v;
  asm volatile("inb %w1, %b0" : "=a"(v) : "Nd"(port) : "memory");
  return v;
}

uint16_t port_in16(uint16_t port) {
  uint16_t v;
  asm volatile("inw %w1, %w0" : "=a"(v) : "Nd"(port) : "memory");
  return v;
}

uint32_t port_in32(uint16_t port) {
  uint32_t v;
  asm volatile("inl %w1, %0" : "=a"(v) : "Nd"(port) : "memory");
  return v;
}

void port_out8(uint16_t port, uint8_t value) { asm volatile("outb %b0, %w1" : : "a"(value), "Nd"(port) : "memory"); }

void port_out16(uint16_t port, uint16_t value) { asm volatile("outw %w0, %w1" : : "a"(value), "Nd"(port) : "memory"); }

void port_out32(uint16_t port, uint32_t value) { asm volatile("outl %0, %w1" : : "a"(value), "Nd"(port) : "memory"); }

uint8_t mem_read8(uint64_t addr) {
  uint8_t v;
  asm volatile("movb (%1), %0" : "=q"(v) : "r"(pointer_of(addr)) : "memory");
  return v;
}

uint16_t mem_read16(uint64_t addr) {
  uint16_t v;
  asm volatile("movw (%1), %0" : "=r"(v) : "r"(pointer_of(addr)) : "memory");
  return v;
}

uint32_t mem_read32(uint64_t addr) {
  uint32_t v;
  asm volatile("movl (%1), %0" : "=r"(v) : "r"(pointer_of(addr)) : "memory");
  return v;
}

uint64_t mem_read64(uint64_t addr) {
#if defined(__x86_64__)
  uint64_t v;
  asm volatile("movq (%1), %0" : "=r"(v) : "r"(pointer_of(addr)) : "memory");
  return v;
#else
  // No 64-bit general register on IA-32: two loads, low dword first.
  const uint32_t lo = mem_read32(addr);
  const uint32_t hi = mem_read32(addr + 4);
  return (static_cast<uint64_t>(hi) << 32) | lo;
#endif
}

void mem_write8(uint64_t addr, uint8_t value) {
  asm volatile("movb %0, (%1)" : : "q"(value), "r"(pointer_of(addr)) : "memory");
}

void mem_write16(uint64_t addr, uint16_t value) {
  asm volatile("movw %0, (%1)" : : "r"(value), "r"(pointer_of(addr)) : "memory");
}

void mem_write32(uint64_t addr, uint32_t value) {
  asm volatile("movl %0, (%1)" : : "r"(value), "r"(pointer_of(addr)) : "memory");
}

void stall_us(uint32_t microseconds) { efi::g_system_table->boot_services->stall(microseconds); }

}  // namespace kvq::plat
