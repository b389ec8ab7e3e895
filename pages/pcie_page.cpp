#include "app/colors.h"
#include "app/footer.h"
#include "pages/pages.h"
#include "platform/console.h"

namespace kvq {

void pcie_pass(AppState& state) {
  con::set_cursor(0, 0);
  con::set_attr(kAttrWhite);
  con::print(u"Bus:%02d Dev:%02d Fun:%02d", state.device.bus, state.device.device, state.device.function);
  draw_footer(false);
  con::poll_key(&state.key);
}

}  // namespace kvq
