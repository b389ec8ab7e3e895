// The program's palette: attribute bytes, foreground in bits 3:0 and
// background in bits 6:4.
#pragma once
#include <stdint.h>

namespace kvq {

inline constexpr uint8_t kAttrWhite = 0x0F;       // ordinary text, non-zero values
inline constexpr uint8_t kAttrGray = 0x07;        // zero values
inline constexpr uint8_t kAttrYellow = 0x0E;      // grid labels, bits that are 1
inline constexpr uint8_t kAttrLightGreen = 0x0A;  // cursor offset, typed input
inline constexpr uint8_t kAttrGreen = 0x02;       // footer banner
inline constexpr uint8_t kAttrWhiteOnBlue = 0x1F; // cell cursor, highlighted menu item
inline constexpr uint8_t kAttrBlackOnGreen = 0x20;  // open menu title
inline constexpr uint8_t kAttrBlackOnGray = 0x70;   // closed menu title, other items
inline constexpr uint8_t kAttrWhiteOnGreen = 0x2F;  // highlighted list row
inline constexpr uint8_t kAttrBlack = 0x00;         // erased cell before typing

}  // namespace kvq
