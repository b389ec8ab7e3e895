// The four chip tables. Until their full wording lands they hold the rows
// whose texts are fixed, so the lookup can be built and tested against them.
#include "data/superio_descriptions.h"

namespace kvq::data {
namespace {

constexpr uint16_t kIte = 0x87;
constexpr uint16_t kNuvoton = 0xC4;
constexpr uint16_t kWinbond = 0xA0;

constexpr RegisterDescription kIt8781Rows[] = {
    {.vid = kIte, .did = 0x81, .space = kSpaceGlobal, .reg = 0x02, .text = u"Configure Control"},
    {.vid = kIte, .did = 0x81, .space = kSpaceGlobal, .reg = 0x07, .text = u"Logical Device Number"},
    {.vid = kIte, .did = 0x81, .space = kSpaceGlobal, .reg = 0x20, .text = u"Chip ID Byte 1"},
    {.vid = kIte, .did = 0x81, .space = kSpaceGlobal, .reg = 0x21, .text = u"Chip ID Byte 2"},
    {.vid = kIte, .did = 0x81, .space = kSpaceGlobal, .reg = 0x2C, .text = u"Extended 2 Multi-Function Pin Selection Register"},
    {.vid = kIte, .did = 0x81, .space = 0x00, .reg = 0x30, .text = u"FDC Activate"},
    {.vid = kIte, .did = 0x81, .space = 0x04, .reg = 0x30, .text = u"Environment Controller Activate"},
    {.vid = kIte, .did = 0x81, .space = 0x04, .reg = 0x60, .text = u"Environment Controller Base Address MSB Register"},
    {.vid = kIte, .did = 0x81, .space = 0x04, .reg = 0x61, .text = u"Environment Controller Base Address LSB Register"},
    {.vid = kIte, .did = 0x81, .space = 0x06, .reg = 0x30, .text = u"KBC (Mouse) Activate"},
    {.vid = kIte, .did = 0x81, .space = 0x08, .reg = 0x30, .text = u"Serial Port 3 Activate"},
    {.vid = kIte, .did = 0x81, .space = kSpaceMonitor, .reg = 0x00, .text = u"Configuration"},
    {.vid = kIte, .did = 0x81, .space = kSpaceMonitor, .reg = 0x20, .text = u"VIN0 Voltage Reading Register"},
    {.vid = kIte, .did = 0x81, .space = kSpaceMonitor, .reg = 0x28, .text = u"VBAT Voltage Reading Register"},
    {.vid = kIte, .did = 0x81, .space = kSpaceMonitor, .reg = 0x58, .text = u"ITE Vendor ID Register"},
};
static_assert(well_formed(kIt8781Rows, kIte, 0x81));

constexpr RegisterDescription kIt8728Rows[] = {
    {.vid = kIte, .did = 0x28, .space = kSpaceGlobal, .reg = 0x02, .text = u"Configure Control"},
    {.vid = kIte, .did = 0x28, .space = kSpaceGlobal, .reg = 0x07, .text = u"Logical Device Number"},
    {.vid = kIte, .did = 0x28, .space = kSpaceGlobal, .reg = 0x20, .text = u"Chip ID Byte 1"},
    {.vid = kIte, .did = 0x28, .space = kSpaceGlobal, .reg = 0x21, .text = u"Chip ID Byte 2"},
    {.vid = kIte, .did = 0x28, .space = kSpaceGlobal, .reg = 0x2C, .text = u"Extended 2 Multi-Function Pin Selection Register"},
    {.vid = kIte, .did = 0x28, .space = 0x00, .reg = 0x30, .text = u"FDC Activate"},
    {.vid = kIte, .did = 0x28, .space = 0x04, .reg = 0x30, .text = u"Environment Controller Activate"},
    {.vid = kIte, .did = 0x28, .space = 0x04, .reg = 0x60, .text = u"Environment Controller Base Address MSB Register"},
    {.vid = kIte, .did = 0x28, .space = 0x04, .reg = 0x61, .text = u"Environment Controller Base Address LSB Register"},
    {.vid = kIte, .did = 0x28, .space = 0x06, .reg = 0x30, .text = u"KBC (Mouse) Activate"},
    {.vid = kIte, .did = 0x28, .space = 0x0A, .reg = 0x30, .text = u"Consumer IR Activate"},
    {.vid = kIte, .did = 0x28, .space = kSpaceMonitor, .reg = 0x00, .text = u"Configuration"},
    {.vid = kIte, .did = 0x28, .space = kSpaceMonitor, .reg = 0x20, .text = u"VIN0 Voltage Reading Register"},
    {.vid = kIte, .did = 0x28, .space = kSpaceMonitor, .reg = 0x28, .text = u"VBAT Voltage Reading Register"},
    {.vid = kIte, .did = 0x28, .space = kSpaceMonitor, .reg = 0x58, .text = u"ITE Vendor ID Register"},
    {.vid = kIte, .did = 0x28, .space = kSpaceMonitor, .reg = 0x60, .text = u"FAN_CTL1 SmartGuardian Automatic Mode Temperature Limit of OFF Register"},
};
static_assert(well_formed(kIt8728Rows, kIte, 0x28));

constexpr RegisterDescription kNct6102Rows[] = {
    {.vid = kNuvoton, .did = 0x52, .space = kSpaceGlobal, .reg = 0x02, .text = u"Software Reset Register"},
    {.vid = kNuvoton, .did = 0x52, .space = kSpaceGlobal, .reg = 0x07, .text = u"Logical Device Selection"},
    {.vid = kNuvoton, .did = 0x52, .space = kSpaceGlobal, .reg = 0x20, .text = u"Chip ID ( High Byte )"},
    {.vid = kNuvoton, .did = 0x52, .space = kSpaceGlobal, .reg = 0x21, .text = u"Chip ID ( Low Byte )"},
    {.vid = kNuvoton, .did = 0x52, .space = kSpaceGlobal, .reg = 0x2F, .text = u"Strapping Function Result"},
    {.vid = kNuvoton, .did = 0x52, .space = kSpaceMonitor, .reg = 0x00, .text = u"CPUVCORE reading"},
    {.vid = kNuvoton, .did = 0x52, .space = kSpaceMonitor, .reg = 0x4E, .text = u"Bank select register"},
    {.vid = kNuvoton, .did = 0x52, .space = kSpaceMonitor, .reg = 0x51, .text = u"PCH_CHIP_Temperature"},
    {.vid = kNuvoton, .did = 0x52, .space = kSpaceMonitor, .reg = 0x59, .text = u"TSI Agent 0 temperature high byte"},
};
static_assert(well_formed(kNct6102Rows, kNuvoton, 0x52));

constexpr RegisterDescription kW83627dhgRows[] = {
    {.vid = kWinbond, .did = 0x25, .space = kSpaceGlobal, .reg = 0x02, .text = u"Software Reset Register"},
    {.vid = kWinbond, .did = 0x25, .space = kSpaceGlobal, .reg = 0x2F, .text = u"Test Mode Bits: Reserved for Winbond"},
    {.vid = kWinbond, .did = 0x25, .space = kSpaceMonitor, .reg = 0x00, .text = u"SYSFANOUT  PWM  Output  Frequency  Configuration  Register"},
    {.vid = kWinbond, .did = 0x25, .space = kSpaceMonitor, .reg = 0x20, .text = u"CPUVCORE reading"},
    {.vid = kWinbond, .did = 0x25, .space = kSpaceMonitor, .reg = 0x4E, .text = u"Register 50h ~ 5Fh Bank Select Register"},
    {.vid = kWinbond, .did = 0x25, .space = kSpaceMonitor, .reg = 0x4F, .text = u"Winbond Vendor ID Register"},
    {.vid = kWinbond, .did = 0x25, .space = kSpaceMonitor, .reg = 0x50, .text = u"Reserved Register"},
    {.vid = kWinbond, .did = 0x25, .space = kSpaceMonitor, .reg = 0x66, .text = u"CPUFANOUT1 Stop Time Register - Index 66h (Bank 0)"},
    {.vid = kWinbond, .did = 0x25, .space = monitor_bank_space(1), .reg = 0x50, .text = u"CPUTIN Temperature Sensor Temperature (High Byte) Register"},
    {.vid = kWinbond, .did = 0x25, .space = monitor_bank_space(2), .reg = 0x50, .text = u"AUXTIN Temperature Sensor Temperature (High Byte) Register"},
    {.vid = kWinbond, .did = 0x25, .space = monitor_bank_space(4), .reg = 0x50, .text = u"Interrupt Status Register 3"},
    {.vid = kWinbond, .did = 0x25, .space = monitor_bank_space(5), .reg = 0x50, .text = u"3VSB reading"},
    {.vid = kWinbond, .did = 0x25, .space = monitor_bank_space(6), .reg = 0x50, .text = u"Reserved Register"},
};
static_assert(well_formed(kW83627dhgRows, kWinbond, 0x25));

template <int N>
constexpr DescriptionTable table(const RegisterDescription (&rows)[N]) {
  return {rows[0].vid, rows[0].did, rows, N};
}

}  // namespace

constinit const DescriptionTable kIt8781Descriptions = table(kIt8781Rows);
constinit const DescriptionTable kIt8728Descriptions = table(kIt8728Rows);
constinit const DescriptionTable kNct6102Descriptions = table(kNct6102Rows);
constinit const DescriptionTable kW83627dhgDescriptions = table(kW83627dhgRows);

}  // namespace kvq::data
