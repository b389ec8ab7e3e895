// The HELP page: a box with the program's name, version and credit and a
// summary of the keys, and below it the keys the box leaves out. No data
// and no footer; every key but the global ones is ignored.
#include "app/colors.h"
#include "pages/pages.h"
#include "platform/console.h"
#include "platform/text16.h"

namespace kvq {
namespace {

constexpr uint8_t kAttrBlueOnGray = 0x71;
constexpr int kBoxCol = 13;
constexpr int kBoxWidth = 52;

struct BoxLine {
  int row;
  uint8_t attr;
  const char16_t* text;
};

constexpr const char16_t* kBlank = u"                                                    ";

constexpr BoxLine kBox[] = {
    {3, kAttrWhiteOnBlue, u"                  KVQ User Manual                   "},
    {4, kAttrBlueOnGray, kBlank},
    {5, kAttrBlueOnGray, u" Tavik's Debug Utility Version 1.0.9 for UEFI Shell "},
    {6, kAttrBlueOnGray, u" Registers of x86 boards, read and written live     "},
    {7, kAttrBlueOnGray, kBlank},
    {8, kAttrBlueOnGray, u" Esc Key to Exit ...                                "},
    {9, kAttrBlueOnGray, u" P Key to Configure ...                             "},
    {10, kAttrBlueOnGray, u" Enter Key to Modify ...                            "},
    {11, kAttrBlueOnGray, u" F5 Key to Show PCI List ...                        "},
    {12, kAttrBlueOnGray, u" S Key to Enter PCI Extended Register ...           "},
    {13, kAttrBlueOnGray, u" F6 Key to Change Function ...                      "},
    {14, kAttrBlueOnGray, u" F7 Key to Change Mode ...                          "},
    {15, kAttrBlueOnGray, u" Arrow/PageUp/PageDown Key to Move ...              "},
    {16, kAttrBlueOnGray, kBlank},
    {17, kAttrBlueOnGray, kBlank},
    {18, kAttrBlueOnGray, kBlank},
    {19, kAttrBlueOnGray, kBlank},
    {20, kAttrBlueOnGray, kBlank},
    {21, kAttrBlueOnGray, kBlank},
};

// Below the box, every key the box leaves out: each line within the 79
// columns a line on the bottom row may fill without scrolling the console.
constexpr BoxLine kMoreKeys[] = {
    {22, kAttrWhite, u" P 64-bit address (Memory)   c next capability   C capabilities (PCIE)"},
    {23, kAttrWhite, u" i identify (HDD)  < > processor (CPU)  Setup: / filter, Enter change, y toggle"},
    {24, kAttrWhite, u" Variables: / filter, Enter open, Esc back; p offset, PageUp/PageDown 256 bytes"},
};

// One line per row from 3 to 21, each exactly the box's width.
constexpr bool box_is_sound() {
  int row = 3;
  for (const BoxLine& line : kBox) {
    int len = 0;
    while (line.text[len] != 0) ++len;
    if (line.row != row++ || len != kBoxWidth) return false;
  }
  return row == 22;
}
static_assert(box_is_sound());

constexpr bool more_keys_sound() {
  int row = 22;
  for (const BoxLine& line : kMoreKeys) {
    if (line.row != row++ || text_length(line.text) > 79) return false;
  }
  return row == 25;
}
static_assert(more_keys_sound());

}  // namespace

void help_pass(AppState& state) {
  con::poll_key(&state.key);
  for (const BoxLine& line : kBox) {
    con::set_attr(line.attr);
    con::set_cursor(kBoxCol, line.row);
    con::put_text(line.text);
  }
  for (const BoxLine& line : kMoreKeys) {
    con::set_attr(line.attr);
    con::set_cursor(0, line.row);
    con::put_text(line.text);
  }
  con::set_attr(kAttrBlack);
}

}  // namespace kvq
