#include "pages/pci_name_lookup.h"

#include "app/colors.h"
#include "data/pci_names.h"
#include "hw/pci.h"
#include "platform/console.h"

namespace kvq {
namespace {

const char* name_of(int group, int32_t bus, int32_t device, int32_t function) {
  const uint32_t id = pci::read_config(pci::config_address(bus, device, function));
  return pci_names::find(pci_names::kGroups[group], id);
}

}  // namespace

void pcie_name_lookup(int group, int32_t bus, int32_t device, int32_t function) {
  const char* name = name_of(group, bus, device, function);
  con::set_attr(kAttrWhite);
  if (name != nullptr) {
    con::set_cursor(0, 18);
    con::put_text8(name);
    con::put_text8("\n");
  }
  con::set_attr(kAttrWhite);
}

bool list_name_lookup(int group, bool selected, int32_t bus, int32_t device, int32_t function, int row) {
  const char* name = name_of(group, bus, device, function);
  con::set_attr(selected ? kAttrWhiteOnGreen : kAttrGray);
  if (name == nullptr) return false;
  char fitted[pci_names::kListNameWidth + 1];
  pci_names::fit_list_name(name, fitted);
  con::set_cursor(21, row);
  con::put_text8(fitted);
  con::put_text8("\n");
  return true;
}

}  // namespace kvq
