// The PCH Strap page: the 21 soft-strap dwords of the SPI flash descriptor,
// read through the SPI controller's flash descriptor observability
// registers (FDOC/FDOD) at their fixed addresses behind the default root
// complex base 0xFED1C000.
#include "app/colors.h"
#include "app/footer.h"
#include "pages/pages.h"
#include "platform/console.h"
#include "platform/hw.h"

namespace kvq {
namespace {

constexpr uint32_t kFdoc = 0xFED1F8B0;  // control: section and dword index
constexpr uint32_t kFdod = 0xFED1F8B4;  // data: the selected dword
constexpr uint32_t kSectionPchStraps = 4u << 12;  // FDOC bits 14:12
constexpr int kStrapCount = 21;

constexpr uint32_t fdoc_value(int index) { return kSectionPchStraps | static_cast<uint32_t>(index) << 2; }
static_assert(fdoc_value(0) == 0x4000 && fdoc_value(1) == 0x4004 && fdoc_value(20) == 0x4050);

constinit uint32_t g_straps[kStrapCount] = {};

// Each control write is followed at once by its data read: the data
// register answers for the index last written.
void read_straps() {
  for (int i = 0; i < kStrapCount; ++i) {
    plat::mem_write32(kFdoc, fdoc_value(i));
    g_straps[i] = plat::mem_read32(kFdod);
  }
}

void draw_straps() {
  con::set_attr(kAttrLightGreen);
  con::set_cursor(32, 0);
  con::put_text(u"PCH Soft Straps");
  for (int i = 0; i < kStrapCount; ++i) {
    con::set_attr(kAttrYellow);
    con::set_cursor(33, i + 2);
    con::print(u"%02d:", i);
    con::set_attr(kAttrWhite);
    con::set_cursor(36, i + 2);
    con::print(u"0x%08X", g_straps[i]);
  }
}

}  // namespace

void pch_strap_pass(AppState& state) {
  con::poll_key(&state.key);
  read_straps();
  draw_straps();
  draw_footer(false);
}

}  // namespace kvq
