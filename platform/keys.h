// Key strokes as the UEFI Simple Text Input protocol reports them: a scan
// code for keys without a character, and a UCS-2 character otherwise.
#pragma once
#include <stdint.h>

namespace kvq {

struct Key {
  uint16_t scan;
  uint16_t ch;
};

// UEFI scan codes used by kvq.
enum : uint16_t {
  kScanNone = 0,
  kScanUp = 1,
  kScanDown = 2,
  kScanRight = 3,
  kScanLeft = 4,
  kScanHome = 5,
  kScanEnd = 6,
  kScanInsert = 7,
  kScanDelete = 8,
  kScanPageUp = 9,
  kScanPageDown = 10,
  kScanF1 = 11,
  kScanF2 = 12,
  kScanF3 = 13,
  kScanF4 = 14,
  kScanF5 = 15,
  kScanF6 = 16,
  kScanF7 = 17,
  kScanF8 = 18,
  kScanF9 = 19,
  kScanF10 = 20,
  kScanEsc = 23,
};

// Characters used by kvq.
enum : uint16_t {
  kCharBackspace = 8,
  kCharEnter = 13,
};

}  // namespace kvq
