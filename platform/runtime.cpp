#include "platform/runtime.h"

namespace kvq::rt {

void* mem_set(void* dst, int value, size_t n) {
  // Byte stores through a volatile pointer, so the compiler cannot turn the
  // loop back into a call of the very function it implements.
  volatile unsigned char* d = static_cast<unsigned char*>(dst);
  for (size_t i = 0; i < n; ++i) d[i] = static_cast<unsigned char>(value);
  return dst;
}

void* mem_copy(void* dst, const void* src, size_t n) {
  volatile unsigned char* d = static_cast<unsigned char*>(dst);
  const unsigned char* s = static_cast<const unsigned char*>(src);
  for (size_t i = 0; i < n; ++i) d[i] = s[i];
  return dst;
}

void* mem_move(void* dst, const void* src, size_t n) {
  volatile unsigned char* d = static_cast<unsigned char*>(dst);
  const unsigned char* s = static_cast<const unsigned char*>(src);
  if (d < s) {
    for (size_t i = 0; i < n; ++i) d[i] = s[i];
  } else {
    for (size_t i = n; i > 0; --i) d[i - 1] = s[i - 1];
  }
  return dst;
}

int mem_compare(const void* a, const void* b, size_t n) {
  const unsigned char* x = static_cast<const unsigned char*>(a);
  const unsigned char* y = static_cast<const unsigned char*>(b);
  for (size_t i = 0; i < n; ++i) {
    if (x[i] != y[i]) return x[i] < y[i] ? -1 : 1;
  }
  return 0;
}

uint64_t udivmod64(uint64_t n, uint64_t d, uint64_t* rem) {
  if (d == 0) {
    if (rem != nullptr) *rem = n;
    return ~uint64_t{0};
  }
  if ((n >> 32) == 0 && (d >> 32) == 0) {
    // Both fit a 32-bit divide, which IA-32 has.
    const uint32_t n32 = static_cast<uint32_t>(n);
    const uint32_t d32 = static_cast<uint32_t>(d);
    if (rem != nullptr) *rem = n32 % d32;
    return n32 / d32;
  }
  // Shift-and-subtract, one quotient bit per step.
  uint64_t q = 0;
  uint64_t r = 0;
  for (int bit = 63; bit >= 0; --bit) {
    const bool carry = (r >> 63) != 0;
    r = (r << 1) | ((n >> bit) & 1);
    if (carry || r >= d) {
      r -= d;
      q |= uint64_t{1} << bit;
    }
  }
  if (rem != nullptr) *rem = r;
  return q;
}

int64_t sdivmod64(int64_t n, int64_t d, int64_t* rem) {
  const bool neg_n = n < 0;
  const bool neg_d = d < 0;
  const uint64_t un = neg_n ? uint64_t{0} - static_cast<uint64_t>(n) : static_cast<uint64_t>(n);
  const uint64_t ud = neg_d ? uint64_t{0} - static_cast<uint64_t>(d) : static_cast<uint64_t>(d);
  uint64_t ur = 0;
  const uint64_t uq = udivmod64(un, ud, &ur);
  // C semantics: the quotient truncates toward zero, the remainder takes the
  // dividend's sign.
  if (rem != nullptr) *rem = neg_n ? static_cast<int64_t>(uint64_t{0} - ur) : static_cast<int64_t>(ur);
  return (neg_n != neg_d) ? static_cast<int64_t>(uint64_t{0} - uq) : static_cast<int64_t>(uq);
}

}  // namespace kvq::rt
