// The application state: one record, owned by the main routine for the
// whole run, that every page reads and changes.
#pragma once
#include <stdint.h>

#include "hw/acpi.h"
#include "hw/cpu.h"
#include "hw/pci.h"
#include "hw/sata.h"
#include "hw/smbios.h"
#include "platform/keys.h"

namespace kvq {

// Every page, by its number. The page table (pages/pages.h) gives each its
// name, kind, pass routine and place in the menu, one row per page.
enum class PageId : int {
  kPcie = 0,
  kMemory = 1,
  kIo = 2,
  kSuperIo = 3,
  kMenu = 4,
  kHelp = 5,
  kSmbios = 6,
  kHdd = 7,
  kPchStrap = 8,
  kPciList = 9,
  kPcieCaps = 10,  // the PCIE page's function, its capabilities decoded
  kAcpi = 11,
  kCpu = 12,
  kVariables = 13,
  kVariable = 14,  // one variable of the Variables page, its bytes in the grid
  kSetup = 15,
};
inline constexpr int kPageCount = 16;

// Data width mode: how many bytes make one grid cell.
enum Width : int { kByte = 1, kWord = 2, kDword = 3 };
inline constexpr int kWidthCount = 3;

// The highlighted grid cell: screen row 2..17, screen column of its first
// digit, index of the cell in its row.
struct CellCursor {
  int row = 2;
  int col = 3;
  int index = 0;
};

enum class MenuColumn : int { kDevices = 0, kOther = 1 };

struct ListState {
  int32_t page = 0;
  int32_t row = 1;  // screen row 1..25 of the highlighted entry
  int32_t count = 0;
  int32_t last_page = 0;
};

// The CPU page: the processor shown, the first of its 16 MSRs and the
// selected row; what CPUID says of that processor, read when it is first
// shown and again after a write (which may have loaded microcode); and the
// value the processor refused on the last write, for the message line.
struct CpuPageState {
  uint32_t cpu = 0;
  uint32_t base = 0;
  int row = 0;  // 0..15, screen row 2 + row
  bool identified = false;
  cpu::Identity identity;
  bool microcode_due = false;  // the next batch reads the microcode revision
  bool kept = false;  // the last batch's rows are this processor's and base's
  bool refused = false;
  uint32_t refused_index = 0;
  uint64_t refused_value = 0;
  bool cancelled = false;  // the user did not confirm a write that asks first
};

// The Variables page: whether the list was walked (pages/vars_page.h holds
// it), the selected row and the first one shown among the variables the
// name filter leaves; the opened variable (its index in the list) and the
// offset of the first byte of its window.
struct VariablesPageState {
  bool walked = false;
  int32_t row = 0;
  int32_t top = 0;
  static constexpr int kFilterMax = 32;
  char16_t filter[kFilterMax + 1] = {};
  int32_t open = -1;
  uint32_t base = 0;
};

// The Setup page: the selected row and the first one shown among the rows
// the prompt filter leaves; whether the values are to be read again (the
// page was chosen in the menu); what the last change came to, for rows 18
// and 19.
struct SetupPageState {
  int32_t row = 0;
  int32_t top = 0;
  static constexpr int kFilterMax = 32;
  char16_t filter[kFilterMax + 1] = {};
  bool reread = true;
  static constexpr int kMessageMax = 160;
  char16_t message[kMessageMax + 1] = {};
};

struct AppState {
  PageId page = PageId::kPcie;
  int width = kByte;
  pci::Bdf device;  // the PCIE page's function
  int32_t table_index = 0;
  int32_t device_count = 0;
  CellCursor cursors[kPageCount][kWidthCount];
  uint64_t memory_base = 0;  // physical: 64 bits on x64
  uint16_t io_base = 0;
  uint16_t isa_address = 0x2E;
  // The ISA address was typed with p: read even where start-up did not
  // probe (a port the bridge does not decode).
  bool isa_typed = false;
  // The logical device the Super I/O page shows at a chip's configuration
  // port (-1: the one the chip has selected); the chip gets its own back
  // at the end of every pass.
  int16_t sio_ldn = -1;
  uint16_t hdd_port_offset = 0x100;
  uint32_t hdd_buffer = 0;
  // The disk the HDD page shows, in the list the menu found (hw/disks), and
  // whether its buffer is still to be asked for.
  int hdd_disk = 0;
  bool hdd_disk_unasked = false;
  // What the disk shown answered when it was last asked (selected, or `i`).
  sata::Probe hdd_probe;
  MenuColumn menu_column = MenuColumn::kDevices;
  int menu_item = 1;
  ListState list;
  int caps_top = 0;  // the capability view's first line on the screen
  int strap_first = 0;  // the PCH Strap page's first strap shown
  Key key = {0, 0};
  // Where the SMBIOS entry point lies: looked for once, on the SMBIOS page's
  // first drawing.
  bool smbios_searched = false;
  smbios::EntryPoint smbios;
  // The ACPI tables: listed once, on the ACPI page's first drawing, then
  // read again row by row on every pass; the selected table and the first
  // one shown.
  bool acpi_searched = false;
  acpi::TableList acpi;
  int32_t acpi_row = 0;
  int32_t acpi_top = 0;
  CpuPageState cpu;
  VariablesPageState vars;
  SetupPageState setup;

  CellCursor& cursor() { return cursors[static_cast<int>(page)][width - 1]; }
  const CellCursor& cursor() const { return cursors[static_cast<int>(page)][width - 1]; }
};

}  // namespace kvq
