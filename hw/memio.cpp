#include "hw/memio.h"

#include "hw/apic.h"
#include "hw/phys.h"
#include "platform/firmware.h"
#include "platform/hw.h"
#include "platform/memory_space.h"

namespace kvq::memio {
namespace {

constexpr uint64_t kPageMask = ~(phys::kPageSize - 1);

bool aligned(uint64_t address, int size) { return (address & static_cast<uint64_t>(size - 1)) == 0; }

// The local APIC lies wherever IA32_APIC_BASE puts it, in a range the
// firmware's map gives as MMIO or reserved, never in RAM: MSR 1Bh is read
// only for a page that may be an APIC's.
bool dword_only(uint64_t page, MemoryType type) {
  return type != MemoryType::kRam && apic::dword_only(page, apic::local_page());
}

// `count` bytes from `address`, all in one page, as cells of `size` bytes
// (from the covering dwords in an APIC's page). The walk and the loads are
// one step. False, with nothing read, where the tables do not map the page.
bool read_page(uint64_t address, int count, int size, bool dwords, uint8_t* out) {
  const plat::EventsBlocked held;
  const phys::Span page(address & kPageMask, phys::kPageSize);
  if (!page.ok()) return false;
  const uint64_t first = address - page.base();
  uint64_t dword = ~uint64_t{0};
  uint32_t held_dword = 0;
  for (int i = 0; i < count; i += dwords ? 1 : size) {
    const uint64_t o = first + static_cast<uint64_t>(i);
    if (dwords) {
      if ((o & ~uint64_t{3}) != dword) held_dword = page.read32(dword = o & ~uint64_t{3});
      out[i] = static_cast<uint8_t>(held_dword >> (8 * (o & 3)));
      continue;
    }
    const uint64_t v = page.read(o, size);
    for (int k = 0; k < size; ++k) out[i + k] = static_cast<uint8_t>(v >> (8 * k));
  }
  return true;
}

// Bytes [base, base + count): a window's (wrapping at 4 GiB below it) or a
// typed value's. A page at a time, each asked of the memory space map first
// (which the firmware must not be asked with events held off).
void read_range(uint64_t base, int count, int size, bool wrap, uint8_t* out, bool* absent) {
  const int step = aligned(base, size) ? size : 1;
  for (int i = 0; i < count;) {
    const uint64_t a = wrap ? window_address(base, static_cast<uint64_t>(i)) : base + static_cast<uint64_t>(i);
    const uint64_t room = phys::kPageSize - (a & (phys::kPageSize - 1));
    const int n = room < static_cast<uint64_t>(count - i) ? static_cast<int>(room) : count - i;
    const MemoryType type = memory_type(a);
    const bool read = type != MemoryType::kNone && read_page(a, n, step, dword_only(a & kPageMask, type), out + i);
    for (int k = i; k < i + n; ++k) {
      absent[k] = !read;
      if (!read) out[k] = 0xFF;
    }
    i += n;
  }
}

// Why a byte was not read: the page tables' answer comes first, as the
// processor would fault on it whatever the map says.
Refusal unread(uint64_t address) {
  return phys::mapped(address, 1) && memory_type(address) == MemoryType::kNone ? Refusal::kNoMemory : Refusal::kUnmapped;
}

uint32_t port_in(uint16_t port, int size) {
  switch (size) {
    case 4:
      return plat::port_in32(port);
    case 2:
      return plat::port_in16(port);
    default:
      return plat::port_in8(port);
  }
}

}  // namespace

// The GCD memory types by number: persistent and more reliable memory are
// RAM; unaccepted memory faults when touched, as nothing would answer.
constexpr MemoryType kGcdTypes[] = {MemoryType::kNone, MemoryType::kReserved, MemoryType::kRam, MemoryType::kMmio,
                                    MemoryType::kRam,  MemoryType::kRam,      MemoryType::kNone};
static_assert(sizeof(kGcdTypes) / sizeof(kGcdTypes[0]) == static_cast<size_t>(plat::GcdType::kUnaccepted) + 1);

// By MemoryType, and by Refusal.
constexpr const char16_t* kTypeNames[] = {u"", u"none", u"RAM", u"MMIO", u"reserved"};
constexpr const char16_t* kReasons[] = {
    u"",
    u"is not in the firmware's memory space map",
    u"is not mapped by the firmware's page tables",
    u"is mapped read-only",
    u"is not aligned to the width",
    u"is an APIC register: aligned dwords only",
};
static_assert(sizeof(kTypeNames) / sizeof(kTypeNames[0]) == static_cast<size_t>(MemoryType::kReserved) + 1 &&
              sizeof(kReasons) / sizeof(kReasons[0]) == static_cast<size_t>(Refusal::kDwordOnly) + 1);

MemoryType memory_type(uint64_t address) {
  const plat::GcdType type = plat::memory_space_type(address);
  if (type == plat::GcdType::kNoMap) return MemoryType::kUnknown;
  // A type this kvq does not know is taken as nothing to touch.
  const auto n = static_cast<size_t>(type);
  return n < sizeof(kGcdTypes) / sizeof(kGcdTypes[0]) ? kGcdTypes[n] : MemoryType::kNone;
}

const char16_t* type_name(MemoryType type) { return kTypeNames[static_cast<int>(type)]; }

const char16_t* why(Refusal refusal) { return kReasons[static_cast<int>(refusal)]; }

void read_memory_window(uint64_t base, int size, RegisterWindow& window) {
  read_range(base, 256, size, true, window.bytes, window.absent);
}

void read_io_window(uint16_t base, int size, RegisterWindow& window) {
  window.all_present();
  const int step = aligned(base, size) ? size : 1;
  for (int i = 0; i < 256; i += step) {
    const uint32_t v = port_in(static_cast<uint16_t>(base + i), step);
    for (int k = 0; k < step; ++k) window.bytes[i + k] = static_cast<uint8_t>(v >> (8 * k));
  }
}

Refusal read_value(uint64_t address, int size, uint32_t* value) {
  uint8_t bytes[4] = {};
  bool absent[4] = {};
  read_range(address, size, size, false, bytes, absent);
  for (int i = 0; i < size; ++i) {
    if (absent[i]) return unread(address + static_cast<uint64_t>(i));
  }
  *value = 0;
  for (int i = size - 1; i >= 0; --i) *value = (*value << 8) | bytes[i];
  return Refusal::kNone;
}

Refusal write_value(uint64_t address, int size, uint32_t value) {
  if (!aligned(address, size)) return Refusal::kUnaligned;
  const MemoryType type = memory_type(address);
  if (type == MemoryType::kNone) return unread(address);
  // A narrower store would leave the register's other bytes to chance.
  if (size < 4 && dword_only(address & kPageMask, type)) return Refusal::kDwordOnly;
  const plat::EventsBlocked held;
  const phys::Span span(address, static_cast<uint64_t>(size), paging::Access::kWrite);
  if (!span.ok()) return phys::mapped(address, static_cast<uint64_t>(size)) ? Refusal::kReadOnly : Refusal::kUnmapped;
  span.write(0, size, value);
  return Refusal::kNone;
}

bool read_memory(uint64_t address, int size, uint32_t* value) {
  const plat::EventsBlocked held;
  const phys::Span span(address, static_cast<uint64_t>(size));
  if (!span.ok()) return false;
  *value = static_cast<uint32_t>(span.read(0, size));
  return true;
}

bool write_memory(uint64_t address, int size, uint32_t value) {
  if (!aligned(address, size)) return false;
  const plat::EventsBlocked held;
  const phys::Span span(address, static_cast<uint64_t>(size), paging::Access::kWrite);
  if (!span.ok()) return false;
  span.write(0, size, value);
  return true;
}

void write_io(uint16_t port, int size, uint32_t value) {
  switch (size) {
    case 4:
      plat::port_out32(port, value);
      break;
    case 2:
      plat::port_out16(port, static_cast<uint16_t>(value));
      break;
    default:
      plat::port_out8(port, static_cast<uint8_t>(value));
      break;
  }
}

uint32_t read_io(uint16_t port, int size) {
  if (aligned(port, size)) return port_in(port, size);
  uint32_t v = 0;
  for (int i = 0; i < size; ++i) v |= static_cast<uint32_t>(plat::port_in8(static_cast<uint16_t>(port + i))) << (8 * i);
  return v;
}

}  // namespace kvq::memio
