#include "app/menu.h"

#include "app/colors.h"
#include "app/footer.h"
#include "pages/pages.h"
#include "platform/console.h"

namespace kvq {
namespace {

constexpr int kColumnCount = 2;
constexpr int kColumnWidth = 11;
constexpr const char16_t* kTitles[kColumnCount] = {u" DEVICES   ", u" OTHER     "};


void draw_menu(const AppState& state) {
  const int open = static_cast<int>(state.menu_column);
  for (int c = 0; c < kColumnCount; ++c) {
    con::set_cursor(c * kColumnWidth, 0);
    con::set_attr(c == open ? kAttrBlackOnGreen : kAttrBlackOnGray);
    con::put_text(kTitles[c]);
  }
  for (int slot = 1; slot <= menu_items(state.menu_column); ++slot) {
    con::set_cursor(open * kColumnWidth, slot);
    con::set_attr(slot == state.menu_item ? kAttrWhiteOnBlue : kAttrBlackOnGray);
    con::put_text(menu_page(state.menu_column, slot)->label);
  }
  con::set_attr(kAttrBlack);
}

void open_column(AppState& state, MenuColumn column) {
  state.menu_column = column;
  state.menu_item = 1;
  con::clear_screen();
}

void choose(AppState& state) {
  const PageRow* page = menu_page(state.menu_column, state.menu_item);
  if (page != nullptr && (page->can_open == nullptr || page->can_open(state))) state.page = page->id;
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
    if (state.menu_item < menu_items(state.menu_column)) ++state.menu_item;
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
