#include "pages/pages.h"

#include "app/footer.h"
#include "app/menu.h"
#include "platform/console.h"

namespace kvq {
namespace {

// Pages whose registers kvq does not read yet: they poll and draw the footer,
// and the global keys work on them as on their finished kind.
void footer_only_pass(AppState& state) {
  con::poll_key(&state.key);
  draw_footer(false);
}

void blank_pass(AppState& state) { con::poll_key(&state.key); }

constexpr PageInfo kPages[kPageCount] = {
    {pcie_pass, PageKind::kGrid},         // PCIE
    {memory_pass, PageKind::kGrid},       // Memory
    {io_pass, PageKind::kGrid},           // I/O
    {footer_only_pass, PageKind::kGrid},  // Super I/O
    {menu_pass, PageKind::kMenu},         // function tab menu
    {blank_pass, PageKind::kText},        // HELP (no footer)
    {footer_only_pass, PageKind::kText},  // SMBIOS
    {hdd_pass, PageKind::kGrid},          // HDD
    {footer_only_pass, PageKind::kText},  // PCH Strap
    {pci_list_pass, PageKind::kList},     // PCI list
};

}  // namespace

const PageInfo& page_info(PageId page) { return kPages[static_cast<int>(page)]; }

}  // namespace kvq
