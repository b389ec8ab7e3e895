// Unpacks every block of the built-in list of other vendors' names and
// prints each record as `gen_pci_names.py --list` prints what it packed.
#include <cstdio>

#include "data/pci_other_names.h"

namespace {

using kvq::pci_names::BlockReader;
using kvq::pci_names::kPackedNames;
using kvq::pci_names::PackedList;

template <class Print>
void dump(const PackedList& list, Print print) {
  for (uint32_t block = 0; block < list.block_count; ++block) {
    BlockReader reader(kPackedNames, list, block);
    while (reader.next()) print(reader.key(), reader.name());
  }
}

}  // namespace

int main() {
  dump(kPackedNames.vendors, [](uint32_t key, const char* name) { std::printf("vendor %04X %s\n", key, name); });
  dump(kPackedNames.devices, [](uint32_t key, const char* name) {
    std::printf("device %04X:%04X %s\n", key >> 16, key & 0xFFFF, name);
  });
  return 0;
}
