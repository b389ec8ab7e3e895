#include "app/footer.h"

#include "app/colors.h"
#include "platform/console.h"

namespace kvq {

void draw_footer(bool list_screen) {
  if (list_screen) {
    con::set_cursor(31, 29);
  } else {
    con::set_cursor(21, 24);
  }
  con::set_attr(kAttrGreen);
  con::put_text(kBanner);
  con::set_attr(kAttrWhite);
}

}  // namespace kvq
