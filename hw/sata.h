// The chipset's SATA controller at 0:31:2.
#pragma once
#include <stdint.h>

namespace kvq::sata {

// SATA mode select, bits 7:6 of register 0x90 of 0:31:2: 0 IDE, 1 AHCI,
// 2 RAID, 3 reserved. Prints the register three ways at the cursor, one line
// each: the dword, its low byte and the mode bits.
int mode_query();

// Only in AHCI and RAID mode does the controller have the port registers the
// disk page reads.
inline bool mode_allows_disk_page(int mode) { return mode == 1 || mode == 2; }

// Port register offsets from ABAR: port n's registers are at 0x100 + 0x80 n.
inline constexpr uint16_t kPort0Offset = 0x100;
inline constexpr uint16_t kPort7Offset = 0x480;
inline constexpr uint16_t kPortOffsetStep = 0x80;
inline constexpr int port_number(uint16_t offset) { return (offset - kPort0Offset) / kPortOffsetStep; }

// Buffer addresses that mean "no disk answered".
inline constexpr uint32_t kNoDevice = 0xFFFFFFFFu;
inline constexpr bool is_no_device(uint32_t buffer) {
  return buffer == 0x00780003u || buffer == 0xF000EEF3u || buffer == kNoDevice;
}

// The page of memory below 4 GiB that every IDENTIFY answer lands in: taken
// once at start-up, given back at exit.
void allocate_identify_buffer();
void free_identify_buffer();

// Runs IDENTIFY DEVICE on the port whose registers lie at ABAR +
// `port_offset`, in slot 0 of the command list the firmware's driver set up
// for it, and waits for the answer. Returns the address of the 512-byte
// answer, or kNoDevice: for a port that is not implemented, has no device,
// or whose command structures were never set up (then nothing is written),
// and for a command that failed or went unanswered for 100 ms.
uint32_t probe_port(uint16_t port_offset);

// "Model Name: ..." at (0, 18) from the answer at `buffer`, or "No device be
// detected !".
void show_model_name(uint32_t buffer);
// "Size: %dG" at (51, 18), in decimal gigabytes; nothing for no disk.
void show_disk_size(uint32_t buffer);

}  // namespace kvq::sata
