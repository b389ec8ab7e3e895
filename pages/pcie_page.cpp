// The PCIE page: one function's 256 bytes of configuration space, its name,
// its identity in the panel, the MAC address of Intel and Realtek Ethernet
// controllers, and the configuration writes of the value entry.
#include "app/colors.h"
#include "app/footer.h"
#include "app/grid.h"
#include "app/grid_page.h"
#include "app/input.h"
#include "hw/pci.h"
#include "pages/pages.h"
#include "pages/pci_name_lookup.h"
#include "platform/console.h"
#include "platform/hw.h"

namespace kvq {
namespace {

constexpr uint16_t kVendorIntel = 0x8086;
constexpr uint16_t kVendorRealtek = 0x10EC;

// Column of the "0xNN ->" label on row 19: two columns before the ruler's
// value, whose start depends on the width.
constexpr int kOffsetLabelCol[kWidthCount] = {25, 23, 19};

void draw_header(const PciDevice& d) {
  con::set_cursor(0, 0);
  con::set_attr(kAttrWhite);
  con::print(u"Bus:%02d Dev:%02d Fun:%02d", d.bus, d.device, d.function);
}

void draw_address_lines(const AppState& state, int offset) {
  const PciDevice& d = state.device;
  con::set_cursor(kOffsetLabelCol[state.width - 1], 19);
  con::print(u"0x%02X ->", offset);
  con::set_cursor(39, 19);
  con::print(u"IO Port Address : 0x%08X", pci::config_address(d.bus, d.device, d.function) + static_cast<uint32_t>(offset));
  con::set_cursor(39, 20);
  con::print(u"Memory Address  : 0x%08X", pci::extended_address(d.bus, d.device, d.function) + static_cast<uint32_t>(offset));
}

void print_mac(const uint8_t mac[6]) {
  con::set_cursor(56, 0);
  for (int i = 0; i < 6; ++i) con::print(i < 5 ? u"%02X-" : u"%02X", mac[i]);
}

// "MAC: " and six bytes "XX-" with the last one's dash dropped.
constexpr int kMacLineWidth = 5 + 6 * 3 - 1;

// An Intel controller's registers lie behind a memory BAR0. Its flag bits
// are cleared so a 64-bit or prefetchable BAR gives its address. An address
// of 0 (never assigned) or all ones (a function that stopped answering)
// points at no register block.
bool intel_registers(uint32_t bar0, uint32_t* base) {
  *base = bar0 & ~0xFu;
  return (bar0 & 1) == 0 && *base != 0 && *base != 0xFFFFFFF0u;
}

// A Realtek controller's behind an I/O BAR0 whose address holds all six
// station address ports below 64 KiB. An unassigned BAR (0) would read the
// legacy DMA controller's ports 0 to 5, and a read there flips its byte
// pointer.
bool realtek_ports(uint32_t bar0, uint16_t* base) {
  const uint32_t address = bar0 & ~3u;
  *base = static_cast<uint16_t>(address);
  return (bar0 & 1) != 0 && address != 0 && address <= 0xFFFFu - 5;
}

// Intel network controllers decode their registers only as whole dwords:
// the receive address pair RAL0/RAH0 is read with two 32-bit loads.
void draw_intel_mac(uint32_t base) {
  const uint32_t ral = plat::mem_read32(base + 0x40);
  const uint32_t rah = plat::mem_read32(base + 0x44);
  const uint8_t mac[6] = {static_cast<uint8_t>(ral),       static_cast<uint8_t>(ral >> 8),
                          static_cast<uint8_t>(ral >> 16), static_cast<uint8_t>(ral >> 24),
                          static_cast<uint8_t>(rah),       static_cast<uint8_t>(rah >> 8)};
  print_mac(mac);
}

// The RTL8139 family keeps the station address in its first six I/O
// registers, which it lets be read byte by byte.
void draw_realtek_mac(uint16_t base) {
  con::set_cursor(56, 0);
  for (int i = 0; i < 6; ++i) {
    const uint8_t b = plat::port_in8(static_cast<uint16_t>(base + i));
    con::print(i < 5 ? u"%02X-" : u"%02X", b);
  }
}

// The MAC line of an Intel or Realtek Ethernet controller whose BAR0 leads
// to its registers. Otherwise row 0 holds none, not even one left from a
// BAR0 the user has just cleared.
void draw_mac_line(const AppState& state, const RegisterWindow& w) {
  const bool ethernet = w.bytes[0x0B] == 0x02 && w.bytes[0x0A] == 0x00;
  const uint16_t vendor = static_cast<uint16_t>(w.value(0x00, 2));
  uint32_t memory_base = 0;
  uint16_t port_base = 0;
  bool shown = false;
  if (ethernet && (vendor == kVendorIntel || vendor == kVendorRealtek)) {
    const PciDevice& d = state.device;
    const uint32_t bar0 = pci::read_config(pci::config_address(d.bus, d.device, d.function) + 0x10);
    shown = vendor == kVendorIntel ? intel_registers(bar0, &memory_base) : realtek_ports(bar0, &port_base);
  }
  con::set_cursor(51, 0);
  if (!shown) {
    con::repeat(u' ', kMacLineWidth);
    return;
  }
  con::put_text(u"MAC:");
  if (vendor == kVendorIntel) {
    draw_intel_mac(memory_base);
  } else {
    draw_realtek_mac(port_base);
  }
}

void draw_panel(const RegisterWindow& w) {
  const uint8_t* b = w.bytes;
  con::set_cursor(51, 3);
  con::print(u"Vendor ID   : %02X%02X", b[0x01], b[0x00]);
  con::set_cursor(51, 4);
  con::print(u"Device ID   : %02X%02X", b[0x03], b[0x02]);
  con::set_cursor(51, 6);
  con::print(u"PCI CMD     : %02X%02X", b[0x05], b[0x04]);
  con::set_cursor(51, 7);
  con::print(u"PCI STS     : %02X%02X", b[0x07], b[0x06]);
  con::set_cursor(51, 8);
  con::print(u"Rev ID      : %02X", b[0x08]);
  con::set_cursor(51, 10);
  con::print(u"Sub Class   : %02X", b[0x0A]);
  con::set_cursor(51, 11);
  con::print(u"Base Class  : %02X", b[0x0B]);
  con::set_cursor(51, 12);
  con::put_text(pci::is_express(w) ? u"PCI Express : YES" : u"PCI Express : NO ");
  con::set_cursor(51, 13);
  con::print(u"PCI IRQ#    : %02X", b[0x3C]);
}

// Removes the previous function's header, MAC and name lines (a long name
// wraps onto row 19); the next pass draws the new function.
void blank_device_lines() {
  static constexpr int kRows[] = {0, 18, 19};
  for (int row : kRows) {
    con::set_cursor(0, row);
    con::repeat(u' ', 80);
  }
}

int32_t clamp(int32_t v, int32_t low, int32_t high) { return v < low ? low : (v > high ? high : v); }

void select_table_entry(AppState& state, int32_t index) {
  const pci::TableEntry& e = pci::g_devices.entries[index];
  state.table_index = index;
  state.device = PciDevice{e.bus, e.device, e.function};
  blank_device_lines();
}

void write_cell(AppState& state, int offset, uint32_t value) {
  const PciDevice& d = state.device;
  if (state.width == kByte) {
    pci::write_byte(d.bus, d.device, d.function, offset, static_cast<uint8_t>(value));
  } else if (state.width == kWord) {
    pci::write_word(d.bus, d.device, d.function, offset, static_cast<uint16_t>(value));
  } else {
    pci::write_dword(d.bus, d.device, d.function, offset, value);
  }
}

void act_on_key(AppState& state) {
  if (handle_grid_keys(state, write_cell)) return;
  const Key key = state.key;
  if (key.scan == kScanPageUp || key.scan == kScanPageDown) {
    // The device becomes the table entry even at either end, so PageUp
    // after `p` chose a function off the table goes back to the table.
    if (state.device_count > 0) {
      const int32_t step = key.scan == kScanPageUp ? -1 : 1;
      select_table_entry(state, clamp(state.table_index + step, 0, state.device_count - 1));
    }
  } else if (key.scan == 0 && key.ch == u'p') {
    PciDevice chosen;
    if (device_selector(&chosen)) {
      state.device = chosen;
      blank_device_lines();
    }
  } else if (key.scan == 0 && (key.ch == u'S' || key.ch == u's')) {
    if (!pci::is_express(g_window)) return;
    const PciDevice& d = state.device;
    state.memory_base = pci::extended_address(d.bus, d.device, d.function);
    state.page = PageId::kMemory;
    con::clear_screen();
  } else {
    return;
  }
  state.key = Key{0, 0};
}

}  // namespace

void pcie_pass(AppState& state) {
  const PciDevice& d = state.device;
  draw_header(d);
  pci::read_window(d.bus, d.device, d.function, g_window);
  const CellCursor& cursor = state.cursor();
  draw_grid(g_window, state.width, cursor);
  for (int group = 0; group < kNameLookupCount; ++group) pcie_name_lookup(group, d.bus, d.device, d.function);
  draw_cursor_offset(cursor, state.width);
  const int offset = cursor_offset(cursor, state.width);
  draw_address_lines(state, offset);
  draw_ruler(cursor_value(g_window, cursor, state.width), state.width);
  draw_footer(false);
  draw_mac_line(state, g_window);
  draw_width_label(state.width);
  draw_panel(g_window);
  con::poll_key(&state.key);
  act_on_key(state);
}

}  // namespace kvq
