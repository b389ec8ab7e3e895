// The PCIE page: one function's 256 bytes of configuration space, its name,
// its identity in the panel with its PCI Express link and capability list
// below, the MAC address of Intel and Realtek Ethernet controllers, and the
// configuration writes of the value entry.
#include "app/colors.h"
#include "app/footer.h"
#include "app/grid.h"
#include "app/grid_page.h"
#include "app/input.h"
#include "data/pci_cap_names.h"
#include "hw/nic.h"
#include "hw/pci.h"
#include "hw/pci_caps.h"
#include "pages/pages.h"
#include "pages/pci_name_lookup.h"
#include "platform/console.h"
#include "platform/text16.h"

namespace kvq {
namespace {

using namespace pci::hdr;

void draw_header(const pci::Bdf& d) {
  con::set_cursor(0, 0);
  con::set_attr(kAttrWhite);
  print_function_title(d);
}

// "0x" and 8 digits below 4 GiB, 16 above, or none; blanks to column 77,
// the longest, so a shorter one leaves nothing of the last.
void print_address(bool present, uint64_t address) {
  char16_t text[19];
  if (!present) {
    sformat(text, 19, u"none");
  } else {
    sformat(text, 19, address > 0xFFFFFFFFu ? u"0x%016X" : u"0x%08X", address);
  }
  con::print(u"%-18s", text);
}

// The ports' address outside segment 0 is none: they do not reach it.
void draw_address_lines(const AppState& state, int offset) {
  const pci::Bdf& d = state.device;
  con::set_cursor(col_before_ruler(state.width, 7), 19);  // "0xNN ->"
  con::print(u"0x%02X ->", offset);
  con::set_cursor(39, 19);
  con::put_text(u"IO Port Address : ");
  print_address(d.segment == 0, pci::config_address(d) + static_cast<uint32_t>(offset));
  con::set_cursor(39, 20);
  con::put_text(u"Memory Address  : ");
  const pci::MappedAddress m = pci::memory_address(d);
  print_address(m.present, m.address + static_cast<uint32_t>(offset));
}

// "MAC: " and six bytes "XX-" with the last one's dash dropped.
constexpr int kMacLineWidth = 5 + 6 * 3 - 1;

// The MAC line of an Intel or Realtek Ethernet controller: its address
// where BAR0 leads to its registers, "--" where it does not. Any other
// function has none, and row 0 keeps none from the function before.
void draw_mac_line(const AppState& state, const RegisterWindow& w) {
  const nic::MacSource source = nic::mac_source(state.device, w);
  con::set_cursor(51, 0);
  uint8_t mac[6];
  if (source.kind == nic::MacSource::kNone) {
    con::repeat(u' ', kMacLineWidth);
  } else if (!nic::read_mac(source, mac)) {
    con::put_text(u"MAC: --");
    con::repeat(u' ', kMacLineWidth - 7);
  } else {
    con::put_text(u"MAC:");
    con::set_cursor(56, 0);
    for (int i = 0; i < 6; ++i) con::print(i < 5 ? u"%02X-" : u"%02X", mac[i]);
  }
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

// --- Rows 14 to 17 of the panel: the link and the capability list ----------

constexpr int kListCol = 51;
constexpr int kListFirstRow = 14;
constexpr int kListLastRow = 17;
constexpr int kListCols = 29;  // to column 79
// Entries kept for drawing: more than four rows hold of the shortest
// ("40 PM" and a blank).
constexpr int kListKept = 24;
static_assert(kListKept * (5 + 1) > (kListLastRow - kListFirstRow + 1) * (kListCols + 1));

// One panel row at a time, each written whole to column 79, so a shorter
// row leaves nothing of a longer one and an unchanged one sends nothing.
class PanelRows {
 public:
  int row() const { return row_; }
  bool on_last_row() const { return row_ == kListLastRow; }
  // Whether `length` more characters (and the blank before them) fit.
  bool fits(int length) const { return used_ + (used_ > 0 ? 1 : 0) + length <= kListCols; }
  void add(const char16_t* text) {
    if (used_ > 0) line_[used_++] = u' ';
    used_ += sformat(line_ + used_, kListCols + 1 - used_, u"%s", text);
  }
  void end_row() {
    con::set_cursor(kListCol, row_++);
    con::put_text(line_);
    con::repeat(u' ', kListCols - used_);
    used_ = 0;
    line_[0] = 0;
  }

 private:
  int row_ = kListFirstRow;
  int used_ = 0;
  char16_t line_[kListCols + 1] = {};
};

// "C8 PM", "100 AER"; an ID the lists do not hold as its number, "E8 2Ah",
// "180 0044h".
constexpr int kEntryChars = 3 + 1 + cap_names::kAbbrevChars;
void entry_text(const pci::caps::Capability& c, char16_t (&text)[kEntryChars + 1]) {
  const cap_names::CapName* name = cap_names::find(c.extended, c.id);
  if (name != nullptr) {
    sformat(text, kEntryChars + 1, c.extended ? u"%03X %s" : u"%02X %s", c.offset, name->abbrev);
  } else {
    sformat(text, kEntryChars + 1, c.extended ? u"%03X %04Xh" : u"%02X %02Xh", c.offset, c.id);
  }
}

// "Link x1 2.5GT/s of x16 8GT/s": the width and speed the link trained at,
// then the most it can. Where that runs past column 79 (two-digit widths
// at 2.5GT/s) the unit stands once, at the end: "Link x16 2.5 of x16
// 2.5GT/s".
void link_text(const pci::caps::Link& l, char16_t (&text)[kListCols + 1]) {
  const char16_t* speed = cap_names::link_speed(l.speed);
  const char16_t* max_speed = cap_names::link_speed(l.max_speed);
  char16_t full[40];
  const int n = sformat(full, 40, u"Link x%d %sGT/s of x%d %sGT/s", l.width, speed, l.max_width, max_speed);
  const char16_t* format = n <= kListCols ? u"Link x%d %sGT/s of x%d %sGT/s" : u"Link x%d %s of x%d %sGT/s";
  sformat(text, kListCols + 1, format, l.width, speed, l.max_width, max_speed);
}
// Widths are six bits.
static_assert(text_length(u"Link x63  of x63 GT/s") + 2 * cap_names::kSpeedChars <= kListCols);

int decimal_digits(int n) { return n >= 1000 ? 4 : n >= 100 ? 3 : n >= 10 ? 2 : 1; }

// As many entries as the rows hold, in list order; the last row keeps room
// for "+N", the entries left out.
void draw_list_entries(PanelRows& rows, const pci::caps::Capability* kept, int total) {
  int shown = 0;
  while (shown < total && shown < kListKept && rows.row() <= kListLastRow) {
    char16_t text[kEntryChars + 1];
    entry_text(kept[shown], text);
    const int after = total - shown - 1;
    const int reserve = rows.on_last_row() && after > 0 ? 2 + decimal_digits(after) : 0;
    if (!rows.fits(text_length(text) + reserve)) {
      if (rows.on_last_row()) break;
      rows.end_row();
      continue;
    }
    rows.add(text);
    ++shown;
  }
  if (shown < total) {
    char16_t more[8];
    sformat(more, 8, u"+%d", total - shown);
    if (!rows.fits(text_length(more))) rows.end_row();
    rows.add(more);
  }
}

// The link line of a function with a PCI Express capability that has link
// registers, then its capabilities as offset and short name, standard ones
// first. A function without a list leaves the rows blank.
void draw_capability_rows(const pci::Bdf& d, const RegisterWindow& w) {
  namespace caps = pci::caps;
  const caps::Source source(d, &w);
  caps::Walk walk(source);
  caps::Capability kept[kListKept];
  caps::Capability c;
  int total = 0;
  bool have_link = false;
  caps::Link link = {};
  while (walk.next(&c)) {
    if (total < kListKept) kept[total] = c;
    ++total;
    if (!have_link && !c.extended && c.id == caps::kIdExpress) {
      const caps::Decoded e = caps::decode(source, c);
      have_link = e.kind == caps::Decoded::kExpress && e.express.has_link;
      link = e.express.link;
    }
  }
  PanelRows rows;
  if (have_link) {
    char16_t text[kListCols + 1];
    link_text(link, text);
    rows.add(text);
    rows.end_row();
  }
  draw_list_entries(rows, kept, total);
  while (rows.row() <= kListLastRow) rows.end_row();
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

// c: the cell cursor of the current width to the cell that holds the next
// standard capability's header after the cursor, in grid order, wrapping
// to the first; nothing on a function without a list.
void to_next_capability(AppState& state) {
  const int from = cursor_offset(state.cursor(), state.width);
  int first = -1;
  int next = -1;
  pci::caps::Walk walk(pci::caps::Source(state.device, &g_window), pci::caps::Walk::kStandardOnly);
  pci::caps::Capability c;
  while (walk.next(&c)) {
    if (first < 0 || c.offset < first) first = c.offset;
    if (c.offset > from && (next < 0 || c.offset < next)) next = c.offset;
  }
  const int to = next >= 0 ? next : first;
  if (to < 0) return;
  const WidthLayout& g = layout(state.width);
  CellCursor& cursor = state.cursor();
  cursor.row = 2 + to / 16;
  cursor.index = (to % 16) / g.bytes;
  cursor.col = 3 + g.pitch * cursor.index;
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
    // Nothing where no space is known to hold the function.
    const pci::MappedAddress m = pci::memory_address(state.device);
    if (!pci::is_express(g_window) || !m.present) return;
    state.memory_base = m.address;
    state.page = PageId::kMemory;
    con::clear_screen();
  } else if (key.scan == 0 && key.ch == u'c') {
    to_next_capability(state);
  } else if (key.scan == 0 && key.ch == u'C') {
    state.caps_top = 0;
    state.page = PageId::kPcieCaps;
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
  draw_capability_rows(d, g_window);
  con::poll_key(&state.key);
  act_on_key(state);
}

}  // namespace kvq
