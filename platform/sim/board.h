// The simulated board: what kvq's hardware seam reaches in host tests and in
// kvq-sim. Port and memory devices claim addresses; what no device claims is
// plain RAM (memory) or an open bus (ports read all ones). Its processors
// implement a set of MSRs and raise #GP on the rest. Every access is logged
// with its kind, width, address and value, in order; MSR accesses and the
// #GP handler's installation and removal with the processor they concern.
#pragma once
#include <stdint.h>

#include <array>
#include <functional>
#include <iosfwd>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/cpu.h"
#include "platform/firmware.h"
#include "platform/memory_space.h"
#include "platform/paging.h"
#include "platform/sim/variables_sim.h"

namespace kvq::sim {

class AhciController;
class HiiModel;

enum class Op : uint8_t { kPortIn, kPortOut, kMemRead, kMemWrite, kStall, kMsrRead, kMsrWrite, kGuardOn, kGuardOff };

struct Access {
  Op op;
  uint8_t width;  // bits: 8, 16, 32, 64 (0 for a stall and the guard)
  uint64_t addr;  // port, physical address, MSR index, microseconds for a
                  // stall, or the guarded vector (13)
  uint64_t value;
  uint8_t cpu = 0;       // MSR accesses and the guard: the processor
  bool refused = false;  // an MSR access that raised #GP
  bool operator==(const Access&) const = default;
};
std::ostream& operator<<(std::ostream& os, const Access& a);

// Shorthands for expected logs.
inline Access in8(uint16_t port, uint8_t v) { return {Op::kPortIn, 8, port, v}; }
inline Access in16(uint16_t port, uint16_t v) { return {Op::kPortIn, 16, port, v}; }
inline Access in32(uint16_t port, uint32_t v) { return {Op::kPortIn, 32, port, v}; }
inline Access out8(uint16_t port, uint8_t v) { return {Op::kPortOut, 8, port, v}; }
inline Access out16(uint16_t port, uint16_t v) { return {Op::kPortOut, 16, port, v}; }
inline Access out32(uint16_t port, uint32_t v) { return {Op::kPortOut, 32, port, v}; }
inline Access rd(int width, uint64_t addr, uint64_t v) { return {Op::kMemRead, static_cast<uint8_t>(width), addr, v}; }
inline Access wr(int width, uint64_t addr, uint64_t v) { return {Op::kMemWrite, static_cast<uint8_t>(width), addr, v}; }
inline Access rdmsr(uint32_t index, uint64_t v, int cpu = 0) {
  return {Op::kMsrRead, 64, index, v, static_cast<uint8_t>(cpu)};
}
inline Access wrmsr(uint32_t index, uint64_t v, int cpu = 0) {
  return {Op::kMsrWrite, 64, index, v, static_cast<uint8_t>(cpu)};
}
inline Access refused(Access a) {
  a.refused = true;
  if (a.op == Op::kMsrRead) a.value = 0;
  return a;
}
inline Access guard_on(int cpu = 0) { return {Op::kGuardOn, 0, 13, 0, static_cast<uint8_t>(cpu)}; }
inline Access guard_off(int cpu = 0) { return {Op::kGuardOff, 0, 13, 0, static_cast<uint8_t>(cpu)}; }

// One MSR of a simulated processor: its value, the bits whose setting
// raises #GP on a write, and whether any write raises #GP.
struct SimMsr {
  uint64_t value = 0;
  uint64_t reserved = 0;
  bool read_only = false;
};

// CPUID answers by (leaf, subleaf); kAnySubleaf: the leaf ignores ECX.
inline constexpr uint32_t kAnySubleaf = 0xFFFFFFFFu;

// One processor: the MSRs it implements (every other index raises #GP),
// its CPUID leaves (others read as zeros), and the microcode revision that
// CPUID leaf 1 loads into MSR 8Bh on an Intel processor.
struct SimCpu {
  std::map<uint32_t, SimMsr> msrs;
  std::map<std::pair<uint32_t, uint32_t>, plat::CpuidRegs> leaves;
  uint32_t intel_microcode = 0;
  bool down = false;  // does not come back from a procedure
  // What GetProcessorInfo reports: disabled by the firmware, or failed its
  // self-test (never woken).
  bool disabled = false;
  bool unhealthy = false;
  // Its IDT's gate for vector 13. The same as processor 0's where the MP
  // driver gave it a copy of the boot processor's IDT; any other value
  // means a #GP there never reaches kvq's handler.
  uint64_t gp_gate = 0;
  plat::CpuidRegs cpuid(uint32_t leaf, uint32_t subleaf) const;
};

// The processors and what the firmware offers to reach them.
struct CpuModel {
  std::vector<SimCpu> cpus = std::vector<SimCpu>(1);  // 0 runs kvq
  bool mp_services = true;    // without it only processor 0 is reached
  bool cpu_protocol = true;   // the CPU architectural protocol
  bool guard_refused = false; // vector 13 already taken
  uint32_t running = 0;       // the processor the code runs on now
  bool guard_installed = false;
  int wakeups = 0;  // StartupThisAP calls, whether the processor came back or not
  // MSR accesses made on a processor whose gate for vector 13 differs from
  // processor 0's. On a board, one that faults there triple-faults and
  // resets it: tests fail on any.
  int unguarded_accesses = 0;
};

// One entry of the firmware's configuration table: a GUID and the
// physical address of its table, which lies in the board's RAM.
struct ConfigEntry {
  plat::Guid guid;
  uint64_t address;
};

// An NVM Express controller behind the firmware's pass-thru protocol, with
// its namespaces: the firmware's driver runs kvq's commands and DMAs the
// answers into kvq's buffer (unlogged: not the processor's accesses).
struct SimNamespace {
  uint32_t nsid;
  uint64_t blocks;    // NSZE
  int block_shift;    // LBADS of the format in use: 9 for 512-byte blocks
};
struct SimNvme {
  uint16_t segment = 0;
  uint8_t bus = 0, device = 0, function = 0;
  std::string model;
  std::string serial;
  std::vector<SimNamespace> namespaces;  // ascending IDs
  uint32_t number_of_namespaces = 256;    // NN: the IDs the firmware walks
  bool active_list = true;                // answers Identify CNS 02h
  bool fails = false;                     // every command fails
  int identifies = 0;  // commands run
};

// The firmware's ATA Pass Thru protocol on one of the board's AHCI
// controllers. Its driver owns the ports (AhciController::driver_identify)
// and keeps the place of the protocol's walk as EDK2's driver does, quirk
// included: after a disk attached without a port multiplier, the next
// GetNextDevice of any port ends the walk.
struct SimAtaPassThru {
  uint16_t segment = 0;
  uint8_t bus = 0, device = 0, function = 0;
  AhciController* hba = nullptr;
  uint32_t io_align = 8;  // sizeof (UINTN) on x64, as EDK2 sets it
  uint16_t previous_port = 0;
  uint16_t previous_multiplier = 0;
  int commands = 0;  // PassThru calls
};

// A stretch of memory a bus master may reach on a board whose DMA is
// guarded before the OS (VT-d, AMD-Vi): what the firmware mapped for its own
// drivers and what PciIo.Map opened for kvq.
struct DmaWindow {
  uint64_t base;
  uint64_t length;
  int id;  // the mapping, 0 for the firmware's own
};

class PortDevice {
 public:
  virtual ~PortDevice() = default;
  virtual bool claims(uint16_t port) const = 0;
  // width in bits: 8, 16 or 32
  virtual uint32_t read(uint16_t port, int width) = 0;
  virtual void write(uint16_t port, int width, uint32_t value) = 0;
};

// A read of `width` bits at `offset` in a block of dword registers: each
// byte from the register that holds it, little-endian, at any alignment.
template <class DwordAt>
uint64_t read_dword_lanes(uint32_t offset, int width, DwordAt dword_at) {
  uint64_t v = 0;
  for (int i = width / 8 - 1; i >= 0; --i) {
    const uint32_t o = offset + static_cast<uint32_t>(i);
    v = (v << 8) | ((dword_at(o & ~3u) >> (8 * (o & 3))) & 0xFF);
  }
  return v;
}

class MemDevice {
 public:
  virtual ~MemDevice() = default;
  virtual bool claims(uint64_t addr) const = 0;
  // width in bits: 8, 16, 32 or 64; addr need not be aligned
  virtual uint64_t read(uint64_t addr, int width) = 0;
  virtual void write(uint64_t addr, int width, uint64_t value) = 0;
};

// One PCI function: 4 KiB of configuration space (256 bytes reachable through
// the ports, all of it through the memory-mapped space) and, per byte, the
// bits a write may change.
class PciFunction {
 public:
  PciFunction(uint16_t vendor, uint16_t device);
  uint8_t cfg[4096] = {};
  uint8_t writable[4096] = {};
  // Status bits a write of 1 clears (RW1C), per byte.
  uint8_t clears[4096] = {};
  // Reads of the vendor ID still answered with Configuration Request Retry
  // Status (0001h, the rest all ones) before the function is ready.
  int retry_reads = 0;

