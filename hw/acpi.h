// The firmware's ACPI tables, found the way an operating system finds them:
// the root pointer (RSDP) from the UEFI configuration table, then the root
// table (XSDT, or RSDT for ACPI 1.0), then a table by its signature. Every
// byte is read through the hardware seam, and a table is believed only when
// its signature, length and checksum are right; a length is never trusted
// beyond the bounds below. Tables above 4 GiB are out of reach.
#pragma once
#include <stdint.h>

namespace kvq::acpi {

// Every system description table starts with this 36-byte header.
inline constexpr uint32_t kHeaderLength = 36;

// Physical address of the first table named `signature` (four characters,
// as "MCFG") that passes its checks and is no longer than `max_length`
// bytes, or 0 when the firmware has none. *length receives its length.
uint32_t find_table(const char (&signature)[5], uint32_t max_length, uint32_t* length);

// Little-endian value of `bytes` bytes (1 to 8) at a physical address, read
// a byte at a time (table fields need not be aligned).
uint64_t read_le(uint32_t address, int bytes);

}  // namespace kvq::acpi
