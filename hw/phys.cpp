#include "hw/phys.h"

#include "platform/hw.h"

namespace kvq::phys {

bool mapped(uint64_t address, uint64_t length, paging::Access access) {
  if (length == 0 || address + length - 1 < address || address + length - 1 > highest_address()) return false;
  const uint64_t last = (address + length - 1) & ~(kPageSize - 1);
  for (uint64_t page = address & ~(kPageSize - 1);; page += kPageSize) {
    if (!plat::page_mapped(page, access)) return false;
    if (page == last) return true;
  }
}

int address_bits() { return sizeof(uintptr_t) == 4 ? 32 : plat::physical_address_bits(); }

uint64_t highest_address() {
  const int bits = address_bits();
  return bits >= 64 ? ~uint64_t{0} : (uint64_t{1} << bits) - 1;
}

Span::Span(uint64_t base, uint64_t length, paging::Access access) {
  if (!mapped(base, length, access)) return;
  base_ = base;
  length_ = length;
  writable_ = access == paging::Access::kWrite;
}

uint64_t Span::read(uint64_t offset, int bytes) const {
  const uint64_t none = bytes >= 8 ? ~uint64_t{0} : (uint64_t{1} << (8 * bytes)) - 1;
  if (!holds(offset, static_cast<uint64_t>(bytes))) return none;
  const uint64_t a = base_ + offset;
  switch (bytes) {
    case 1:
      return plat::mem_read8(a);
    case 2:
      return plat::mem_read16(a);
    case 4:
      return plat::mem_read32(a);
    case 8:
      return plat::mem_read64(a);
    default:
      return none;
  }
}

void Span::write(uint64_t offset, int bytes, uint64_t value) const {
  if (!writable_ || !holds(offset, static_cast<uint64_t>(bytes))) return;
  const uint64_t a = base_ + offset;
  switch (bytes) {
    case 1:
      plat::mem_write8(a, static_cast<uint8_t>(value));
      break;
    case 2:
      plat::mem_write16(a, static_cast<uint16_t>(value));
      break;
    case 4:
      plat::mem_write32(a, static_cast<uint32_t>(value));
      break;
    default:
      break;
  }
}

uint64_t Span::read_le(uint64_t offset, int bytes) const {
  uint64_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | read8(offset + static_cast<uint64_t>(i));
  return v;
}

}  // namespace kvq::phys
