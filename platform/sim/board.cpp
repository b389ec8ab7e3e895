#include "platform/sim/board.h"

#include <cstring>
#include <ostream>

#include "platform/sim/paging_sim.h"
#include "platform/sim/pci_devices.h"

namespace kvq::sim {

std::ostream& operator<<(std::ostream& os, const Access& a) {
  static const char* const kNames[] = {"in", "out", "read", "write", "stall", "rdmsr", "wrmsr", "guard_on", "guard_off"};
  os << kNames[static_cast<int>(a.op)] << static_cast<int>(a.width) << "(0x" << std::hex << a.addr << ", 0x" << a.value
     << std::dec << ")";
  if (a.op >= Op::kMsrRead) os << " cpu " << static_cast<int>(a.cpu) << (a.refused ? " #GP" : "");
  return os;
}

PciFunction::PciFunction(uint16_t vendor, uint16_t device) {
  set16(0x00, vendor);
  set16(0x02, device);
  // Command register: I/O, memory and bus-master enables are writable.
  set_writable(0x04, 2, 0x0547);
  // Interrupt line: a plain scratch register for the firmware.
  set_writable(0x3C, 1, 0xFF);
}

void PciFunction::set16(int offset, uint16_t v) {
  cfg[offset] = static_cast<uint8_t>(v);
  cfg[offset + 1] = static_cast<uint8_t>(v >> 8);
}

void PciFunction::set32(int offset, uint32_t v) {
  for (int i = 0; i < 4; ++i) cfg[offset + i] = static_cast<uint8_t>(v >> (8 * i));
}

uint32_t PciFunction::get32(int offset) const {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | cfg[offset + i];
  return v;
}

void PciFunction::set_writable(int offset, int bytes, uint32_t mask) {
  for (int i = 0; i < bytes; ++i) writable[offset + i] = static_cast<uint8_t>(mask >> (8 * i));
}

void PciFunction::set_clears(int offset, int bytes, uint32_t mask) {
  for (int i = 0; i < bytes; ++i) clears[offset + i] = static_cast<uint8_t>(mask >> (8 * i));
}

void PciFunction::write(int offset, int bytes, uint32_t value) {
  for (int i = 0; i < bytes && offset + i < 4096; ++i) {
    const uint8_t m = writable[offset + i];
    const uint8_t b = static_cast<uint8_t>(value >> (8 * i));
    cfg[offset + i] = static_cast<uint8_t>(((cfg[offset + i] & ~m) | (b & m)) & ~(b & clears[offset + i]));
  }
}

uint32_t PciFunction::read(int offset, int bytes) {
  const bool vendor = offset < 2;
  const bool retry = vendor && retry_reads > 0;
  if (retry) --retry_reads;
  uint32_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) {
    const int o = (offset + i) & 0xFFF;
    const uint8_t b = !retry ? cfg[o] : (o == 0 ? 0x01 : o == 1 ? 0x00 : 0xFF);
    v = (v << 8) | b;
  }
  return v;
}

void PciFunction::add_capability(uint8_t id, int offset) {
  cfg[0x06] |= 0x10;  // status: capabilities list
  if (cfg[0x34] == 0) {
    cfg[0x34] = static_cast<uint8_t>(offset);
  } else {
    int p = cfg[0x34];
    while (cfg[p + 1] != 0) p = cfg[p + 1];
    cfg[p + 1] = static_cast<uint8_t>(offset);
  }
  cfg[offset] = id;
  cfg[offset + 1] = 0;
}

void PciFunction::set_memory_bar(int index, uint32_t base, uint32_t size) {
  const int offset = 0x10 + 4 * index;
  set32(offset, base & ~0xFu);
  set_writable(offset, 4, ~(size - 1) & ~0xFu);
}

void PciFunction::set_io_bar(int index, uint16_t base, uint16_t size) {
  const int offset = 0x10 + 4 * index;
  set32(offset, (base & ~3u) | 1u);
  set_writable(offset, 4, ~(static_cast<uint32_t>(size) - 1) & 0xFFFCu);
}

Board::Board() {
  install_pci_host(*this);
  map_like_ovmf(*this);
}
Board::~Board() = default;

PciFunction& Board::add_function(int bus, int device, int function, uint16_t vendor, uint16_t device_id) {
  return add_segment_function(0, bus, device, function, vendor, device_id);
}

PciFunction* Board::function(int bus, int device, int function) { return segment_function(0, bus, device, function); }

PciFunction& Board::add_segment_function(int segment, int bus, int device, int function, uint16_t vendor,
                                         uint16_t device_id) {
  auto& slot = functions_[bdf_key(bus, device, function, segment)];
  slot = std::make_unique<PciFunction>(vendor, device_id);
  return *slot;
}

PciFunction* Board::segment_function(int segment, int bus, int device, int function) {
  auto it = functions_.find(bdf_key(bus, device, function, segment));
  return it == functions_.end() ? nullptr : it->second.get();
}

