// The IA-32 runtime helpers, checked against the host's own arithmetic.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "platform/runtime.h"

namespace kvq {
namespace {

TEST(RuntimeTest, UnsignedDivisionMatchesHardware) {
  std::mt19937_64 rng(12345);
  const uint64_t edges[] = {0, 1, 2, 3, 7, 10, 1000, 0xFFFFFFFFull, 0x100000000ull, 0x100000001ull,
                            0x7FFFFFFFFFFFFFFFull, 0x8000000000000000ull, 0xFFFFFFFFFFFFFFFFull};
  auto check = [](uint64_t n, uint64_t d) {
    uint64_t r = 0;
    const uint64_t q = rt::udivmod64(n, d, &r);
    ASSERT_EQ(q, n / d) << n << " / " << d;
    ASSERT_EQ(r, n % d) << n << " % " << d;
  };
  for (uint64_t n : edges) {
    for (uint64_t d : edges) {
      if (d != 0) check(n, d);
    }
  }
  for (int i = 0; i < 20000; ++i) {
    const uint64_t n = rng() >> (rng() % 64);
    const uint64_t d = (rng() >> (rng() % 64)) | 1;
    check(n, d);
  }
  uint64_t r = 0;
  EXPECT_EQ(rt::udivmod64(42, 0, &r), ~0ull);
  EXPECT_EQ(r, 42u);
}

TEST(RuntimeTest, SignedDivisionTruncatesTowardZero) {
  const int64_t values[] = {0, 1, -1, 7, -7, 3, -3, 1000000007, -1000000007, INT64_MAX, INT64_MIN + 1};
  for (int64_t n : values) {
    for (int64_t d : values) {
      if (d == 0) continue;
      int64_t r = 0;
      ASSERT_EQ(rt::sdivmod64(n, d, &r), n / d) << n << " / " << d;
      ASSERT_EQ(r, n % d) << n << " % " << d;
    }
  }
}

TEST(RuntimeTest, MemoryFillsCopiesAndOverlappingMoves) {
  unsigned char a[32];
  rt::mem_set(a, 0xA5, sizeof a);
  for (unsigned char c : a) ASSERT_EQ(c, 0xA5);
  unsigned char b[32];
  for (int i = 0; i < 32; ++i) b[i] = static_cast<unsigned char>(i);
  rt::mem_copy(a, b, 32);
  EXPECT_EQ(std::memcmp(a, b, 32), 0);
  EXPECT_EQ(rt::mem_compare(a, b, 32), 0);
  a[5] = 0;
  EXPECT_LT(rt::mem_compare(a, b, 32), 0);
  // Overlap both ways.
  rt::mem_move(b + 4, b, 16);
  for (int i = 0; i < 16; ++i) ASSERT_EQ(b[4 + i], i);
  for (int i = 0; i < 32; ++i) b[i] = static_cast<unsigned char>(i);
  rt::mem_move(b, b + 4, 16);
  for (int i = 0; i < 16; ++i) ASSERT_EQ(b[i], i + 4);
}

}  // namespace
}  // namespace kvq
