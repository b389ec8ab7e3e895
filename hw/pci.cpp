#include "hw/pci.h"

#include "hw/memio.h"
#include "hw/pci_caps.h"
#include "hw/pci_extended.h"
#include "platform/format.h"
#include "platform/hw.h"

namespace kvq {
constinit RegisterWindow g_window;
}

namespace kvq::pci {

constinit DeviceTable g_devices;

namespace {

uint32_t width_mask(int width) { return width >= 4 ? 0xFFFFFFFFu : (1u << (8 * width)) - 1; }

// --- Configuration mechanism #1 -------------------------------------------

// Segment 0 only: the ports know no other.
bool ports_reach(const Bdf& f) { return f.segment == 0; }

// Always the whole dword: the narrower value is cut from it.
uint32_t ports_read(const Bdf& f, uint32_t offset, int width) {
  PortsSection section(f, offset & 0xFC);
  return (section.read(4) >> (8 * (offset & 3))) & width_mask(width);
}

// One access of the width at its byte lane: a byte or word write never
// writes the rest of the dword (a status register beside it clears the
// bits it is written with 1).
void ports_write(const Bdf& f, uint32_t offset, int width, uint32_t value) {
  PortsSection section(f, offset);
  section.write(width, value);
}

// --- The memory-mapped space ------------------------------------------------

// What this board has, found on first need: the host bridge, the spaces,
// and which function was last seen through them.
struct BoardAccess {
  bool searched = false;
  ExtendedSpaces spaces;
  bool bridge_known = false;
  bool bridge_has_pciexbar = false;
  bool checked = false;
  Bdf checked_function;
  bool shows_checked = false;
};
constinit BoardAccess g_board;

[[gnu::noinline]] const ExtendedSpaces& spaces() {
  if (!g_board.searched) {
    find_extended_spaces(g_board.spaces);
    g_board.searched = true;
  }
  return g_board.spaces;
}

// The space's address of the register; the caller knows the space holds
// the function's bus.
uint64_t mapped_address(const Bdf& f, uint32_t offset) {
  const ExtendedSpace* s = spaces().find(f.segment, f.bus);
  return (s != nullptr ? s->base : 0) + memory_mapped_offset(f) + offset;
}

uint32_t memory_mapped_read(const Bdf& f, uint32_t offset, int width) {
  uint32_t v = width_mask(width);
  memio::read_memory(mapped_address(f, offset), width, &v);
  return v;
}

// Before a space is believed for a function, the function's ID dword read
// through it must be one (not all ones), and in segment 0 the one the
// ports read: a table or register that is wrong must not send kvq reading
// arbitrary memory. The answer is kept for the function until another is
// asked about. Every load and store here goes through memio, so the page
// tables are asked once per access (an unmapped page reads as all ones,
// fails the check, and is never written).
bool memory_mapped_reach(const Bdf& f) {
  if (spaces().find(f.segment, f.bus) == nullptr) return false;
  if (!g_board.checked || !(g_board.checked_function == f)) {
    const uint32_t seen_there = memory_mapped_read(f, hdr::Id::kOffset, hdr::Id::kWidth);
    g_board.shows_checked = seen_there != 0xFFFFFFFFu &&
                            (f.segment != 0 || seen_there == ports_read(f, hdr::Id::kOffset, hdr::Id::kWidth));
    g_board.checked_function = f;
    g_board.checked = true;
  }
  return g_board.shows_checked;
}

// One load or store of the width, as the Memory page makes them.
void memory_mapped_write(const Bdf& f, uint32_t offset, int width, uint32_t value) {
  memio::write_memory(mapped_address(f, offset), width, value);
}

}  // namespace

PortsSection::PortsSection(const Bdf& f, uint32_t offset)
    : saved_(plat::port_in32(kAddressPort)), lane_(static_cast<uint16_t>(kDataPort + (offset & 3))) {
  plat::port_out32(kAddressPort, config_address(f) + (offset & 0xFC));
}

PortsSection::~PortsSection() { plat::port_out32(kAddressPort, saved_); }

uint32_t PortsSection::read(int width) {
  if (width == 1) return plat::port_in8(lane_);
  if (width == 2) return plat::port_in16(lane_);
  return plat::port_in32(lane_);
}

void PortsSection::write(int width, uint32_t value) {
  if (width == 1) {
    plat::port_out8(lane_, static_cast<uint8_t>(value));
  } else if (width == 2) {
    plat::port_out16(lane_, static_cast<uint16_t>(value));
  } else {
    plat::port_out32(lane_, value);
  }
}

constexpr AccessMethod kAccessMethods[kMethodCount] = {
    {.method = Method::kPorts,
     .name = u"configuration ports 0xCF8/0xCFC",
     .size = 256,
     .reaches = ports_reach,
     .read = ports_read,
     .write = ports_write},
    {.method = Method::kMemoryMapped,
     .name = u"memory-mapped configuration space",
     .size = 4096,
     .reaches = memory_mapped_reach,
     .read = memory_mapped_read,
     .write = memory_mapped_write},
};

// Each row stands at its method's index, and the rows reach ever more of
// the space, so the first that covers a register is the narrowest.
constexpr bool methods_sound() {
  for (int i = 0; i < kMethodCount; ++i) {
    if (static_cast<int>(kAccessMethods[i].method) != i) return false;
    if (i > 0 && kAccessMethods[i].size <= kAccessMethods[i - 1].size) return false;
  }
  return true;
}
static_assert(methods_sound());

const AccessMethod* method_for(const Bdf& f, uint32_t offset, int width) {
  if ((width != 1 && width != 2 && width != 4) || offset % static_cast<uint32_t>(width) != 0) return nullptr;
  for (const AccessMethod& m : kAccessMethods) {
    if (offset + static_cast<uint32_t>(width) <= m.size && m.reaches(f)) return &m;
  }
  return nullptr;
}

uint32_t config_read(const Bdf& f, uint32_t offset, int width) {
  const AccessMethod* m = method_for(f, offset, width);
  return m != nullptr ? m->read(f, offset, width) : width_mask(width);
}

void config_write(const Bdf& f, uint32_t offset, int width, uint32_t value) {
  if (const AccessMethod* m = method_for(f, offset, width)) m->write(f, offset, width, value & width_mask(width));
}

void read_window(const Bdf& f, RegisterWindow& window) {
  window.all_present();
  for (uint32_t offset = 0; offset < 256; offset += 4) {
    const uint32_t d = config_read(f, offset, 4);
    for (uint32_t i = 0; i < 4; ++i) window.bytes[offset + i] = static_cast<uint8_t>(d >> (8 * i));
  }
}

// The record's data is found again behind these flags.
void forget_board() { g_board.searched = g_board.bridge_known = g_board.checked = false; }

MappedAddress memory_address(const Bdf& f) {
  if (!g_board.bridge_known) {
    g_board.bridge_has_pciexbar = has_pciexbar(read<hdr::Id>(kHostBridge));
    g_board.bridge_known = true;
  }
  if (f.segment == 0 && g_board.bridge_has_pciexbar) {
    const Pciexbar bar = read_pciexbar();
    if (bar.present && f.bus < bar.buses) return {true, bar.base + memory_mapped_offset(f)};
  }
  const ExtendedSpace* s = spaces().find(f.segment, f.bus);
  if (s == nullptr) return {};
  return {true, s->base + memory_mapped_offset(f)};
}

int function_name(const Bdf& f, bool upper, char16_t* out, int capacity, bool segment) {
  const int n = segment || f.segment != 0 ? sformat(out, capacity, upper ? u"%04X:" : u"%04x:", f.segment) : 0;
  return n + sformat(out + n, capacity - n, upper ? u"%02X:%02X.%d" : u"%02x:%02x.%d", f.bus, f.device, f.function);
}

// --- The scan ---------------------------------------------------------------

namespace {

constexpr uint16_t kRetryStatus = 0x0001;
constexpr int kRetries = 10;  // 1 ms doubling to 512 ms: about a second
constexpr uint32_t kFirstWaitUs = 1000;

// A register the way the scan reaches the function: the ports in segment
// 0, the space that holds the bus elsewhere (no ID check: this is the
// check).
uint32_t scan_read(const Bdf& f, uint32_t offset, int width) {
  return (f.segment == 0 ? ports_read : memory_mapped_read)(f, offset, width);
}

// A function that keeps answering Retry Status reads as absent.
uint32_t probe_id(const Bdf& f) {
  uint32_t id = scan_read(f, hdr::Id::kOffset, 4);
  uint32_t wait = kFirstWaitUs;
  for (int i = 0; i < kRetries && hdr::Id::Vendor::get(id) == kRetryStatus; ++i, wait *= 2) {
    plat::stall_us(wait);
    id = scan_read(f, hdr::Id::kOffset, 4);
  }
  return hdr::Id::Vendor::get(id) == kRetryStatus ? 0xFFFFFFFFu : id;
}

bool multi_function(const Bdf& f) {
  return hdr::HeaderType::MultiFunction::get(scan_read(f, hdr::HeaderType::kOffset, 1)) != 0;
}

void scan_bus(DeviceTable& table, uint16_t segment, uint8_t bus) {
  for (int device = 0; device < 32; ++device) {
    for (int function = 0; function < 8; ++function) {
      const Bdf f = {segment, bus, static_cast<uint8_t>(device), static_cast<uint8_t>(function)};
      const uint32_t id = probe_id(f);
      // Only all ones means nothing answered; a vendor ID of 0xFFFF with a
      // device ID is a function in a strange state, and is listed.
      if (id == 0xFFFFFFFFu) {
        if (function == 0) break;  // no device here
        continue;
      }
      if (table.count < kTableCapacity) {
        table.entries[table.count++] = TableEntry{f, static_cast<uint16_t>(hdr::Id::Device::get(id)),
                                                  static_cast<uint16_t>(hdr::Id::Vendor::get(id))};
      }
      // A single-function device may answer on every function number.
      if (function == 0 && !multi_function(f)) break;
    }
  }
}

}  // namespace

int32_t scan(DeviceTable& table) {
  table.count = 0;
  for (int bus = 0; bus < 256; ++bus) scan_bus(table, 0, static_cast<uint8_t>(bus));
  // The other segments, each bus once even where ranges overlap.
  const ExtendedSpaces& s = spaces();
  int next_bus = 0;
  for (int i = 0; i < s.count; ++i) {
    const ExtendedSpace& space = s.at[i];
    if (space.segment == 0) continue;
    if (i == 0 || space.segment != s.at[i - 1].segment) next_bus = 0;
    for (int bus = space.first_bus > next_bus ? space.first_bus : next_bus; bus <= space.last_bus; ++bus) {
      scan_bus(table, space.segment, static_cast<uint8_t>(bus));
    }
    if (space.last_bus + 1 > next_bus) next_bus = space.last_bus + 1;
  }
  return table.count;
}

bool is_express(const RegisterWindow& w) {
  caps::Capability found;
  return caps::find_standard(caps::Source(Bdf{}, &w), caps::kIdExpress, &found);
}

}  // namespace kvq::pci
