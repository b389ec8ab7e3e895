// The firmware's ACPI tables, found the way an operating system finds them:
// the root pointer (RSDP) from the UEFI configuration table, then the root
// table (XSDT, or RSDT for ACPI 1.0), the tables it lists, and the DSDT and
// FACS that the FADT points to. Every byte is read through a span the page
// tables map, a table is read only within the length it states, and a
// length is never trusted beyond the bounds below.
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

// The FADT's pointers to the FACS and the DSDT: 32-bit fields from ACPI
// 1.0, 64-bit X_ fields from ACPI 2.0 on (which win when non-zero).
namespace fadt {
struct FirmwareCtrl : reg::Register<36, 4> {};
struct Dsdt : reg::Register<40, 4> {};
struct XFirmwareCtrl : reg::Register<132, 8> {};
struct XDsdt : reg::Register<140, 8> {};
}  // namespace fadt

// The FACS has no standard header and no checksum: its signature and
// length, then its own fields; 64 bytes at least.
namespace facs {
struct Version : reg::Register<32, 1> {};
inline constexpr uint32_t kMinLength = 64;
}  // namespace facs

// No firmware's table comes near this; a stated length beyond it is a
// damaged header, and reading that much would run over device windows.
inline constexpr uint32_t kMaxTableLength = 4u << 20;

// How the walk reached a table, which says what the table must be.
enum class Link : uint8_t { kRsdp, kXsdt, kRsdt, kEntry, kDsdt, kFacs };

struct Place {
  uint64_t address = 0;
  Link link = Link::kEntry;
};

// Every table the walk found, each once, in the order an operating system
// meets them: the RSDP, the root table, its entries, each FADT followed by
// its DSDT and FACS. A root table whose checksum fails is walked, and so is
// the RSDT after it (an operating system falls back on it).
inline constexpr int kMaxTables = 256;
struct TableList {
  int count = 0;
  Place tables[kMaxTables];
};
TableList list_tables();

enum class Health : uint8_t {
  kOk,            // signature, length and checksum hold
  kBadChecksum,   // listed and marked; its bytes are still read
  kNoChecksum,    // a sound FACS
  kUnmapped,      // the page tables do not map all of it
  kBeyondReach,   // above what this processor (or an IA-32 image) addresses
  kBadSignature,  // not what its link says (or not printable)
  kBadLength,     // shorter than its fixed part, or above kMaxTableLength
};

// One table as it reads now.
struct Table {
  Place place;
  Health health = Health::kUnmapped;
  bool head_read = false;  // the signature and the stated length were read
  uint8_t signature[4] = {};  // the RSDP's first four bytes ("RSD ")
  uint32_t length = 0;        // as stated
  uint8_t revision = 0;       // the FACS's version
  bool has_oem_id = false;    // all but the FACS
  bool has_table_id = false;  // all but the RSDP and the FACS
  uint8_t oem_id[6] = {};
  uint8_t oem_table_id[8] = {};
  // Exactly the stated length, when all of it could be read.
  phys::Span span;
};
Table read_table(const Place& place);

// A table's name as text: "RSDP" for the root pointer, its signature for
// the rest with a dot for each unprintable byte; blanks when unread.
void name_text(const Table& t, char16_t (&out)[5]);

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
