#include "app/menu.h"

#include "app/colors.h"
#include "app/footer.h"
#include "hw/sata.h"
#include "platform/console.h"

namespace kvq {
namespace {

constexpr int kItems = 4;
constexpr int kColumnWidth = 11;

struct MenuColumnDef {
  const char16_t* title;
  const char16_t* items[kItems];
  PageId pages[kItems];
};

constexpr MenuColumnDef kColumns[2] = {
    {u" DEVICES   ",
     {u" PCIE      ", u" Memory    ", u" I/O       ", u" Super I/O "},
     {PageId::kPcie, PageId::kMemory, PageId::kIo, PageId::kSuperIo}},
    {u" OTHER     ",
     {u" HELP      ", u" SMBIOS    ", u" HDD       ", u" PCH Strap "},
     {PageId::kHelp, PageId::kSmbios, PageId::kHdd, PageId::kPchStrap}},
};

void draw_menu(const AppState& state) {
  const int open = static_cast<int>(state.menu_column);
  for (int c = 0; c < 2; ++c) {
    con::set_cursor(c * kColumnWidth, 0);
    con::set_attr(c == open ? kAttrBlackOnGreen : kAttrBlackOnGray);
    con::put_text(kColumns[c].title);
  }
  for (int i = 0; i < kItems; ++i) {
    con::set_cursor(open * kColumnWidth, 1 + i);
    con::set_attr(i + 1 == state.menu_item ? kAttrWhiteOnBlue : kAttrBlackOnGray);
    con::put_text(kColumns[open].items[i]);
  }
  con::set_attr(kAttrBlack);
}

void open_column(AppState& state, MenuColumn column) {
  state.menu_column = column;
  state.menu_item = 1;
  con::clear_screen();
}

void choose(AppState& state) {
  const PageId page = kColumns[static_cast<int>(state.menu_column)].pages[state.menu_item - 1];
  if (page == PageId::kHdd) {
    // The disk page reads AHCI port registers: only in AHCI or RAID mode.
    if (sata::mode_allows_disk_page(sata::mode_query())) state.page = page;
  } else {
    state.page = page;
  }
  con::clear_screen();
}

}  // namespace

void menu_pass(AppState& state) {
  con::poll_key(&state.key);
  draw_footer(false);
  draw_menu(state);
  const Key key = state.key;
  if (key.scan == kScanUp) {
    if (state.menu_item > 1) --state.menu_item;
  } else if (key.scan == kScanDown) {
    if (state.menu_item < kItems) ++state.menu_item;
  } else if (key.scan == kScanRight) {
    open_column(state, MenuColumn::kOther);
  } else if (key.scan == kScanLeft) {
    open_column(state, MenuColumn::kDevices);
  } else if (key.scan == 0 && key.ch == kCharEnter) {
    // A record with a scan code is that key, whatever character comes with
    // it (a terminal's F5 can carry a CR): left to the loop.
    choose(state);
  } else {
    return;  // F5, F6, F7, Esc and anything else: left to the loop
  }
  state.key = Key{0, 0};
}

}  // namespace kvq
