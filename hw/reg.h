// Registers declared the way the hardware documents lay them out: a register
// is a place (an offset in its space) and a width in bytes, and its fields
// are bit ranges declared high bit first. Reads then name the register, not
// an offset, and the compiler checks each declaration against the document.
#pragma once
#include <stddef.h>
#include <stdint.h>

namespace kvq::reg {

// Bits High..Low of a register of up to 32 bits.
template <int High, int Low>
struct Field {
  static_assert(0 <= Low && Low <= High && High <= 31, "a field lies within the 32 bits of its register");
  static constexpr int kHigh = High;
  static constexpr int kLow = Low;
  static constexpr uint32_t kMask = static_cast<uint32_t>(((uint64_t{1} << (High - Low + 1)) - 1) << Low);

  static constexpr uint32_t get(uint32_t reg) { return (reg & kMask) >> Low; }
  // The register with this field set to `value` (cut to the field's width).
  static constexpr uint32_t with(uint32_t reg, uint32_t value) { return (reg & ~kMask) | ((value << Low) & kMask); }
};

// A register's fields, listed from the high bit down, without overlaps.
template <class... Fields>
constexpr bool high_bit_first() {
  constexpr int highs[] = {Fields::kHigh...};
  constexpr int lows[] = {Fields::kLow...};
  for (size_t i = 1; i < sizeof...(Fields); ++i) {
    if (highs[i] >= lows[i - 1]) return false;
  }
  return true;
}

// A register, or a field of a memory structure, of `Width` bytes at
// `Offset` in its space (configuration space, a register block, a table).
template <uint32_t Offset, int Width>
struct Register {
  static_assert(Width >= 1 && Width <= 8, "a register is one to eight bytes wide");
  static constexpr uint32_t kOffset = Offset;
  static constexpr int kWidth = Width;
};

// The fields fit within the register's width.
template <class Reg, class... Fields>
constexpr bool fields_fit() {
  constexpr int highs[] = {Fields::kHigh...};
  for (int h : highs) {
    if (h >= 8 * Reg::kWidth) return false;
  }
  return high_bit_first<Fields...>();
}

}  // namespace kvq::reg
