// The page table: every page, one row each, with its name, its kind (which
// decides the global keys that apply to it), the routine that runs one pass
// of it (draw from fresh reads, poll one key, act on the page's own keys),
// and where the function tab menu offers it.
#pragma once
#include "app/menu.h"
#include "app/state.h"
#include "platform/text16.h"

namespace kvq {

// kRows: registers one a row, with a value entry and an index entry but no
// data width (the CPU page's 64-bit MSRs).
enum class PageKind { kGrid, kText, kMenu, kList, kRows };

struct PageRow {
  PageId id;
  const char* name;  // in traces, benchmarks and test reports
  PageKind kind;
  void (*pass)(AppState& state);
  // The menu: the column and the slot (1, 2, ...) of the item that opens
  // the page, with its 11-character text; slot 0 is no item.
  MenuColumn column;
  int slot;
  const char16_t* label;
  // Asked when the item is chosen: the page opens only if it answers true.
  // Null: it always opens.
  bool (*can_open)(AppState& state);
};

void pcie_pass(AppState& state);
void memory_pass(AppState& state);
void io_pass(AppState& state);
void superio_pass(AppState& state);
void pci_list_pass(AppState& state);
void pcie_caps_pass(AppState& state);
void help_pass(AppState& state);
void smbios_pass(AppState& state);
void pch_strap_pass(AppState& state);
void hdd_pass(AppState& state);
void cpu_pass(AppState& state);
void acpi_pass(AppState& state);
void variables_pass(AppState& state);
void setup_pass(AppState& state);
// The Setup page reads its values again each time the menu opens it.
bool setup_can_open(AppState& state);
void variable_pass(AppState& state);
// The HDD page opens when the board has a disk to show: the chipset's SATA
// controller in AHCI or RAID mode, or another AHCI or NVM Express
// controller. Prints the SATA mode query's three lines at the cursor.
bool hdd_can_open(AppState& state);


inline constexpr PageRow kPages[] = {
    {.id = PageId::kPcie, .name = "PCIE", .kind = PageKind::kGrid, .pass = pcie_pass,
     .column = MenuColumn::kDevices, .slot = 1, .label = u" PCIE      ", .can_open = nullptr},
    {.id = PageId::kMemory, .name = "Memory", .kind = PageKind::kGrid, .pass = memory_pass,
     .column = MenuColumn::kDevices, .slot = 2, .label = u" Memory    ", .can_open = nullptr},
    {.id = PageId::kIo, .name = "I/O", .kind = PageKind::kGrid, .pass = io_pass,
     .column = MenuColumn::kDevices, .slot = 3, .label = u" I/O       ", .can_open = nullptr},
    {.id = PageId::kSuperIo, .name = "Super I/O", .kind = PageKind::kGrid, .pass = superio_pass,
     .column = MenuColumn::kDevices, .slot = 4, .label = u" Super I/O ", .can_open = nullptr},
    {.id = PageId::kMenu, .name = "menu", .kind = PageKind::kMenu, .pass = menu_pass,
     .column = MenuColumn::kDevices, .slot = 0, .label = nullptr, .can_open = nullptr},
    {.id = PageId::kHelp, .name = "HELP", .kind = PageKind::kText, .pass = help_pass,
     .column = MenuColumn::kOther, .slot = 1, .label = u" HELP      ", .can_open = nullptr},
    {.id = PageId::kSmbios, .name = "SMBIOS", .kind = PageKind::kText, .pass = smbios_pass,
     .column = MenuColumn::kOther, .slot = 2, .label = u" SMBIOS    ", .can_open = nullptr},
    {.id = PageId::kHdd, .name = "HDD", .kind = PageKind::kGrid, .pass = hdd_pass,
     .column = MenuColumn::kOther, .slot = 3, .label = u" HDD       ", .can_open = hdd_can_open},
    {.id = PageId::kPchStrap, .name = "PCH Strap", .kind = PageKind::kText, .pass = pch_strap_pass,
     .column = MenuColumn::kOther, .slot = 4, .label = u" PCH Strap ", .can_open = nullptr},
    {.id = PageId::kPciList, .name = "PCI list", .kind = PageKind::kList, .pass = pci_list_pass,
     .column = MenuColumn::kDevices, .slot = 0, .label = nullptr, .can_open = nullptr},
    // Opened with C on the PCIE page, and left with C or Esc.
    {.id = PageId::kPcieCaps, .name = "PCIE caps", .kind = PageKind::kText, .pass = pcie_caps_pass,
     .column = MenuColumn::kDevices, .slot = 0, .label = nullptr, .can_open = nullptr},
    {.id = PageId::kAcpi, .name = "ACPI", .kind = PageKind::kText, .pass = acpi_pass,
     .column = MenuColumn::kOther, .slot = 5, .label = u" ACPI      ", .can_open = nullptr},
    {.id = PageId::kCpu, .name = "CPU", .kind = PageKind::kRows, .pass = cpu_pass,
     .column = MenuColumn::kDevices, .slot = 5, .label = u" CPU       ", .can_open = nullptr},
    {.id = PageId::kVariables, .name = "Variables", .kind = PageKind::kText, .pass = variables_pass,
     .column = MenuColumn::kOther, .slot = 6, .label = u" Variables ", .can_open = nullptr},
    // Opened with Enter on the Variables page, and left with Esc.
    {.id = PageId::kVariable, .name = "Variable", .kind = PageKind::kGrid, .pass = variable_pass,
     .column = MenuColumn::kOther, .slot = 0, .label = nullptr, .can_open = nullptr},
    {.id = PageId::kSetup, .name = "Setup", .kind = PageKind::kText, .pass = setup_pass,
     .column = MenuColumn::kOther, .slot = 7, .label = u" Setup     ", .can_open = setup_can_open},
};

inline constexpr int kMenuLabelWidth = 11;

// Items of a menu column: the pages with a slot there.
constexpr int menu_items(MenuColumn column) {
  int n = 0;
  for (const PageRow& p : kPages) n += p.slot > 0 && p.column == column ? 1 : 0;
  return n;
}

// Every page has exactly one row, at its number, with a name; in each
// column the menu's slots run 1, 2, ... without a gap or a repeat, and
// every item has its 11-character text.
constexpr bool pages_sound() {
  if (sizeof(kPages) / sizeof(kPages[0]) != kPageCount) return false;
  for (int i = 0; i < kPageCount; ++i) {
    const PageRow& p = kPages[i];
    if (static_cast<int>(p.id) != i || p.name == nullptr) return false;
    if (p.slot < 0 || (p.slot > 0) != (p.label != nullptr)) return false;
    if (p.slot == 0) continue;
    if (text_length(p.label) != kMenuLabelWidth || p.slot > menu_items(p.column)) return false;
    for (int j = 0; j < i; ++j) {
      if (kPages[j].slot == p.slot && kPages[j].column == p.column) return false;
    }
  }
  return true;
}
static_assert(pages_sound());

constexpr const PageRow& page_row(PageId page) { return kPages[static_cast<int>(page)]; }

// The page in `slot` of a menu column, or null.
constexpr const PageRow* menu_page(MenuColumn column, int slot) {
  for (const PageRow& p : kPages) {
    if (p.slot == slot && slot > 0 && p.column == column) return &p;
  }
  return nullptr;
}

}  // namespace kvq
