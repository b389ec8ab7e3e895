// The PCI list: every function the start-up scan found, 25 to a page on the
// list screen, with its name; Enter opens the PCIE page on the chosen one.
// Drawing reads the table but changes neither the current function nor the
// table index: only Enter does.
#include "app/colors.h"
#include "app/footer.h"
#include "data/pci_names.h"
#include "hw/pci.h"
#include "pages/pages.h"
#include "pages/pci_name_lookup.h"
#include "platform/console.h"

namespace kvq {
namespace {

constexpr int kRowsPerPage = 25;
constexpr int kListWidth = 100;

pci::TableEntry slot_entry(int32_t slot, int32_t count) {
  if (slot < 0 || slot >= count || slot >= pci::kTableCapacity) return pci::TableEntry{};
  return pci::g_devices.entries[slot];
}

// Bus, device and function in decimal; a function outside segment 0 as
// SSSS:BB:DD.F, which pushes its name one column right.
void draw_row_prefix(const pci::TableEntry& e, int row) {
  con::set_cursor(0, row);
  if (e.bdf.segment != 0) {
    char16_t name[16];
    pci::function_name(e.bdf, true, name, 16);
    con::print(u"%s %04X%04X ", name, e.device_id, e.vendor_id);
    return;
  }
  con::print(u"%03d %03d %03d %04X%04X ", e.bdf.bus, e.bdf.device, e.bdf.function, e.device_id, e.vendor_id);
}

void draw_row(const ListState& list, int row) {
  const int32_t slot = list.page * kRowsPerPage + row - 1;
  const pci::TableEntry e = slot_entry(slot, list.count);
  const bool selected = row == list.row;
  if (!selected && e.device_id == 0) {
    con::set_cursor(0, row);
    con::set_attr(kAttrBlack);
    con::repeat(u' ', kListWidth);
    return;
  }
  con::set_attr(selected ? kAttrWhiteOnGreen : kAttrGray);
  draw_row_prefix(e, row);
  bool named = false;
  for (int group = 0; group < kNameLookupCount && !named; ++group) {
    named = list_name_lookup(group, selected, e.bdf, row);
  }
  if (!named) {
    // The bar spans the full width even without a name.
    const int col = list_name_column(e.bdf);
    con::set_cursor(col, row);
    con::repeat(u' ', pci_names::kListNameWidth - (col - 21));
  }
}

void draw_list(const ListState& list) {
  con::set_attr(kAttrWhiteOnBlue);
  con::set_cursor(0, 0);
  con::print(u"BUS DEV FUN  DID VID NAME%67sPCI LIST", u"");
  for (int row = 1; row <= kRowsPerPage; ++row) draw_row(list, row);
  con::set_attr(kAttrWhite);
  con::set_cursor(33, 27);
  con::print(u"DEVICE : %03d/%03d", list.page * kRowsPerPage + list.row, list.count);
  con::set_cursor(54, 27);
  con::print(u"PAGE : %03d/%03d", list.page + 1, list.last_page + 1);
}

// Screen row of the last device on the last page.
int32_t last_row(const ListState& list) { return list.count - list.last_page * kRowsPerPage; }

void act_on_key(AppState& state) {
  ListState& list = state.list;
  const Key key = state.key;
  if (key.scan == kScanUp) {
    if (list.row > 1) --list.row;
  } else if (key.scan == kScanDown) {
    const int32_t limit = list.page == list.last_page ? last_row(list) : kRowsPerPage;
    if (list.row < limit && list.row < kRowsPerPage) ++list.row;
  } else if (key.scan == kScanPageUp) {
    if (list.page > 0) --list.page;
  } else if (key.scan == kScanPageDown) {
    if (list.page < list.last_page) {
      ++list.page;
      if (list.page == list.last_page) list.row = last_row(list);
    }
  } else if (key.scan == 0 && key.ch == kCharEnter) {
    con::set_attr(kAttrWhite);
    const int32_t slot = list.page * kRowsPerPage + list.row - 1;
    const pci::TableEntry e = slot_entry(slot, list.count);
    state.table_index = slot;
    state.device = e.bdf;
    state.page = PageId::kPcie;
    con::set_mode(con::kStandardMode);
    con::clear_screen();
  } else {
    return;
  }
  state.key = Key{0, 0};
}

}  // namespace

void pci_list_pass(AppState& state) {
  draw_list(state.list);
  draw_footer(true);
  con::poll_key(&state.key);
  act_on_key(state);
}

}  // namespace kvq
