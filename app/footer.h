#pragma once

namespace kvq {

inline constexpr const char16_t* kBanner = u"KVQ 1.0.9 for UEFI Shell - kvq register inspector";

// The footer banner in green, then white: centred on 80 columns on the
// standard screen (21, 24), on 100 columns on the list screen (31, 29).
void draw_footer(bool list_screen);

}  // namespace kvq
