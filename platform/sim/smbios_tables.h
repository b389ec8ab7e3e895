// SMBIOS tables for the simulated board: a structure table built from
// structures, and the entry points the firmware publishes for it (2.x "_SM_",
// 3.x "_SM3_", both or neither), listed in the configuration table, with an
// optional legacy copy of the 2.x entry point in the F segment.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "platform/sim/board.h"

namespace kvq::sim {

struct SmbiosStructure {
  uint8_t type;
  std::vector<uint8_t> fields;       // the formatted area after its 4-byte header
  std::vector<std::string> strings;  // the string set, in order
};

// The structures with handles 0, 1, ..., then the end-of-table structure
// (type 127). A structure without strings gets the empty set (two zeros).
std::vector<uint8_t> smbios_table(const std::vector<SmbiosStructure>& structures);

enum class SmbiosEntry { kNone, k2, k3, kBoth };

// Where things go; the defaults are where OVMF puts them on a 512 MiB Q35.
struct SmbiosLayout {
  uint64_t table = 0x1F51F000u;  // above 4 GiB: only a 3.x entry point can name it
  uint32_t entry2 = 0x1F520000u;
  uint32_t entry3 = 0x1F520020u;
  bool config_table = true;     // list the entry points in the configuration table
  uint32_t f_segment_copy = 0;  // where a copy of the 2.x entry point goes; 0 for none
  int64_t stated_length = -1;   // the table length the entry points state; -1: its size
};

// Writes the table and the chosen entry points (with valid checksums) into
// the board's RAM and lists them in its configuration table.
void install_smbios(Board& board, const std::vector<uint8_t>& table, SmbiosEntry which,
                    const SmbiosLayout& layout = {});

}  // namespace kvq::sim
