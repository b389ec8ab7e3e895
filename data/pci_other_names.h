// Names of every PCI vendor and device that the four vendors' tables of
// data/pci_names.h do not hold: from a pci.ids file read at start-up when
// there is one (data/pci_ids_file.h), and from a built-in list generated
// from pci.ids by tools/gen_pci_names.py. Freestanding: no libc, no heap.
#pragma once

#include <stdint.h>

namespace kvq::pci_names {

// The built-in list is about 350 KB of text; packed, it is about 200 KB.
// Records are sorted by key and cut into blocks. In a block, each record is
//   - the key's distance from the previous record's key (from the block's
//     first key for the first record), 7 bits a byte, low bits first, the
//     top bit set on every byte but the last;
//   - one byte: how many leading characters the name shares with the
//     previous record's name (0 for the first record);
//   - the rest of the name: bytes 0x20..0x7E stand for themselves, every
//     other byte but 0 for a string of the dictionary;
//   - a 0 byte.
// So a lookup unpacks one block, never the whole list.
struct PackedList {
  const char* data;
  const uint32_t* block_key;    // first key of each block, ascending
  const uint32_t* block_start;  // offset of each block in data; one more
                                // entry than blocks, the last is the end
  uint32_t block_count;
};

struct PackedNames {
  // Byte b of a packed name stands for code_text[code_start[b] ..
  // code_start[b + 1]), or for itself where that range is empty.
  const uint16_t* code_start;
  const char* code_text;
  PackedList vendors;  // key: vendor ID
  PackedList devices;  // key: vendor ID << 16 | device ID
};

extern const PackedNames kPackedNames;

// The longest name a packed record may hold.
inline constexpr int kMaxPackedName = 255;

// Unpacks the records of one block in order, each name into a buffer of
// its own (the next record's name starts from it).
class BlockReader {
 public:
  BlockReader(const PackedNames& names, const PackedList& list, uint32_t block);
  // Moves to the next record; false after the last one.
  bool next();
  uint32_t key() const { return key_; }
  const char* name() const { return name_; }

 private:
  const PackedNames& names_;
  const uint8_t* at_;
  const uint8_t* end_;
  uint32_t key_;
  char name_[kMaxPackedName + 1];
};

// The name of `key` in `list`, unpacked into `out`; false when the list
// does not hold the key.
bool unpack_name(const PackedNames& names, const PackedList& list, uint32_t key,
                 char out[kMaxPackedName + 1]);

// Where a shown name may be longest: the PCIE page prints the name from
// column 0 of row 18 and the console wraps it onto row 19, where the offset
// label starts at column 19 in dword mode; 98 characters end at column 17.
inline constexpr int kPcieNameWidth = 98;

// Room for "vendor device" before it is cut to the screen.
inline constexpr int kOtherNameSize = 2 * kMaxPackedName + 2;

// The name kvq shows for the function whose ID dword (device ID << 16 |
// vendor ID) is `id`, when the four vendors' tables do not hold it: the
// vendor's name, a blank and the device's name; or, for a listed vendor
// whose device is not listed, the vendor's name and "Device " with the
// device ID in four hex digits. The pci.ids file read at start-up comes
// first, the built-in list second. False, and `out` empty, for a key that
// the four vendors' tables hold, for an absent function (all ones) and for
// a vendor neither list knows.
bool other_name(uint32_t id, char out[kOtherNameSize]);

}  // namespace kvq::pci_names
