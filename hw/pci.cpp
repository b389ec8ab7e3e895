#include "hw/pci.h"

#include "hw/memio.h"
#include "hw/pci_caps.h"
#include "hw/pci_extended.h"
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

uint32_t ports_read_dword(uint32_t address) {
  plat::port_out32(kAddressPort, address);
  return plat::port_in32(kDataPort);
}

// Always the whole dword: the narrower value is cut from it.
uint32_t ports_read(const Bdf& f, uint32_t offset, int width) {
  const uint32_t d = ports_read_dword(config_address(f) + (offset & 0xFC));
  return (d >> (8 * (offset & 3))) & width_mask(width);
}

// A dword is written without reading. A byte or word is merged into the
// dword read first, and the other bytes go back as read (a status register
// is written with what it read).
void ports_write(const Bdf& f, uint32_t offset, int width, uint32_t value) {
  const uint32_t address = config_address(f) + (offset & 0xFC);
  uint32_t d = value;
  if (width < 4) {
    const uint32_t shift = 8 * (offset & 3);
    const uint32_t mask = width_mask(width) << shift;
    d = (ports_read_dword(address) & ~mask) | ((value << shift) & mask);
  }
  plat::port_out32(kAddressPort, address);
  plat::port_out32(kDataPort, d);
}

// --- The memory-mapped space ------------------------------------------------

// What this board has, found on first need: the space, and which function
// was last seen through it.
struct BoardAccess {
  bool searched = false;
  ExtendedSpace space;
  bool checked = false;
  Bdf checked_function;
  bool shows_checked = false;
};
constinit BoardAccess g_board;

uint64_t mapped_address(const Bdf& f, uint32_t offset) {
  return g_board.space.base + memory_mapped_offset(f) + offset;
}

// Before the space is believed for a function, the function's ID dword
// read through it must match the one read through the ports: a base
// register that holds something else on another chipset must not send kvq
// reading arbitrary memory. The answer is kept for the function until
// another is asked about. Every load and store here goes through memio, so
// the page tables are asked once per access (an unmapped page reads as all
// ones, fails the ID check, and is never written).
bool memory_mapped_reach(const Bdf& f) {
  if (!g_board.searched) {
    g_board.space = find_extended_space();
    g_board.searched = true;
  }
  const ExtendedSpace& s = g_board.space;
  if (!s.present || f.segment != 0 || f.bus < s.first_bus || f.bus > s.last_bus) return false;
  if (!g_board.checked || !(g_board.checked_function == f)) {
    uint32_t seen_there = 0xFFFFFFFFu;
    memio::read_memory(mapped_address(f, 0), 4, &seen_there);
    g_board.shows_checked = seen_there == ports_read(f, hdr::Id::kOffset, hdr::Id::kWidth);
    g_board.checked_function = f;
    g_board.checked = true;
  }
  return g_board.shows_checked;
}

// One load or store of the width, as the Memory page makes them.
uint32_t memory_mapped_read(const Bdf& f, uint32_t offset, int width) {
  uint32_t v = width_mask(width);
  memio::read_memory(mapped_address(f, offset), width, &v);
  return v;
}

void memory_mapped_write(const Bdf& f, uint32_t offset, int width, uint32_t value) {
  memio::write_memory(mapped_address(f, offset), width, value);
}

}  // namespace

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

uint32_t config_read_latched(int width) {
  return width == 1 ? plat::port_in8(kDataPort) : plat::port_in32(kDataPort);
}

void read_window(const Bdf& f, RegisterWindow& window) {
  window.all_present();
  for (uint32_t offset = 0; offset < 256; offset += 4) {
    const uint32_t d = config_read(f, offset, 4);
    for (uint32_t i = 0; i < 4; ++i) window.bytes[offset + i] = static_cast<uint8_t>(d >> (8 * i));
  }
}

void forget_board() { g_board = BoardAccess{}; }

uint32_t extended_base() { return read<Pciexbar>(kHostBridge) & Pciexbar::Address::kMask; }

uint32_t extended_address(const Bdf& f) { return extended_base() + static_cast<uint32_t>(memory_mapped_offset(f)); }

int32_t scan(DeviceTable& table) {
  table.count = 0;
  for (int bus = 0; bus < 256; ++bus) {
    for (int device = 0; device < 32; ++device) {
      for (int function = 0; function < 8; ++function) {
        const Bdf f = {0, static_cast<uint8_t>(bus), static_cast<uint8_t>(device), static_cast<uint8_t>(function)};
        const uint32_t id = read<hdr::Id>(f);
        // Only all ones means nothing answered; a vendor ID of 0xFFFF with a
        // device ID is a function in a strange state, and is listed.
        if (id == 0xFFFFFFFFu) continue;
        if (table.count >= kTableCapacity) continue;
        table.entries[table.count++] = TableEntry{f, static_cast<uint16_t>(hdr::Id::Device::get(id)),
                                                  static_cast<uint16_t>(hdr::Id::Vendor::get(id))};
      }
    }
  }
  return table.count;
}

bool is_express(const RegisterWindow& w) {
  caps::Capability found;
  return caps::find_standard(caps::Source(Bdf{}, &w), caps::kIdExpress, &found);
}

}  // namespace kvq::pci
