// Built-in PCI device names, keyed by the ID dword at config offset 0x00.
//
// The tables themselves live in data/pci_names_generated.cpp, produced from
// pci.ids by tools/gen_pci_names.py.  Freestanding: no libc, no heap.
#pragma once

#include <stdint.h>

namespace kvq::pci_names {

// Every name of the three groups, each NUL-terminated, one after another.
extern const char kNameText[];

// key = device ID << 16 | vendor ID, exactly as read from config dword 0.
struct NameRecord {
  uint32_t key;
  uint32_t text;  // offset of the name in kNameText

  const char* name() const { return kNameText + text; }
};

struct NameGroup {
  const NameRecord* records;
  uint32_t count;
};

// Searched in order: Intel then Realtek, AMD, Nvidia.
inline constexpr int kGroupCount = 3;
extern const NameGroup kGroups[kGroupCount];

// Linear search of one group, all 32 bits compared; returns the name or
// nullptr.  Comparing the whole dword keeps a device ID shared by two vendors
// from picking up the other vendor's name.
const char* find(const NameGroup& group, uint32_t key);

// The list screen's name field is columns 21..99: exactly 79 characters.
inline constexpr int kListNameWidth = 79;

// Writes the list-screen copy of a name: a name longer than 79 characters is
// cut after the 79th; a shorter one loses trailing blanks and is padded with
// blanks to 79.  out always receives 79 characters and a NUL.  A null name
// gives an all-blank field.
void fit_list_name(const char* plain, char out[kListNameWidth + 1]);

}  // namespace kvq::pci_names
