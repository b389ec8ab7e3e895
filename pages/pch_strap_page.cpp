// The PCH Strap page: the 21 soft-strap dwords of the SPI flash descriptor,
// as the SPI controller reports them (hw/spi), wherever the chipset puts
// the controller; nothing at all where there is none.
#include "app/colors.h"
#include "app/footer.h"
#include "hw/spi.h"
#include "pages/pages.h"
#include "platform/console.h"
#include "platform/text16.h"

namespace kvq {
namespace {

constexpr int kNoteRow = 23;  // free between the straps and the footer
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

void draw_straps(const uint32_t (&straps)[spi::kStrapCount]) {
  for (int i = 0; i < spi::kStrapCount; ++i) {
    con::set_attr(kAttrYellow);
    con::set_cursor(33, i + 2);
    con::print(u"%02d:", i);
    con::set_attr(kAttrWhite);
    con::set_cursor(36, i + 2);
    con::print(u"0x%08X", straps[i]);
  }
}

}  // namespace

void pch_strap_pass(AppState& state) {
  con::poll_key(&state.key);
  const spi::Controller controller = spi::find_controller();
  con::set_attr(kAttrLightGreen);
  con::set_cursor(32, 0);
  con::put_text(u"PCH Soft Straps");
  con::set_attr(kAttrWhite);
  if (controller.kind == spi::Controller::kNone) {
    put_line(32, 2, kNone, text_length(kNone));
  } else {
    const bool valid = spi::descriptor_valid(controller);
    uint32_t straps[spi::kStrapCount];
    spi::read_straps(controller, straps);
    put_line(32, 2, u"", text_length(kNone));
    draw_straps(straps);
    put_line(0, kNoteRow, valid ? u"" : kNoDescriptor, 80);
  }
  draw_footer(false);
}

}  // namespace kvq