  void set8(int offset, uint8_t v) { cfg[offset] = v; }
  void set16(int offset, uint16_t v);
  void set32(int offset, uint32_t v);
  uint32_t get32(int offset) const;
  void set_writable(int offset, int bytes, uint32_t mask);
  void set_clears(int offset, int bytes, uint32_t mask);
  // `bytes` bytes at `offset` as the bus answers a read.
  uint32_t read(int offset, int bytes);
  // Writes `bytes` bytes at `offset` through the writable mask.
  void write(int offset, int bytes, uint32_t value);
  // Appends a capability with `id` and `length` bytes at `offset` to the
  // capability list (sets the status bit and pointer 0x34).
  void add_capability(uint8_t id, int offset);
  // A 32-bit memory BAR of `size` bytes at `base` (sizing works through the
  // writable mask).
  void set_memory_bar(int index, uint32_t base, uint32_t size);
  void set_io_bar(int index, uint16_t base, uint16_t size);
};

class Board {
 public:
  Board();
  ~Board();
  Board(const Board&) = delete;
  Board& operator=(const Board&) = delete;

  PciFunction& add_function(int bus, int device, int function, uint16_t vendor, uint16_t device_id);
  PciFunction* function(int bus, int device, int function);
  // A function of another PCI segment, reached only through its memory-
  // mapped window (ecam_windows).
  PciFunction& add_segment_function(int segment, int bus, int device, int function, uint16_t vendor,
                                    uint16_t device_id);
  PciFunction* segment_function(int segment, int bus, int device, int function);
  void add_port_device(std::unique_ptr<PortDevice> device);
  void add_mem_device(std::unique_ptr<MemDevice> device);

