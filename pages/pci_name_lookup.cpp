#include "pages/pci_name_lookup.h"

#include "app/colors.h"
#include "data/pci_names.h"
#include "data/pci_other_names.h"
#include "hw/pci.h"
#include "platform/console.h"

namespace kvq {
namespace {

// The name of the function from lookup `group`: a vendor group's record, or
// for the last lookup the name of any other device, written into `buffer`.
const char* name_of(int group, const pci::Bdf& f, char* buffer) {
  const uint32_t id = pci::read<pci::hdr::Id>(f);
  if (group < pci_names::kGroupCount) return pci_names::find(pci_names::kGroups[group], id);
  return pci_names::other_name(id, buffer) ? buffer : nullptr;
}

}  // namespace

void pcie_name_lookup(int group, const pci::Bdf& f) {
  char buffer[pci_names::kOtherNameSize];
  const char* name = name_of(group, f, buffer);
  con::set_attr(kAttrWhite);
  if (name != nullptr) {
    // Cut where the console's wrap would reach the offset label on row 19.
    char cut[pci_names::kPcieNameWidth + 1];
    int length = 0;
    while (length < pci_names::kPcieNameWidth && name[length] != '\0') {
      cut[length] = name[length];
      ++length;
    }
    cut[length] = '\0';
    con::set_cursor(0, 18);
    con::put_text8(cut);
    con::put_text8("\n");
  }
  con::set_attr(kAttrWhite);
}

bool list_name_lookup(int group, bool selected, const pci::Bdf& f, int row) {
  char buffer[pci_names::kOtherNameSize];
  const char* name = name_of(group, f, buffer);
  con::set_attr(selected ? kAttrWhiteOnGreen : kAttrGray);
  if (name == nullptr) return false;
  char fitted[pci_names::kListNameWidth + 1];
  pci_names::fit_list_name(name, fitted);
  const int col = list_name_column(f);
  fitted[pci_names::kListNameWidth - (col - 21)] = '\0';
  con::set_cursor(col, row);
  con::put_text8(fitted);
  con::put_text8("\n");
  return true;
}

void print_function_title(const pci::Bdf& f) {
  if (f.segment == 0) {
    con::print(u"Bus:%02d Dev:%02d Fun:%02d", f.bus, f.device, f.function);
    return;
  }
  char16_t name[16];
  pci::function_name(f, true, name, 16);
  con::put_text(name);
}

}  // namespace kvq
