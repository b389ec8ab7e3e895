// One-line descriptions of Super I/O and CMOS clock registers, shown under
// the Super I/O page's grid. One table per chip, each row naming its own
// register space and register, so that no two parallel arrays can drift.
#pragma once
#include <stdint.h>
#include "platform/text16.h"

namespace kvq::data {

// Register spaces a row can name. Logical devices 00h to 0Ah are their own
// number.
inline constexpr uint16_t kSpaceGlobal = 0x00FF;   // global configuration registers
inline constexpr uint16_t kSpaceMonitor = 0x00FE;  // hardware monitor (bank 0 where banked)
inline constexpr uint16_t kSpaceCmos = 0x7071;     // CMOS clock behind 0070h/0071h
// Winbond hardware monitor banks 1 to 6, selected by monitor register 4Eh.
constexpr uint16_t monitor_bank_space(int bank) { return static_cast<uint16_t>(0x4E00 | bank); }

// Room on the description line: an 80-column row, less a margin.
inline constexpr int kMaxDescriptionLength = 78;

struct RegisterDescription {
  uint16_t vid;    // vendor byte of the chip (0070h in the CMOS table)
  uint16_t did;    // chip byte (0071h in the CMOS table)
  uint16_t space;  // one of the spaces above, or a logical device number
  uint16_t reg;    // register index 00h to FFh
  const char16_t* text;
};

// One chip's rows, and which chip they describe: its registers 20h and 21h,
// and whether its hardware monitor is banked (register 4Eh of the monitor
// selects which registers 50h-5Fh show).
struct DescriptionTable {
  uint16_t vid;
  uint16_t did;
  bool banked;
  const RegisterDescription* rows;
  int count;
};

extern const DescriptionTable kCmosDescriptions;
// Every chip with descriptions.
extern const DescriptionTable* const kChipDescriptions[];
extern const int kChipDescriptionCount;

// Rows come grouped by space in this order: global, logical devices
// ascending, monitor, monitor banks ascending; CMOS on its own.
constexpr int space_rank(uint16_t space) {
  if (space == kSpaceGlobal) return 0;
  if (space <= 0x0A) return 1 + space;
  if (space == kSpaceMonitor) return 0x100;
  if ((space & 0xFF00) == 0x4E00) return 0x100 + (space & 0xFF);
  if (space == kSpaceCmos) return 0x200;
  return -1;
}

// Compile-time self-check of one table: every row carries the table's key
// and a known space, rows are grouped and ordered by space and ascend by
// register within a space (so no (space, register) pair repeats), and every
// text fits the description line.
template <int N>
constexpr bool well_formed(const RegisterDescription (&rows)[N], uint16_t vid, uint16_t did) {
  for (int i = 0; i < N; ++i) {
    const RegisterDescription& r = rows[i];
    if (r.vid != vid || r.did != did || r.reg > 0xFF || space_rank(r.space) < 0) return false;
    if (r.text == nullptr || text_length(r.text) > kMaxDescriptionLength) return false;
    if (i > 0) {
      const RegisterDescription& p = rows[i - 1];
      const int pr = space_rank(p.space);
      const int rr = space_rank(r.space);
      if (rr < pr || (rr == pr && r.reg <= p.reg)) return false;
    }
  }
  return true;
}

// How much of one register space a table covers: its rows and the lowest
// and highest register among them. Spaces first..last together, so that the
// logical devices can be held to one range as a whole.
struct SpaceCoverage {
  int rows;
  int lowest;
  int highest;
  constexpr bool operator==(const SpaceCoverage&) const = default;
};

template <int N>
constexpr SpaceCoverage coverage(const RegisterDescription (&rows)[N], uint16_t first, uint16_t last) {
  SpaceCoverage c{0, 0x100, -1};
  for (const RegisterDescription& r : rows) {
    if (r.space < first || r.space > last) continue;
    ++c.rows;
    if (r.reg < c.lowest) c.lowest = r.reg;
    if (r.reg > c.highest) c.highest = r.reg;
  }
  return c;
}

template <int N>
constexpr SpaceCoverage coverage(const RegisterDescription (&rows)[N], uint16_t space) {
  return coverage(rows, space, space);
}

// Rows per logical device 00h, 01h, ...: expected[d] rows under device d, and
// none under any device past the list.
template <int N, int D>
constexpr bool device_rows(const RegisterDescription (&rows)[N], const int (&expected)[D]) {
  for (int d = 0; d < D; ++d) {
    if (coverage(rows, static_cast<uint16_t>(d)).rows != expected[d]) return false;
  }
  return coverage(rows, static_cast<uint16_t>(D), 0x0A).rows == 0;
}

}  // namespace kvq::data