  // The seam calls these; every call is logged.
  uint32_t port_read(uint16_t port, int width);
  void port_write(uint16_t port, int width, uint32_t value);
  uint64_t mem_read(uint64_t addr, int width);
  void mem_write(uint64_t addr, int width, uint64_t value);
  void stall(uint32_t microseconds);
  // Everything else the seam logs (MSR accesses, the #GP guard).
  void note(const Access& access);

  // RAM behind everything no device claims; these do not log.
  uint8_t ram_peek(uint64_t addr) const;
  void ram_poke(uint64_t addr, uint8_t value);
  void ram_poke32(uint64_t addr, uint32_t value);
  void ram_poke64(uint64_t addr, uint64_t value);

  // The processor's address translation: its control registers (the page
  // tables lie in the board's RAM; see paging_sim.h). A new board has
  // 4-level tables that map the first 1 TiB with 1 GiB pages, as OVMF maps
  // a 40-bit board; tests shape their own. The walk's reads are the
  // processor's, not kvq's: unlogged. (Its physical address width is what
  // the processor model's CPUID says.)
  paging::Registers paging;
  // A memory-mapped configuration space for buses 0 to 255 at this
  // address as well (0: none), as firmware places it above 4 GiB.
  uint64_t ecam_above_4g = 0;
  // Memory-mapped configuration windows of any segment, as an MCFG lists
  // them: `base` is where the segment's bus 0 would lie.
  struct EcamWindow {
    uint64_t base;
    uint16_t segment;
    uint8_t first_bus;
    uint8_t last_bus;
  };
  std::vector<EcamWindow> ecam_windows;
  // The configuration address latch at 0xCF8, as the firmware left it; and
  // a firmware timer event that, before each port access made below
  // TPL_HIGH_LEVEL, writes `timer_cf8` there and does not put it back
  // (0: no such event).
  uint32_t cf8 = 0;
  uint32_t timer_cf8 = 0;
  // A firmware timer event (a driver freeing a guarded pool page, which
  // unmaps it): it runs once, at the first moment the firmware may run
  // events after it is set: right after a page-table walk made while the
  // TPL is below TPL_HIGH_LEVEL, or when the TPL drops below it.
  std::function<void()> timer_event;
  // With check_page_faults, every memory access is checked against the
  // live tables, and one the processor would fault on (an unmapped page)
  // is recorded in `faults`; devices record there the accesses they do not
  // decode (a local APIC register read with a byte load).
  bool check_page_faults = false;
  std::vector<Access> faults;
  // The firmware's memory space map, as GetMemorySpaceDescriptor answers
  // it; an address no range holds is non-existent. Empty: the firmware has
  // no DXE services table.
  struct MemoryRange {
    uint64_t base;
    uint64_t length;
    plat::GcdType type;
  };
  std::vector<MemoryRange> memory_space;

