// The live page tables on the bare machine. UEFI applications run at
// privilege level 0, so the control registers can be read directly; the
// tables themselves lie in boot-services memory, which the firmware's
// identity map always covers, and are read as plain loads.
#include "platform/paging.h"

namespace kvq::plat {
namespace {

uintptr_t read_cr0() {
  uintptr_t v;
  asm volatile("mov %%cr0, %0" : "=r"(v));
  return v;
}
uintptr_t read_cr3() {
  uintptr_t v;
  asm volatile("mov %%cr3, %0" : "=r"(v));
  return v;
}
uintptr_t read_cr4() {
  uintptr_t v;
  asm volatile("mov %%cr4, %0" : "=r"(v));
  return v;
}

bool read_entry(uint64_t address, int bytes, uint64_t* entry, void*) {
  // An IA-32 image reaches only the first 4 GiB.
  if (address > UINTPTR_MAX - 8) return false;
  const uintptr_t p = static_cast<uintptr_t>(address);
  *entry = bytes == 8 ? *reinterpret_cast<const volatile uint64_t*>(p) : *reinterpret_cast<const volatile uint32_t*>(p);
  return true;
}

// What CPUID says of entry addresses does not change while kvq runs; asked
// once (CPUID leaves a virtual machine, which may cost a trip to the host).
constinit uint64_t g_address_mask = 0;

}  // namespace

bool page_mapped(uint64_t address, paging::Access access) {
  if (g_address_mask == 0) g_address_mask = entry_address_mask();
  paging::Registers r;
  r.address_mask = g_address_mask;
  r.cr0 = read_cr0();
  r.cr3 = read_cr3();
  r.cr4 = read_cr4();
  // x64 firmware runs in long mode from its first instruction on; IA-32
  // firmware never does.
  r.long_mode = sizeof(uintptr_t) == 8;
  return paging::maps_to_itself(r, address, access, read_entry, nullptr);
}

}  // namespace kvq::plat
