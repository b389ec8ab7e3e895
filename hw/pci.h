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
#include "platform/firmware.h"

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
struct HeaderType : Register<0x0E, 1> {
  using MultiFunction = Field<7, 7>;  // functions 1 to 7 may answer
  using Layout = Field<6, 0>;
};
static_assert(reg::fields_fit<HeaderType, HeaderType::MultiFunction, HeaderType::Layout>());
struct CapabilitiesPointer : Register<0x34, 1> {};
struct InterruptLine : Register<0x3C, 1> {};
}  // namespace hdr

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

// One address/data section of configuration mechanism #1, the only way kvq
// touches 0xCF8/0xCFC. The firmware's own timer-driven code uses the same
// two ports, so its events are held off while the section lasts, and the
// address port is put back to what it held (the chipset reads the latch
// back). Segment 0 only: the ports know no other.
class PortsSection {
 public:
  PortsSection(const Bdf& f, uint32_t offset);
  ~PortsSection();
  PortsSection(const PortsSection&) = delete;
  PortsSection& operator=(const PortsSection&) = delete;
  // The data port at the register's byte lane (0xCFC + offset AND 3):
  // one access of `width` bytes (1, 2 or 4), as often as asked, all under
  // the one address (the SATA mode query reads one register three times).
  uint32_t read(int width);
  void write(int width, uint32_t value);

 private:
  plat::EventsBlocked blocked_;  // first in, last out
  uint32_t saved_;
  uint16_t lane_;
};

// Registers 0x00..0xFF of the function into the window, 64 dword reads in
// ascending order.
void read_window(const Bdf& f, RegisterWindow& window);

// What the board has is found on first need (the host bridge, the
// memory-mapped spaces, and whether the last function asked about shows
// through them); start-up and every command start afresh.
void forget_board();

// Where the function's 4 KiB of memory-mapped configuration space lie, as
// the PCIE page's "Memory Address" line and S key use them: on an Intel
// host bridge known to have PCIEXBAR, the register read afresh and decoded
// (enable, length, 64-bit base); on any other, or with PCIEXBAR off or not
// reaching the bus, the MCFG space of the function's segment and bus; else
// none. Register 60h of an unknown host bridge is never read for this.
struct MappedAddress {
  bool present = false;
  uint64_t address = 0;
};
MappedAddress memory_address(const Bdf& f);

// A function as lspci writes it, "00:1f.2", and "0001:00:1f.2" outside
// segment 0 (or always, with `segment`, as lspci does once any function
// lies outside it); `upper` for the screen's upper-case digits. Returns
// the characters written.
int function_name(const Bdf& f, bool upper, char16_t* out, int capacity, bool segment = false);

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

// The scan of pciutils: every device of every bus of segment 0 through the
// ports, then of every other segment the MCFG lists through its space;
// functions 1 to 7 only where function 0 answers with the multi-function
// bit (header type bit 7) set. A vendor ID of 0001h (the function asks to
// be asked again: Configuration Request Retry Status) is read again after a
// doubling wait, about a second in all, and never listed. A board with more
// than the table holds keeps the first 500 and counts 500.
int32_t scan(DeviceTable& table);

// PCI Express: the function's capability list (status bit 4, pointer at
// 0x34) holds a capability with ID 0x10. The bounded walk of hw/pci_caps.h
// over the window already read: no access of its own.
bool is_express(const RegisterWindow& window);

}  // namespace kvq::pci