void Board::add_port_device(std::unique_ptr<PortDevice> device) { port_devices_.push_back(std::move(device)); }
void Board::add_mem_device(std::unique_ptr<MemDevice> device) { mem_devices_.push_back(std::move(device)); }

PortDevice* Board::port_device(uint16_t port) {
  for (auto& d : port_devices_) {
    if (d->claims(port)) return d.get();
  }
  return nullptr;
}

MemDevice* Board::mem_device(uint64_t addr) {
  for (auto& d : mem_devices_) {
    if (d->claims(addr)) return d.get();
  }
  return nullptr;
}

void Board::record(Op op, int width, uint64_t addr, uint64_t value) {
  if (logging) log_.push_back(Access{op, static_cast<uint8_t>(width), addr, value});
}

uint32_t Board::port_read(uint16_t port, int width) {
  if (timer_cf8 != 0 && tpl < plat::kTplHighLevel) cf8 = timer_cf8;
  PortDevice* d = port_device(port);
  const uint32_t mask = width == 32 ? 0xFFFFFFFFu : width == 16 ? 0xFFFFu : 0xFFu;
  const uint32_t v = d != nullptr ? d->read(port, width) & mask : mask;
  record(Op::kPortIn, width, port, v);
  return v;
}

void Board::port_write(uint16_t port, int width, uint32_t value) {
  if (timer_cf8 != 0 && tpl < plat::kTplHighLevel) cf8 = timer_cf8;
  record(Op::kPortOut, width, port, value);
  if (PortDevice* d = port_device(port)) d->write(port, width, value);
}

// A load or store that crosses into an unmapped page faults as well.
void Board::check_mapped(const Access& a) {
  if (!check_page_faults) return;
  const paging::Access access = a.op == Op::kMemWrite ? paging::Access::kWrite : paging::Access::kRead;
  if (!tables_map(*this, a.addr, access) || !tables_map(*this, a.addr + a.width / 8 - 1, access)) faults.push_back(a);
}

uint64_t Board::mem_read(uint64_t addr, int width) {
  check_mapped(Access{Op::kMemRead, static_cast<uint8_t>(width), addr, 0});
  uint64_t v = 0;
  if (MemDevice* d = mem_device(addr)) {
    v = d->read(addr, width);
  } else {
    for (int i = width / 8 - 1; i >= 0; --i) v = (v << 8) | ram_peek(addr + static_cast<uint64_t>(i));
  }
  if (width < 64) v &= (uint64_t{1} << width) - 1;
  record(Op::kMemRead, width, addr, v);
  return v;
}

void Board::mem_write(uint64_t addr, int width, uint64_t value) {
  check_mapped(Access{Op::kMemWrite, static_cast<uint8_t>(width), addr, value});
  record(Op::kMemWrite, width, addr, value);
  if (MemDevice* d = mem_device(addr)) {
    d->write(addr, width, value);
    return;
  }
  for (int i = 0; i < width / 8; ++i) ram_poke(addr + static_cast<uint64_t>(i), static_cast<uint8_t>(value >> (8 * i)));
}

void Board::note(const Access& access) {
  if (logging) log_.push_back(access);
}

plat::CpuidRegs SimCpu::cpuid(uint32_t leaf, uint32_t subleaf) const {
  auto it = leaves.find({leaf, subleaf});
  if (it == leaves.end()) it = leaves.find({leaf, kAnySubleaf});
  return it == leaves.end() ? plat::CpuidRegs{0, 0, 0, 0} : it->second;
}

void Board::stall(uint32_t microseconds) {
  record(Op::kStall, 0, microseconds, 0);
  total_stall_us += microseconds;
}

uint8_t Board::ram_peek(uint64_t addr) const {
  auto it = ram_.find(addr >> 12);
  return it == ram_.end() ? 0 : it->second[addr & 0xFFF];
}

void Board::ram_poke(uint64_t addr, uint8_t value) {
  auto it = ram_.find(addr >> 12);
  if (it == ram_.end()) {
    std::array<uint8_t, 4096> page{};
    it = ram_.emplace(addr >> 12, page).first;
  }
  it->second[addr & 0xFFF] = value;
}

void Board::ram_poke32(uint64_t addr, uint32_t value) {
  for (int i = 0; i < 4; ++i) ram_poke(addr + static_cast<uint64_t>(i), static_cast<uint8_t>(value >> (8 * i)));
}

void Board::ram_poke64(uint64_t addr, uint64_t value) {
  for (int i = 0; i < 8; ++i) ram_poke(addr + static_cast<uint64_t>(i), static_cast<uint8_t>(value >> (8 * i)));
}

namespace {
Board* g_board = nullptr;
}

void set_board(Board* b) { g_board = b; }

Board& board() {
  if (g_board == nullptr) {
    static Board empty;
    g_board = &empty;
  }
  return *g_board;
}

}  // namespace kvq::sim
