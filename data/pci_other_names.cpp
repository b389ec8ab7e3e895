#include "data/pci_other_names.h"

#include "data/pci_ids_file.h"
#include "data/pci_names.h"

namespace kvq::pci_names {
namespace {

// What an absent function reads. pci.ids lists vendor 0xFFFF ("Illegal
// Vendor ID"), which names a function in a strange state, but all ones is
// no function at all.
constexpr uint32_t kAbsent = 0xFFFFFFFFu;

bool in_vendor_tables(uint32_t id) {
  for (const NameGroup& group : kGroups) {
    if (find(group, id) != nullptr) return true;
  }
  return false;
}

// Index of the last block whose first key is not above `key`, or -1.
int32_t block_of(const PackedList& list, uint32_t key) {
  uint32_t lo = 0;
  uint32_t hi = list.block_count;
  while (lo < hi) {
    const uint32_t mid = lo + (hi - lo) / 2;
    if (list.block_key[mid] <= key) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  return static_cast<int32_t>(lo) - 1;
}

// Appends `text` at out[*at], keeping room for the NUL.
void append(char* out, int size, int* at, const char* text) {
  while (*text != '\0' && *at < size - 1) out[(*at)++] = *text++;
  out[*at] = '\0';
}

void append_hex4(char* out, int size, int* at, uint16_t value) {
  char digits[5];
  for (int i = 0; i < 4; ++i) digits[i] = "0123456789ABCDEF"[(value >> (12 - 4 * i)) & 0xF];
  digits[4] = '\0';
  append(out, size, at, digits);
}

}  // namespace

BlockReader::BlockReader(const PackedNames& names, const PackedList& list, uint32_t block)
    : names_(names),
      at_(reinterpret_cast<const uint8_t*>(list.data) + list.block_start[block]),
      end_(reinterpret_cast<const uint8_t*>(list.data) + list.block_start[block + 1]),
      key_(list.block_key[block]),
      name_{} {}

bool BlockReader::next() {
  if (at_ >= end_) return false;
  uint32_t delta = 0;
  for (int shift = 0; at_ < end_ && shift < 32; shift += 7) {
    const uint8_t b = *at_++;
    delta |= static_cast<uint32_t>(b & 0x7F) << shift;
    if ((b & 0x80) == 0) break;
  }
  key_ += delta;
  int length = at_ < end_ ? *at_++ : 0;
  // The shared part is already in the buffer from the previous name.
  int previous = 0;
  while (previous < kMaxPackedName && name_[previous] != '\0') ++previous;
  if (length > previous) length = previous;
  while (at_ < end_ && *at_ != 0) {
    const uint8_t b = *at_++;
    const uint16_t from = names_.code_start[b];
    const uint16_t to = names_.code_start[b + 1];
    if (from == to) {
      if (length < kMaxPackedName) name_[length++] = static_cast<char>(b);
      continue;
    }
    for (uint16_t i = from; i < to && length < kMaxPackedName; ++i) name_[length++] = names_.code_text[i];
  }
  if (at_ < end_) ++at_;  // the record's 0
  name_[length] = '\0';
  return true;
}

bool unpack_name(const PackedNames& names, const PackedList& list, uint32_t key, char out[kMaxPackedName + 1]) {
  out[0] = '\0';
  const int32_t block = block_of(list, key);
  if (block < 0) return false;
  BlockReader reader(names, list, static_cast<uint32_t>(block));
  while (reader.next()) {
    if (reader.key() > key) return false;
    if (reader.key() == key) {
      int at = 0;
      append(out, kMaxPackedName + 1, &at, reader.name());
      return true;
    }
  }
  return false;
}

bool other_name(uint32_t id, char out[kOtherNameSize]) {
  out[0] = '\0';
  const uint16_t vendor = static_cast<uint16_t>(id);
  const uint16_t device = static_cast<uint16_t>(id >> 16);
  if (id == kAbsent || in_vendor_tables(id)) return false;
  const pci_ids::Index* file = pci_ids::loaded();
  const char* file_vendor = file != nullptr ? pci_ids::vendor_name(*file, vendor) : nullptr;
  char built_in_vendor[kMaxPackedName + 1];
  const bool has_built_in_vendor = unpack_name(kPackedNames, kPackedNames.vendors, vendor, built_in_vendor);
  // A name comes whole from one list: the file's when it names the device,
  // else the built-in list's; only then the vendor's name alone.
  const char* vendor_text = nullptr;
  const char* device_text = nullptr;
  char built_in_device[kMaxPackedName + 1];
  if (file_vendor != nullptr && (device_text = pci_ids::device_name(*file, vendor, device)) != nullptr) {
    vendor_text = file_vendor;
  } else if (has_built_in_vendor && unpack_name(kPackedNames, kPackedNames.devices,
                                                static_cast<uint32_t>(vendor) << 16 | device, built_in_device)) {
    vendor_text = built_in_vendor;
    device_text = built_in_device;
  } else if (file_vendor != nullptr) {
    vendor_text = file_vendor;
  } else if (has_built_in_vendor) {
    vendor_text = built_in_vendor;
  } else {
    return false;
  }
  int at = 0;
  append(out, kOtherNameSize, &at, vendor_text);
  if (device_text != nullptr) {
    append(out, kOtherNameSize, &at, " ");
    append(out, kOtherNameSize, &at, device_text);
  } else {
    append(out, kOtherNameSize, &at, " Device ");
    append_hex4(out, kOtherNameSize, &at, device);
  }
  return true;
}

}  // namespace kvq::pci_names
