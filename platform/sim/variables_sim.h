// The simulated firmware's variable store: variables in the order its
// GetNextVariableName walks them, with the hazards real stores have. A
// SetVariable with a size of 0 deletes, as on real firmware; authenticated
// variables refuse a plain write; a variable locked by the firmware's
// policy answers EFI_WRITE_PROTECTED; a store whose space is used up
// answers EFI_OUT_OF_RESOURCES; a firmware may walk its names in a circle.
// Every SetVariable call is logged with what it was given.
#pragma once
#include <stdint.h>

#include <string>
#include <vector>

#include "platform/variables.h"

namespace kvq::sim {

struct SimVariable {
  std::u16string name;
  plat::Guid guid;
  uint32_t attributes;
  std::vector<uint8_t> data;
  bool locked = false;  // the firmware's variable policy refuses writes
};

struct SetCall {
  std::u16string name;
  plat::Guid guid;
  uint32_t attributes;
  std::vector<uint8_t> data;  // empty for a size of 0
  plat::EfiStatus status;
};

class VariableStore {
 public:
  std::vector<SimVariable> variables;
  // Bytes of non-volatile storage: a write needs room for the whole new
  // copy (name and data) beside the old one, which goes only after it.
  size_t nv_capacity = 64 * 1024;
  // After this many names, GetNextVariableName starts again from the
  // first (a firmware that repeats itself); -1: it ends.
  int circle_after = -1;
  // GetVariable leaves the attributes alone on EFI_BUFFER_TOO_SMALL, as
  // firmware older than UEFI 2.7 may.
  bool attributes_only_on_success = false;
  std::vector<SetCall> sets;
  int get_calls = 0;
  int next_calls = 0;

  SimVariable* find(const std::u16string& name, const plat::Guid& guid);
  const SimVariable* find(const std::u16string& name, const plat::Guid& guid) const {
    return const_cast<VariableStore*>(this)->find(name, guid);
  }
  plat::EfiStatus get_next(size_t* name_size, char16_t* name, plat::Guid* guid);
  plat::EfiStatus get(const char16_t* name, const plat::Guid& guid, uint32_t* attributes, size_t* size, void* data);
  plat::EfiStatus set(const char16_t* name, const plat::Guid& guid, uint32_t attributes, size_t size,
                      const void* data);

 private:
  size_t nv_used() const;
};

// OVMF's store as the UEFI Shell finds it on QEMU's Q35 board, in its walk
// order, with a few variables that carry the hazards above: an AT variable
// (certdb), a locked one (PlatformLangCodes's policy), a name longer than
// any first buffer.
void install_ovmf_variables(VariableStore& store);

inline constexpr plat::Guid kGlobalVariableGuid = {0x8BE4DF61, 0x93CA, 0x11D2, {0xAA, 0x0D, 0x00, 0xE0, 0x98, 0x03, 0x2B, 0x8C}};
inline constexpr plat::Guid kKvqTestGuid = {0x12345678, 0x1234, 0x1234, {0x12, 0x34, 0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC}};

}  // namespace kvq::sim
