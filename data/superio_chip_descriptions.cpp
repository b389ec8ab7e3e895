// The four chip tables. Each chip's rows are in their own header; the checks
// below hold every table to the chip's register coverage: its size, the rows
// of each register space and the lowest and highest register there.
#include "data/superio_descriptions.h"
#include "data/superio_it8728_rows.h"
#include "data/superio_it8781_rows.h"
#include "data/superio_nct6102_rows.h"
#include "data/superio_w83627dhg_rows.h"

namespace kvq::data {
namespace {

template <int N>
constexpr int row_count(const RegisterDescription (&)[N]) {
  return N;
}

// ITE IT8781F: logical devices 00h-09h (serial ports 3 and 4 at 08h, 09h).
static_assert(well_formed(kIt8781Rows, 0x87, 0x81));
static_assert(row_count(kIt8781Rows) == 206);
static_assert(coverage(kIt8781Rows, kSpaceGlobal) == SpaceCoverage{15, 0x02, 0x2C});
static_assert(device_rows(kIt8781Rows, {7, 8, 8, 8, 13, 8, 4, 32, 8, 8}));
static_assert(coverage(kIt8781Rows, 0x00, 0x0A) == SpaceCoverage{104, 0x30, 0xF6});
static_assert(coverage(kIt8781Rows, 0x07) == SpaceCoverage{32, 0x60, 0xCC});
static_assert(coverage(kIt8781Rows, kSpaceMonitor) == SpaceCoverage{87, 0x00, 0x8F});

// ITE IT8728F: logical devices 00h-07h and consumer IR at 0Ah.
static_assert(well_formed(kIt8728Rows, 0x87, 0x28));
static_assert(row_count(kIt8728Rows) == 259);
static_assert(coverage(kIt8728Rows, kSpaceGlobal) == SpaceCoverage{15, 0x02, 0x2C});
static_assert(device_rows(kIt8728Rows, {7, 8, 8, 8, 15, 8, 4, 53, 0, 0, 5}));
static_assert(coverage(kIt8728Rows, 0x00, 0x0A) == SpaceCoverage{116, 0x30, 0xFB});
static_assert(coverage(kIt8728Rows, 0x07) == SpaceCoverage{53, 0x60, 0xFB});
static_assert(coverage(kIt8728Rows, kSpaceMonitor) == SpaceCoverage{128, 0x00, 0x9F});

// Nuvoton NCT6102D: no logical device rows.
static_assert(well_formed(kNct6102Rows, 0xC4, 0x52));
static_assert(row_count(kNct6102Rows) == 132);
static_assert(coverage(kNct6102Rows, kSpaceGlobal) == SpaceCoverage{20, 0x02, 0x2F});
static_assert(coverage(kNct6102Rows, kSpaceMonitor) == SpaceCoverage{112, 0x00, 0x6F});

// Winbond W83627DHG: no logical device rows; monitor banks 1, 2, 4, 5, 6.
static_assert(well_formed(kW83627dhgRows, 0xA0, 0x25));
static_assert(row_count(kW83627dhgRows) == 179);
static_assert(coverage(kW83627dhgRows, kSpaceGlobal) == SpaceCoverage{17, 0x02, 0x2F});
static_assert(coverage(kW83627dhgRows, kSpaceMonitor) == SpaceCoverage{111, 0x00, 0x6E});
static_assert(coverage(kW83627dhgRows, monitor_bank_space(1)) == SpaceCoverage{7, 0x50, 0x56});
static_assert(coverage(kW83627dhgRows, monitor_bank_space(2)) == SpaceCoverage{7, 0x50, 0x56});
static_assert(coverage(kW83627dhgRows, monitor_bank_space(4)) == SpaceCoverage{16, 0x50, 0x5F});
static_assert(coverage(kW83627dhgRows, monitor_bank_space(5)) == SpaceCoverage{13, 0x50, 0x5C});
static_assert(coverage(kW83627dhgRows, monitor_bank_space(6)) == SpaceCoverage{8, 0x50, 0x57});

// A chip's monitor is banked when the chip has rows in a monitor bank.
template <int N>
constexpr DescriptionTable table(const RegisterDescription (&rows)[N]) {
  return {rows[0].vid, rows[0].did, coverage(rows, monitor_bank_space(0), monitor_bank_space(0xFF)).rows > 0, rows, N};
}

constexpr DescriptionTable kIt8781 = table(kIt8781Rows);
constexpr DescriptionTable kIt8728 = table(kIt8728Rows);
constexpr DescriptionTable kNct6102 = table(kNct6102Rows);
constexpr DescriptionTable kW83627dhg = table(kW83627dhgRows);
static_assert(!kIt8781.banked && !kIt8728.banked && !kNct6102.banked && kW83627dhg.banked);

constexpr const DescriptionTable* kAll[] = {&kIt8781, &kIt8728, &kNct6102, &kW83627dhg};

// No chip is described twice.
constexpr bool one_table_per_chip() {
  for (const DescriptionTable* a : kAll) {
    for (const DescriptionTable* b : kAll) {
      if (a != b && a->vid == b->vid && a->did == b->did) return false;
    }
  }
  return true;
}
static_assert(one_table_per_chip());

}  // namespace

constinit const DescriptionTable* const kChipDescriptions[] = {&kIt8781, &kIt8728, &kNct6102, &kW83627dhg};
constinit const int kChipDescriptionCount = sizeof(kChipDescriptions) / sizeof(kChipDescriptions[0]);

}  // namespace kvq::data
