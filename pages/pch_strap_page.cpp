// The PCH Strap page: the soft-strap dwords of the SPI flash descriptor, as
// the SPI controller reports them (hw/spi), wherever the chipset puts the
// controller; as many as the descriptor says, 21 to a screen; nothing at
// all where there is none.
#include "app/colors.h"
#include "app/footer.h"
#include "hw/spi.h"
#include "pages/pages.h"
#include "platform/console.h"
#include "platform/format.h"
#include "platform/text16.h"

namespace kvq {
namespace {

constexpr int kNoteRow = 23;  // free between the straps and the footer
constexpr int kMessageWidth = 48;  // columns 32 to 79
constexpr const char16_t* kNone = u"No flash controller found";
constexpr const char16_t* kNoDescriptor =
    u"No valid flash descriptor (HSFS.FDV is 0): these dwords are not soft straps.";
static_assert(text_length(kNoDescriptor) <= 80);

// A line that replaces whatever stood there before, whole.
void put_line(int col, int row, const char16_t* text, int width) {
  con::set_cursor(col, row);
  con::put_text(text);
  con::repeat(u' ', width - text_length(text));
}

// Rows 2 to 22: index and value, blank below the last strap. An index of
// three digits starts a column earlier.
void draw_straps(const spi::Straps& s) {
  for (int i = 0; i < spi::Straps::kRows; ++i) {
    const int index = s.first + i;
    con::set_cursor(32, i + 2);
    if (i >= s.shown) {
      con::repeat(u' ', 14);
      continue;
    }
    con::set_attr(kAttrYellow);
    con::print(index >= 100 ? u"%d:" : u" %02d:", index);
    con::set_attr(kAttrWhite);
    con::print(u"0x%08X", s.values[i]);
  }
}

void draw_note(const spi::Straps& s) {
  char16_t line[81] = u"";
  if (!s.valid) {
    sformat(line, 81, u"%s", kNoDescriptor);
  } else if (s.count > spi::Straps::kRows) {
    sformat(line, 81, u"Straps %d-%d of %d: PageUp PageDown", s.first, s.first + s.shown - 1, s.count);
  }
  put_line(0, kNoteRow, line, 80);
}

}  // namespace

void pch_strap_pass(AppState& state) {
  con::poll_key(&state.key);
  if (state.key.scan == kScanPageDown || state.key.scan == kScanPageUp) {
    state.strap_first += state.key.scan == kScanPageDown ? spi::Straps::kRows : -spi::Straps::kRows;
    state.key = Key{0, 0};
  }
  const spi::Controller controller = spi::find_controller();
  con::set_attr(kAttrLightGreen);
  con::set_cursor(32, 0);
  con::put_text(u"PCH Soft Straps");
  con::set_attr(kAttrWhite);
  if (controller.kind == spi::Controller::kNone) {
    put_line(32, 2, kNone, kMessageWidth);
  } else if (controller.kind == spi::Controller::kNotSupported) {
    char16_t line[kMessageWidth + 1];
    sformat(line, kMessageWidth + 1, u"%s: not supported on this chipset", controller.chipset);
    put_line(32, 2, line, kMessageWidth);
  } else {
    const spi::Straps straps = spi::read_straps(controller, state.strap_first);
    state.strap_first = straps.first;
    draw_straps(straps);
    draw_note(straps);
  }
  draw_footer(false);
}

}  // namespace kvq
