// PCI configuration space in the shape of pciutils' lib/: a function is one
// Bdf; each way of reaching configuration space is one row of the access
// method table (the ports 0xCF8/0xCFC of configuration mechanism #1, and the
// memory-mapped space that the firmware's MCFG or the host bridge's
// PCIEXBAR places); and every configuration access of kvq goes through one
// choke point, config_read/config_write, that picks the row.
#pragma once
#include <stdint.h>

#include "hw/reg.h"
#include "hw/window.h"

namespace kvq::pci {

// One function: PCI segment (domain), bus, device, function.
struct Bdf {
  uint16_t segment = 0;
  uint8_t bus = 0;
  uint8_t device = 0;
  uint8_t function = 0;
  constexpr bool operator==(const Bdf&) const = default;
};

inline constexpr uint16_t kAddressPort = 0xCF8;
inline constexpr uint16_t kDataPort = 0xCFC;

// Configuration address of register 0 of a function. The arithmetic is the
// mechanism's own and masks nothing: a device above 31 or a function above 7
// spills into the next field, and only the low 32 bits remain.
constexpr uint32_t config_address(int32_t bus, int32_t device, int32_t function) {
  return 0x80000000u | (static_cast<uint32_t>(bus) << 16) | (static_cast<uint32_t>(device) << 11) |
         (static_cast<uint32_t>(function) << 8);
}
constexpr uint32_t config_address(const Bdf& f) { return config_address(f.bus, f.device, f.function); }

// Where a function's 4 KiB lie in a memory-mapped configuration space,
// counted from the space's bus 0: 1 MiB a bus, 32 KiB a device, 4 KiB a
// function. The one place this arithmetic is written.
constexpr uint64_t memory_mapped_offset(const Bdf& f) {
  return (uint64_t{f.bus} << 20) | (uint64_t{f.device} << 15) | (uint64_t{f.function} << 12);
}

using reg::Field;
using reg::Register;

// The header registers kvq reads by name (type 0 and type 1 headers alike
// up to 0x0F; BAR0, the capability pointer and the interrupt line of a
// type 0 header).
namespace hdr {
struct Id : Register<0x00, 4> {
  using Device = Field<31, 16>;
  using Vendor = Field<15, 0>;
};
static_assert(reg::fields_fit<Id, Id::Device, Id::Vendor>());
struct VendorId : Register<0x00, 2> {};
struct DeviceId : Register<0x02, 2> {};
struct Command : Register<0x04, 2> {
  using BusMaster = Field<2, 2>;
  using MemorySpace = Field<1, 1>;
  using IoSpace = Field<0, 0>;
};
static_assert(reg::fields_fit<Command, Command::BusMaster, Command::MemorySpace, Command::IoSpace>());
struct Status : Register<0x06, 2> {
  using CapabilitiesList = Field<4, 4>;  // the capability pointer at 34h is valid
};
static_assert(reg::fields_fit<Status, Status::CapabilitiesList>());
struct ClassRevision : Register<0x08, 4> {
  using BaseClass = Field<31, 24>;
  using SubClass = Field<23, 16>;
  using ProgIf = Field<15, 8>;
  using Revision = Field<7, 0>;
};
static_assert(reg::fields_fit<ClassRevision, ClassRevision::BaseClass, ClassRevision::SubClass, ClassRevision::ProgIf,
                              ClassRevision::Revision>());
struct RevisionId : Register<0x08, 1> {};
struct ProgIf : Register<0x09, 1> {};
struct SubClass : Register<0x0A, 1> {};
struct BaseClass : Register<0x0B, 1> {};
// A base address register: an I/O BAR has bit 0 set and its address in
// 31:2; a memory BAR its type in 2:1 (0 32-bit, 2 64-bit) and its address
// in 31:4.
template <int N>
struct Bar : Register<0x10 + 4 * N, 4> {
  static_assert(N >= 0 && N <= 5, "a type 0 header has six BARs");
  using MemoryAddress = Field<31, 4>;
  using Prefetchable = Field<3, 3>;
  using MemoryType = Field<2, 1>;
  using IoAddress = Field<31, 2>;
  using IoSpace = Field<0, 0>;
  static_assert(reg::high_bit_first<MemoryAddress, Prefetchable, MemoryType, IoSpace>());
};
using Bar0 = Bar<0>;
static_assert(reg::fields_fit<Bar0, Bar0::MemoryAddress, Bar0::Prefetchable, Bar0::MemoryType, Bar0::IoSpace>());
struct CapabilitiesPointer : Register<0x34, 1> {};
struct InterruptLine : Register<0x3C, 1> {};
}  // namespace hdr

// Intel's host bridge (0:0.0): PCIEXBAR places the memory-mapped
// configuration space. The base is the register with its low four bits
// cleared (bits 31:26 hold it; the bits below read 0).
struct Pciexbar : Register<0x60, 4> {
  using Address = Field<31, 4>;
  using Length = Field<2, 1>;  // 256, 128 or 64 MiB
  using Enable = Field<0, 0>;
};
static_assert(reg::fields_fit<Pciexbar, Pciexbar::Address, Pciexbar::Length, Pciexbar::Enable>());
inline constexpr Bdf kHostBridge = {0, 0, 0, 0};

// The access method table, one row per way of reaching configuration space.
enum class Method : uint8_t { kPorts, kMemoryMapped };

struct AccessMethod {
  Method method;
  const char16_t* name;
  uint32_t size;  // bytes of configuration space it reaches: 256 or 4096
  // Whether this board reaches the function this way.
  bool (*reaches)(const Bdf& f);
  // `width` bytes (1, 2 or 4) at an offset aligned to them, little-endian.
  uint32_t (*read)(const Bdf& f, uint32_t offset, int width);
  void (*write)(const Bdf& f, uint32_t offset, int width, uint32_t value);
};

inline constexpr int kMethodCount = 2;
extern const AccessMethod kAccessMethods[kMethodCount];

// The choke point. A register is reached through the first method that
// covers it and reaches the function: the ports for the first 256 bytes,
// the memory-mapped space for the rest when the board has one that shows
// the function. Null when no method reaches it, and for an access that is
// not aligned to its width.
const AccessMethod* method_for(const Bdf& f, uint32_t offset, int width);
inline bool reaches(const Bdf& f, uint32_t offset, int width = 1) { return method_for(f, offset, width) != nullptr; }
// All ones, with no access, where no method reaches the register.
uint32_t config_read(const Bdf& f, uint32_t offset, int width);
// Nothing is written where no method reaches the register.
void config_write(const Bdf& f, uint32_t offset, int width, uint32_t value);

// A declared register of the function, read whole.
template <class Reg>
uint32_t read(const Bdf& f) {
  return config_read(f, Reg::kOffset, Reg::kWidth);
}

// The data port read again under the address the last ports access
// latched, `width` 1 or 4: one register read more than once under one
// address, as the SATA mode query reads it.
uint32_t config_read_latched(int width);

// Registers 0x00..0xFF of the function into the window, 64 dword reads in
// ascending order.
void read_window(const Bdf& f, RegisterWindow& window);

// What the board has is found on first need (the memory-mapped space, and
// whether the last function asked about shows through it); start-up and
// every command start afresh.
void forget_board();

// The PCIE page's address of a function's memory-mapped configuration
// space, as its "Memory Address" line and S key use it: register 0x60 of
// 0:0.0 read afresh, its low four bits cleared, in 32-bit arithmetic, with
// nothing checked.
uint32_t extended_base();
uint32_t extended_address(const Bdf& f);

struct TableEntry {
  Bdf bdf;
  uint16_t device_id;
  uint16_t vendor_id;
};

inline constexpr int kTableCapacity = 500;

struct DeviceTable {
  TableEntry entries[kTableCapacity] = {};
  int32_t count = 0;
};

// The table the bus scan fills once at start-up.
extern DeviceTable g_devices;

// Probes every bus, device and function of segment 0 (function 0 absent or
// not, single-function header or not) and stores each that answers, in scan
// order. A board with more than the table holds keeps the first 500 and
// counts 500.
int32_t scan(DeviceTable& table);

// PCI Express: the function's capability list (status bit 4, pointer at
// 0x34) holds a capability with ID 0x10. The bounded walk of hw/pci_caps.h
// over the window already read: no access of its own.
bool is_express(const RegisterWindow& window);

}  // namespace kvq::pci
