// The register window: the 256 bytes of one register space that the current
// grid page shows, refilled from the hardware on every pass.
#pragma once
#include <stdint.h>

namespace kvq {

struct RegisterWindow {
  uint8_t bytes[256] = {};
  // Bytes that were not read, because the page they lie in is not mapped:
  // the grid shows them as "--". Every read of a window sets all 256.
  bool absent[256] = {};

  // Whether any of `size` bytes from `offset` was not read.
  bool any_absent(int offset, int size) const {
    for (int i = 0; i < size; ++i) {
      if (absent[(offset + i) & 0xFF]) return true;
    }
    return false;
  }
  void all_present() {
    for (bool& a : absent) a = false;
  }

  // The little-endian value of `size` bytes (1, 2 or 4) from `offset`.
  uint32_t value(int offset, int size) const {
    uint32_t v = 0;
    for (int i = size - 1; i >= 0; --i) v = (v << 8) | bytes[(offset + i) & 0xFF];
    return v;
  }
  // A declared register (hw/reg.h) of up to four bytes, as the window holds
  // it.
  template <class Reg>
  uint32_t reg() const {
    static_assert(Reg::kWidth <= 4 && Reg::kOffset + Reg::kWidth <= 256, "a register within the window");
    return value(static_cast<int>(Reg::kOffset), Reg::kWidth);
  }
};

// The one window of the program.
extern RegisterWindow g_window;

}  // namespace kvq
