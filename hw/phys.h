// Physical memory, reached only where the live page tables map it. Every
// memory access of kvq goes through here: a Span is a stretch of memory
// whose pages were all found mapped when it was opened, and its reads and
// writes stay inside it. What lies outside, or was not mapped, reads as all
// ones without an access, and is never written.
#pragma once
#include <stdint.h>

#include "platform/paging.h"

namespace kvq::phys {

inline constexpr uint64_t kPageSize = 4096;

// Whether every page of [address, address + length) is mapped to itself
// for `access`. False for an empty or wrapping range.
bool mapped(uint64_t address, uint64_t length, paging::Access access = paging::Access::kRead);

// The bits of physical address kvq can reach: the processor's physical
// address width (CPUID), but 32 for an IA-32 image, which reaches only the
// first 4 GiB; and the highest such address.
int address_bits();
uint64_t highest_address();

class Span {
 public:
  constexpr Span() = default;
  // Opens [base, base + length) if all of it is mapped; otherwise the span
  // is empty. A span opened for writing was found writable.
  Span(uint64_t base, uint64_t length, paging::Access access = paging::Access::kRead);

  bool ok() const { return length_ != 0; }
  uint64_t base() const { return base_; }
  uint64_t length() const { return length_; }
  bool holds(uint64_t offset, uint64_t bytes) const { return bytes <= length_ && offset <= length_ - bytes; }

  // One access of `bytes` (1, 2, 4 or 8) at base + offset, any alignment.
  uint64_t read(uint64_t offset, int bytes) const;
  uint8_t read8(uint64_t offset) const { return static_cast<uint8_t>(read(offset, 1)); }
  uint16_t read16(uint64_t offset) const { return static_cast<uint16_t>(read(offset, 2)); }
  uint32_t read32(uint64_t offset) const { return static_cast<uint32_t>(read(offset, 4)); }
  // Nothing is written outside the span or in a span opened for reading.
  void write(uint64_t offset, int bytes, uint64_t value) const;
  void write8(uint64_t offset, uint8_t value) const { write(offset, 1, value); }
  void write32(uint64_t offset, uint32_t value) const { write(offset, 4, value); }
  // A little-endian field of `bytes` bytes read a byte at a time (table
  // fields need not be aligned).
  uint64_t read_le(uint64_t offset, int bytes) const;

 private:
  uint64_t base_ = 0;
  uint64_t length_ = 0;
  bool writable_ = false;
};

}  // namespace kvq::phys
