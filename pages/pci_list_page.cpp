#include "app/footer.h"
#include "pages/pages.h"
#include "platform/console.h"

namespace kvq {

void pci_list_pass(AppState& state) {
  draw_footer(true);
  con::poll_key(&state.key);
}

}  // namespace kvq
