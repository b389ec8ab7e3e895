// What a compiler expects from a C runtime, written for a firmware image
// without one: memory fills and copies, and 64-bit division for IA-32,
// which has no 64-bit divide instruction. The UEFI build exports these
// under the names the compiler calls; the host build tests them directly.
#pragma once
#include <stddef.h>
#include <stdint.h>

namespace kvq::rt {

void* mem_set(void* dst, int value, size_t n);
void* mem_copy(void* dst, const void* src, size_t n);
void* mem_move(void* dst, const void* src, size_t n);
int mem_compare(const void* a, const void* b, size_t n);

// Quotient of n / d, remainder in *rem. Division by zero gives all ones and
// the dividend as remainder rather than a trap.
uint64_t udivmod64(uint64_t n, uint64_t d, uint64_t* rem);
int64_t sdivmod64(int64_t n, int64_t d, int64_t* rem);

}  // namespace kvq::rt
