// Every page: one routine for one pass (draw from fresh reads, poll one key,
// act on the page's own keys) and the kind that decides which global keys
// apply to it.
#pragma once
#include "app/state.h"

namespace kvq {

enum class PageKind { kGrid, kText, kMenu, kList };

struct PageInfo {
  void (*pass)(AppState& state);
  PageKind kind;
};

const PageInfo& page_info(PageId page);

void pcie_pass(AppState& state);
void memory_pass(AppState& state);
void io_pass(AppState& state);
void superio_pass(AppState& state);
void pci_list_pass(AppState& state);
void help_pass(AppState& state);
void smbios_pass(AppState& state);
void pch_strap_pass(AppState& state);
void hdd_pass(AppState& state);

}  // namespace kvq