  const std::vector<Access>& log() const { return log_; }
  void clear_log() { log_.clear(); }
  bool logging = true;
  // What the firmware's system table lists, in order.
  std::vector<ConfigEntry> config_tables;
  uint64_t total_stall_us = 0;
  // Boot services the simulated firmware keeps: the task priority level,
  // and pages handed out below 4 GiB from the top of its pool down.
  uintptr_t tpl = 4;  // TPL_APPLICATION
  uint32_t pool_top = 0x1EF00000;
  uint32_t pages_allocated = 0;
  uint32_t pages_freed = 0;
  bool out_of_pages = false;
  // The board's AHCI controller, when it has one (owned as a memory device),
  // and any others on functions of their own.
  AhciController* ahci = nullptr;
  std::vector<AhciController*> more_ahci;
  // Files in the directory kvq's image was loaded from, by name; with
  // file_reads_fail they are there but cannot be read.
  std::map<std::u16string, std::string> files_beside_image;
  bool file_reads_fail = false;
  // What appending to a file beside the image answers (it works unless
  // set). The Shell's current directory is the image's, so a path the
  // Shell resolves names a file there too.
  plat::EfiStatus file_append_status = plat::kEfiSuccess;
  // The firmware's variable store (empty on a new board).
  VariableStore variables;
  // Pool allocations not given back yet.
  int pool_in_use = 0;
  // The firmware's NVM Express pass-thru protocol instances.
  std::vector<SimNvme> nvme;
  // Its ATA pass-thru protocol instances.
  std::vector<SimAtaPassThru> ata;
  // Bus-master DMA: with dma_protection, a controller's write outside every
  // window is refused (AhciController halts the port). dma_map_fails: the
  // firmware's PciIo.Map refuses.
  bool dma_protection = false;
  bool dma_map_fails = false;
  std::vector<DmaWindow> dma_windows;
  bool dma_allowed(uint64_t base, uint64_t length) const;
  // The firmware offers the TCG protocol (it drives a TPM 1.2).
  bool tcg_protocol = false;
  CpuModel cpu;
  // The firmware's forms (platform/sim/hii_sim.h); none: no HII database.
  std::shared_ptr<HiiModel> hii;

  // Configuration-space lookup by mechanism #1 fields.
  std::unordered_map<uint32_t, std::unique_ptr<PciFunction>>& functions() { return functions_; }

 private:
  PortDevice* port_device(uint16_t port);
  MemDevice* mem_device(uint64_t addr);
  void record(Op op, int width, uint64_t addr, uint64_t value);
  void check_mapped(const Access& access);

  std::unordered_map<uint32_t, std::unique_ptr<PciFunction>> functions_;
  std::vector<std::unique_ptr<PortDevice>> port_devices_;
  std::vector<std::unique_ptr<MemDevice>> mem_devices_;
  std::unordered_map<uint64_t, std::array<uint8_t, 4096>> ram_;
  std::vector<Access> log_;
};

inline uint32_t bdf_key(int bus, int device, int function, int segment = 0) {
  return (static_cast<uint32_t>(segment) << 16) | (static_cast<uint32_t>(bus) << 8) |
         (static_cast<uint32_t>(device) << 3) | static_cast<uint32_t>(function);
}

// The board the seam reaches. Tests install their own.
void set_board(Board* board);
Board& board();

}  // namespace kvq::sim
