// The PCIE page: one function's 256 bytes of configuration space, its name,
// its identity in the panel, the MAC address of Intel and Realtek Ethernet
// controllers, and the configuration writes of the value entry.
#include "app/colors.h"
#include "app/footer.h"
#include "app/grid.h"
#include "app/grid_page.h"
#include "app/input.h"
#include "hw/nic.h"
#include "hw/pci.h"
#include "pages/pages.h"
#include "pages/pci_name_lookup.h"
#include "platform/console.h"

namespace kvq {
namespace {

using namespace pci::hdr;

void draw_header(const pci::Bdf& d) {
  con::set_cursor(0, 0);
  con::set_attr(kAttrWhite);
  con::print(u"Bus:%02d Dev:%02d Fun:%02d", d.bus, d.device, d.function);
}

void draw_address_lines(const AppState& state, int offset) {
  const pci::Bdf& d = state.device;
  con::set_cursor(col_before_ruler(state.width, 7), 19);  // "0xNN ->"
  con::print(u"0x%02X ->", offset);
  con::set_cursor(39, 19);
  con::print(u"IO Port Address : 0x%08X", pci::config_address(d) + static_cast<uint32_t>(offset));
  con::set_cursor(39, 20);
  con::print(u"Memory Address  : 0x%08X", pci::extended_address(d) + static_cast<uint32_t>(offset));
}

// "MAC: " and six bytes "XX-" with the last one's dash dropped.
constexpr int kMacLineWidth = 5 + 6 * 3 - 1;

// The MAC line of an Intel or Realtek Ethernet controller whose BAR0 leads
// to its registers. Otherwise row 0 holds none, not even one left from a
// BAR0 the user has just cleared.
void draw_mac_line(const AppState& state, const RegisterWindow& w) {
  const nic::MacSource source = nic::mac_source(state.device, w);
  con::set_cursor(51, 0);
  if (source.kind == nic::MacSource::kNone) {
    con::repeat(u' ', kMacLineWidth);
    return;
  }
  uint8_t mac[6];
  nic::read_mac(source, mac);
  con::put_text(u"MAC:");
  con::set_cursor(56, 0);
  for (int i = 0; i < 6; ++i) con::print(i < 5 ? u"%02X-" : u"%02X", mac[i]);
}

// The panel's lines: the row, the text, and the register it shows, two
// bytes high byte first.
struct PanelLine {
  int row;
  const char16_t* format;
  uint32_t (*value)(const RegisterWindow& w);
};

constexpr PanelLine kPanel[] = {
    {3, u"Vendor ID   : %04X", [](const RegisterWindow& w) { return w.reg<VendorId>(); }},
    {4, u"Device ID   : %04X", [](const RegisterWindow& w) { return w.reg<DeviceId>(); }},
    {6, u"PCI CMD     : %04X", [](const RegisterWindow& w) { return w.reg<Command>(); }},
    {7, u"PCI STS     : %04X", [](const RegisterWindow& w) { return w.reg<Status>(); }},
    {8, u"Rev ID      : %02X", [](const RegisterWindow& w) { return w.reg<RevisionId>(); }},
    {10, u"Sub Class   : %02X", [](const RegisterWindow& w) { return w.reg<SubClass>(); }},
    {11, u"Base Class  : %02X", [](const RegisterWindow& w) { return w.reg<BaseClass>(); }},
    {13, u"PCI IRQ#    : %02X", [](const RegisterWindow& w) { return w.reg<InterruptLine>(); }},
};

void draw_panel(const RegisterWindow& w) {
  for (const PanelLine& line : kPanel) {
    con::set_cursor(51, line.row);
    con::print(line.format, line.value(w));
  }
  con::set_cursor(51, 12);
  con::put_text(pci::is_express(w) ? u"PCI Express : YES" : u"PCI Express : NO ");
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
  state.table_index = index;
  state.device = pci::g_devices.entries[index].bdf;
  blank_device_lines();
}

void write_cell(AppState& state, const void*, int offset, uint32_t value) {
  pci::config_write(state.device, static_cast<uint32_t>(offset), layout(state.width).bytes, value);
}

void act_on_key(AppState& state) {
  if (handle_grid_keys(state, write_cell, nullptr)) return;
  const Key key = state.key;
  if (key.scan == kScanPageUp || key.scan == kScanPageDown) {
    // The device becomes the table entry even at either end, so PageUp
    // after `p` chose a function off the table goes back to the table.
    if (state.device_count > 0) {
      const int32_t step = key.scan == kScanPageUp ? -1 : 1;
      select_table_entry(state, clamp(state.table_index + step, 0, state.device_count - 1));
    }
  } else if (key.scan == 0 && key.ch == u'p') {
    pci::Bdf chosen;
    if (device_selector(&chosen)) {
      state.device = chosen;
      blank_device_lines();
    }
  } else if (key.scan == 0 && (key.ch == u'S' || key.ch == u's')) {
    if (!pci::is_express(g_window)) return;
    state.memory_base = pci::extended_address(state.device);
    state.page = PageId::kMemory;
    con::clear_screen();
  } else {
    return;
  }
  state.key = Key{0, 0};
}

}  // namespace

void pcie_pass(AppState& state) {
  const pci::Bdf& d = state.device;
  draw_header(d);
  pci::read_window(d, g_window);
  const CellCursor& cursor = state.cursor();
  draw_grid(g_window, state.width, cursor);
  for (int group = 0; group < kNameLookupCount; ++group) pcie_name_lookup(group, d);
  draw_cursor_offset(cursor, state.width);
  const int offset = cursor_offset(cursor, state.width);
  draw_address_lines(state, offset);
  draw_cursor_ruler(g_window, cursor, state.width);
  draw_footer(false);
  draw_mac_line(state, g_window);
  draw_width_label(state.width);
  draw_panel(g_window);
  con::poll_key(&state.key);
  act_on_key(state);
}

}  // namespace kvq
