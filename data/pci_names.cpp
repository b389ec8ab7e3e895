#include "data/pci_names.h"

namespace kvq::pci_names {

const char* find(const NameGroup& group, uint32_t key) {
  for (uint32_t i = 0; i < group.count; ++i) {
    if (group.records[i].key == key) return group.records[i].name();
  }
  return nullptr;
}

void fit_list_name(const char* plain, char out[kListNameWidth + 1]) {
  int len = 0;
  bool longer = false;
  if (plain != nullptr) {
    while (len < kListNameWidth && plain[len] != '\0') {
      out[len] = plain[len];
      ++len;
    }
    longer = plain[len] != '\0';
  }
  // Only a name that fits keeps its tail trimmed; a cut name keeps exactly
  // its first 79 characters, blank or not.
  if (!longer) {
    while (len > 0 && out[len - 1] == ' ') --len;
  }
  while (len < kListNameWidth) out[len++] = ' ';
  out[kListNameWidth] = '\0';
}

}  // namespace kvq::pci_names
