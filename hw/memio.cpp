#include "hw/memio.h"

#include "hw/phys.h"
#include "platform/hw.h"

namespace kvq::memio {

// The window spans at most two pages (three where it wraps at 4 GiB); each
// is looked up once, then its bytes are read one by one.
void read_memory_window(uint64_t base, RegisterWindow& window) {
  uint64_t page = ~uint64_t{0};
  phys::Span span;
  for (uint32_t i = 0; i < 256; ++i) {
    const uint64_t a = window_address(base, i);
    if ((a & ~(phys::kPageSize - 1)) != page) {
      page = a & ~(phys::kPageSize - 1);
      span = phys::Span(page, phys::kPageSize);
    }
    window.absent[i] = !span.ok();
    window.bytes[i] = span.read8(a - page);
  }
}

void read_io_window(uint16_t base, RegisterWindow& window) {
  window.all_present();
  for (int i = 0; i < 256; ++i) window.bytes[i] = plat::port_in8(static_cast<uint16_t>(base + i));
}

bool write_memory(uint64_t address, int size, uint32_t value) {
  const phys::Span span(address, static_cast<uint64_t>(size), paging::Access::kWrite);
  if (!span.ok()) return false;
  span.write(0, size, value);
  return true;
}

void write_io(uint16_t port, int size, uint32_t value) {
  for (int i = size - 1; i >= 0; --i) {
    plat::port_out8(static_cast<uint16_t>(port + i), static_cast<uint8_t>(value >> (8 * i)));
  }
}

bool read_memory(uint64_t address, int size, uint32_t* value) {
  const phys::Span span(address, static_cast<uint64_t>(size));
  if (!span.ok()) return false;
  *value = static_cast<uint32_t>(span.read(0, size));
  return true;
}

uint32_t read_io(uint16_t port, int size) {
  uint32_t v = 0;
  for (int i = 0; i < size; ++i) {
    v |= static_cast<uint32_t>(plat::port_in8(static_cast<uint16_t>(port + i))) << (8 * i);
  }
  return v;
}

}  // namespace kvq::memio
