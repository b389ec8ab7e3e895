// A pci.ids file, in the format pciutils reads and update-pciids writes:
//
//   vvvv  Vendor name
//   <tab>dddd  Device name
//   <tab><tab>ssss ssss  Subsystem name     (not used)
//   # comments, blank lines, and "C cc  class" lists at the end
//
// kvq reads the one that stands beside kvq.efi at start-up, so a newer list
// names devices without a rebuild. The file comes from anywhere: the parser
// takes, line by line, only what parses, and nothing in the file can make
// it read outside the text or loop without end. Freestanding: no libc.
#pragma once

#include <stddef.h>
#include <stdint.h>

namespace kvq::pci_ids {

// A name in the text: `key` is the vendor ID for a vendor, vendor ID << 16 |
// device ID for a device; `name` is the offset of its NUL-terminated text.
struct Entry {
  uint32_t key;
  uint32_t name;
};

struct Index {
  const char* text;
  const Entry* vendors;  // ascending keys; a repeated key keeps the first
  uint32_t vendor_count;
  const Entry* devices;
  uint32_t device_count;
};

// Lines longer than this are not taken (pciutils refuses them too); a name
// that long is no name.
inline constexpr size_t kMaxLine = 1024;

// How many names a text of `size` bytes can hold at most: each takes a line
// of at least six bytes.
size_t max_entries(size_t size);

// Reads the text in one pass and indexes its names in `entries`, which has
// room for max_entries(size): the vendors from the front, the devices from
// the back. Each name becomes, in place, NUL-terminated ASCII: tabs become
// blanks, trailing blanks go, and each character outside ASCII becomes '?'.
// `text` must have room for one byte more than `size`.
Index build(char* text, size_t size, Entry* entries);

const char* vendor_name(const Index& index, uint16_t vendor);
const char* device_name(const Index& index, uint16_t vendor, uint16_t device);

// Start-up: reads "pci.ids" from the directory kvq.efi was loaded from and
// indexes it. Without a readable file, nothing is loaded.
void load_beside_image();
// The index of the loaded file, or null.
const Index* loaded();
// At exit: gives the file's memory back to the firmware.
void release();

}  // namespace kvq::pci_ids
