// The runtime entry points the compiler calls in a freestanding image.
#include "platform/runtime.h"

extern "C" {
void* memset(void* dst, int value, size_t n) { return kvq::rt::mem_set(dst, value, n); }
void* memcpy(void* dst, const void* src, size_t n) { return kvq::rt::mem_copy(dst, src, n); }
void* memmove(void* dst, const void* src, size_t n) { return kvq::rt::mem_move(dst, src, n); }
int memcmp(const void* a, const void* b, size_t n) { return kvq::rt::mem_compare(a, b, n); }
}

#if defined(__i386__)
// IA-32 has no 64-bit divide: the compiler calls these helpers, with the
// Microsoft names and the callee-pops (stdcall) convention of that target.
extern "C" {
__attribute__((stdcall)) uint64_t kvq_aulldiv(uint64_t n, uint64_t d) __asm__("__aulldiv");
__attribute__((stdcall)) uint64_t kvq_aullrem(uint64_t n, uint64_t d) __asm__("__aullrem");
__attribute__((stdcall)) int64_t kvq_alldiv(int64_t n, int64_t d) __asm__("__alldiv");
__attribute__((stdcall)) int64_t kvq_allrem(int64_t n, int64_t d) __asm__("__allrem");

__attribute__((stdcall)) uint64_t kvq_aulldiv(uint64_t n, uint64_t d) { return kvq::rt::udivmod64(n, d, nullptr); }
__attribute__((stdcall)) uint64_t kvq_aullrem(uint64_t n, uint64_t d) {
  uint64_t r = 0;
  kvq::rt::udivmod64(n, d, &r);
  return r;
}
__attribute__((stdcall)) int64_t kvq_alldiv(int64_t n, int64_t d) { return kvq::rt::sdivmod64(n, d, nullptr); }
__attribute__((stdcall)) int64_t kvq_allrem(int64_t n, int64_t d) {
  int64_t r = 0;
  kvq::rt::sdivmod64(n, d, &r);
  return r;
}
}
#endif
