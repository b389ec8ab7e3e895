#include "pages/pages.h"

#include "app/menu.h"

namespace kvq {
namespace {

constexpr PageInfo kPages[kPageCount] = {
    {pcie_pass, PageKind::kGrid},         // PCIE
    {memory_pass, PageKind::kGrid},       // Memory
    {io_pass, PageKind::kGrid},           // I/O
    {superio_pass, PageKind::kGrid},      // Super I/O
    {menu_pass, PageKind::kMenu},         // function tab menu
    {help_pass, PageKind::kText},         // HELP (no footer)
    {smbios_pass, PageKind::kText},       // SMBIOS
    {hdd_pass, PageKind::kGrid},          // HDD
    {pch_strap_pass, PageKind::kText},    // PCH Strap
    {pci_list_pass, PageKind::kList},     // PCI list
};

}  // namespace

const PageInfo& page_info(PageId page) { return kPages[static_cast<int>(page)]; }

}  // namespace kvq
