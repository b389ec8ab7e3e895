// SMBIOS: where the firmware's entry point and structure table lie, the
// walk over the table's structures, and the strings they name.
//
// The entry point comes from the UEFI configuration table (the SMBIOS 3 and
// the SMBIOS entries); only without a usable one is the legacy F segment
// searched. Nothing outside the entry point and the table length it states is
// ever read: the table sits in RAM among device windows.
#pragma once
#include <stdint.h>

namespace kvq::smbios {

enum class Source : uint8_t { kNone, kConfigTable3, kConfigTable, kFSegment };

struct EntryPoint {
  Source source = Source::kNone;
  uint64_t address = 0;  // the anchor ("_SM_" or "_SM3_")
  uint64_t table = 0;    // structure table; 64 bits in a "_SM3_" entry point
  // Bytes of the table kvq may walk: the stated length (a "_SM3_" entry
  // point states the maximum size), cut where the processor's reach ends
  // (the first 4 GiB for an IA-32 image); 0 when the table lies wholly
  // beyond it.
  uint32_t length = 0;

  bool found() const { return source != Source::kNone; }
};

// The SMBIOS 3 configuration table entry when its table lies within reach
// (on x64 above 4 GiB too), else the SMBIOS entry, else the SMBIOS 3 one
// whatever its table; without
// any of them, the first "_SM_" anchor in 0xF0000..0xFFFFF at a multiple of
// 4 with "_DMI_" at offset 16 and a non-zero byte 4.
EntryPoint find_entry_point();

// One structure that lies wholly inside the table.
struct Structure {
  uint64_t address = 0;  // its type byte
  uint8_t length = 0;    // formatted area; 0 when there is no such structure
  uint64_t end = 0;      // just past its string set's double zero

  bool present() const { return length != 0; }
};

// Structures kvq names: BIOS (0), system (1) and baseboard (2).
inline constexpr int kIdentityTypes = 3;

// The first structure of each of the types 0, 1 and 2, in one walk from the
// table start. The walk stops at type 127, at the table length, and at a
// structure that is malformed (formatted length below 4) or runs past the
// table: nothing after it can be found.
void find_identity_structures(const EntryPoint& entry, Structure (&found)[kIdentityTypes]);

// The string whose number stands at `field` of the formatted area, each byte
// widened to one character as the console shows it, cut to capacity - 1
// characters and terminated. Empty when the structure is missing, the field
// lies beyond its formatted area, the number is 0, or the set holds fewer
// strings.
void read_string(const Structure& s, uint8_t field, char16_t* out, int capacity);

}  // namespace kvq::smbios
