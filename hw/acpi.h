// The firmware's ACPI tables, found the way an operating system finds them:
// the root pointer (RSDP) from the UEFI configuration table, then the root
// table (XSDT, or RSDT for ACPI 1.0), then a table by its signature. Every
// byte is read through a span the page tables map, and a table is believed
// only when its signature, length and checksum are right; a length is never
// trusted beyond the bounds below, and nothing past it is read.
#pragma once
#include <stdint.h>

#include "hw/phys.h"
#include "hw/reg.h"

namespace kvq::acpi {

// The root system description pointer (RSDP): the ACPI 1.0 part is 20 bytes
// under the first checksum; ACPI 2.0 and later add the length, the XSDT and
// an extended checksum over all of it.
namespace rsdp {
struct Signature : reg::Register<0, 8> {};  // "RSD PTR "
struct Checksum : reg::Register<8, 1> {};
struct OemId : reg::Register<9, 6> {};
struct Revision : reg::Register<15, 1> {};  // 0 for ACPI 1.0, 2 from ACPI 2.0 on
struct RsdtAddress : reg::Register<16, 4> {};
struct Length : reg::Register<20, 4> {};
struct XsdtAddress : reg::Register<24, 8> {};
struct ExtendedChecksum : reg::Register<32, 1> {};
inline constexpr uint32_t kLength1 = 20;  // what the ACPI 1.0 checksum covers
inline constexpr uint32_t kLength2 = 36;
static_assert(Revision::kOffset == 15 && RsdtAddress::kOffset == 16 && Length::kOffset == 20 &&
              XsdtAddress::kOffset == 24 && ExtendedChecksum::kOffset + 4 == kLength2);
}  // namespace rsdp

// Every system description table starts with this 36-byte header.
namespace header {
struct Signature : reg::Register<0, 4> {};
struct Length : reg::Register<4, 4> {};  // of the whole table, header included
struct Revision : reg::Register<8, 1> {};
struct Checksum : reg::Register<9, 1> {};
struct OemId : reg::Register<10, 6> {};
struct OemTableId : reg::Register<16, 8> {};
struct OemRevision : reg::Register<24, 4> {};
struct CreatorId : reg::Register<28, 4> {};
struct CreatorRevision : reg::Register<32, 4> {};
}  // namespace header
inline constexpr uint32_t kHeaderLength = header::CreatorRevision::kOffset + header::CreatorRevision::kWidth;
static_assert(kHeaderLength == 36);

// The first table named `signature` (four characters, as "MCFG") that
// passes its checks and is no longer than `max_length` bytes: a span of
// exactly its stated length. Empty when the firmware has none.
phys::Span find_table(const char (&signature)[5], uint32_t max_length);

// A declared field of the structure a span holds.
template <class Field>
uint64_t read_field(const phys::Span& span) {
  return span.read_le(Field::kOffset, Field::kWidth);
}

}  // namespace kvq::acpi
