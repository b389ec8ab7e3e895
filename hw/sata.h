// The chipset's SATA controller at 0:31:2.
#pragma once

namespace kvq::sata {

// SATA mode select, bits 7:6 of register 0x90 of 0:31:2: 0 IDE, 1 AHCI,
// 2 RAID, 3 reserved. Prints the register three ways at the cursor, one line
// each: the dword, its low byte and the mode bits.
int mode_query();

// Only in AHCI and RAID mode does the controller have the port registers the
// disk page reads.
inline bool mode_allows_disk_page(int mode) { return mode == 1 || mode == 2; }

}  // namespace kvq::sata
