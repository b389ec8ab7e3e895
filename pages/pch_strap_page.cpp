// The PCH Strap page: the 21 soft-strap dwords of the SPI flash descriptor,
// as the SPI controller reports them (hw/spi).
#include "app/colors.h"
#include "app/footer.h"
#include "hw/spi.h"
#include "pages/pages.h"
#include "platform/console.h"

namespace kvq {
namespace {

void draw_straps(const uint32_t (&straps)[spi::kStrapCount]) {
  con::set_attr(kAttrLightGreen);
  con::set_cursor(32, 0);
  con::put_text(u"PCH Soft Straps");
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
  uint32_t straps[spi::kStrapCount];
  spi::read_straps(straps);
  draw_straps(straps);
  draw_footer(false);
}

}  // namespace kvq
