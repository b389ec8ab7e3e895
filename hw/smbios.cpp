#include "hw/smbios.h"

#include "hw/phys.h"
#include "platform/firmware.h"
#include "platform/screen.h"

namespace kvq::smbios {
namespace {

// Entry-point layouts (SMBIOS 2.x "_SM_" and 3.x "_SM3_"): the fields kvq
// reads.
constexpr uint32_t kEntry2Size = 0x1F;
constexpr uint32_t kEntry2TableLength = 0x16;   // word
constexpr uint32_t kEntry2TableAddress = 0x18;  // dword
constexpr uint32_t kEntry2Checksum = 0x04;
constexpr uint32_t kEntry2DmiAnchor = 0x10;
constexpr uint32_t kEntry3Size = 0x18;
constexpr uint32_t kEntry3TableMaxSize = 0x0C;  // dword
constexpr uint32_t kEntry3TableAddress = 0x10;  // qword

constexpr uint32_t kFSegment = 0xF0000;
constexpr uint32_t kFSegmentEnd = 0x100000;
constexpr uint32_t kAnchorSm = 0x5F4D535F;  // "_SM_" as a little-endian dword

constexpr uint8_t kEndOfTable = 127;
constexpr uint8_t kHeaderSize = 4;  // type, length, handle

bool bytes_are(const phys::Span& span, uint32_t offset, const char* text) {
  for (uint32_t i = 0; text[i] != 0; ++i) {
    if (span.read8(offset + i) != static_cast<uint8_t>(text[i])) return false;
  }
  return true;
}

// The entry point a configuration table entry names, if all of it lies
// within the processor's reach.
bool entry_address(const plat::Guid& guid, uint32_t size, uint64_t* address) {
  const uint64_t a = plat::config_table(guid);
  if (a == 0 || a > phys::highest_address() - (size - 1)) return false;
  *address = a;
  return true;
}

// The part of [table, table + length) that lies within the processor's
// reach: on x64 a 3.x table above 4 GiB is read whole.
uint32_t reachable_length(uint64_t table, uint64_t length) {
  if (table > phys::highest_address()) return 0;
  const uint64_t room = phys::highest_address() - table + 1;
  return static_cast<uint32_t>(length < room ? length : room);
}

// `entry` holds a 2.x entry point from its first byte.
EntryPoint entry2_at(const phys::Span& entry, Source source) {
  EntryPoint e;
  e.source = source;
  e.address = entry.base();
  e.table = entry.read32(kEntry2TableAddress);
  e.length = reachable_length(e.table, entry.read16(kEntry2TableLength));
  return e;
}

EntryPoint from_config_table3() {
  uint64_t a = 0;
  if (!entry_address(plat::kSmbios3TableGuid, kEntry3Size, &a)) return {};
  const phys::Span entry(a, kEntry3Size);
  if (!entry.ok() || !bytes_are(entry, 0, "_SM3_")) return {};
  EntryPoint e;
  e.source = Source::kConfigTable3;
  e.address = a;
  const uint32_t low = entry.read32(kEntry3TableAddress);
  const uint32_t high = entry.read32(kEntry3TableAddress + 4);
  e.table = (static_cast<uint64_t>(high) << 32) | low;
  e.length = reachable_length(e.table, entry.read32(kEntry3TableMaxSize));
  return e;
}

EntryPoint from_config_table() {
  uint64_t a = 0;
  if (!entry_address(plat::kSmbiosTableGuid, kEntry2Size, &a)) return {};
  const phys::Span entry(a, kEntry2Size);
  if (!entry.ok() || !bytes_are(entry, 0, "_SM_") || !bytes_are(entry, kEntry2DmiAnchor, "_DMI_")) return {};
  return entry2_at(entry, Source::kConfigTable);
}

// The legacy search, for firmware without the configuration table entries:
// the BIOS area only, where nothing but ROM or its shadow answers.
EntryPoint scan_f_segment() {
  const phys::Span segment(kFSegment, kFSegmentEnd - kFSegment);
  for (uint32_t at = 0; segment.ok() && at + kEntry2Size < segment.length(); at += 4) {
    if (segment.read32(at) != kAnchorSm) continue;
    if (segment.read8(at + kEntry2Checksum) == 0 || !bytes_are(segment, at + kEntry2DmiAnchor, "_DMI_")) continue;
    return entry2_at(phys::Span(kFSegment + at, kEntry2Size), Source::kFSegment);
  }
  return {};
}

}  // namespace

EntryPoint find_entry_point() {
  const EntryPoint three = from_config_table3();
  if (three.found() && three.length != 0) return three;
  const EntryPoint two = from_config_table();
  if (two.found()) return two;
  if (three.found()) return three;  // its table lies above 4 GiB: no strings
  return scan_f_segment();
}

void find_identity_structures(const EntryPoint& entry, Structure (&found)[kIdentityTypes]) {
  for (Structure& s : found) s = Structure{};
  if (entry.length == 0) return;
  const phys::Span table(entry.table, entry.length);
  const uint64_t end = table.length();  // 0 when the table's pages are not all mapped
  int missing = kIdentityTypes;
  uint64_t p = 0;
  while (missing > 0 && p + kHeaderSize <= end) {
    const uint8_t type = table.read8(p);
    const uint8_t length = table.read8(p + 1);
    if (length < kHeaderSize || p + length > end) return;
    // The string set ends at the first double zero after the formatted area
    // (an empty set is the double zero alone).
    uint64_t q = p + length;
    int previous = -1;
    for (; q < end; ++q) {
      const uint8_t b = table.read8(q);
      if (b == 0 && previous == 0) break;
      previous = b;
    }
    if (q >= end) return;
    if (type < kIdentityTypes && !found[type].present()) {
      found[type] = Structure{entry.table + p, length, entry.table + q + 1};
      --missing;
    }
    if (type == kEndOfTable) return;
    p = q + 1;
  }
}

void read_string(const Structure& s, uint8_t field, char16_t* out, int capacity) {
  out[0] = 0;
  if (!s.present() || field >= s.length) return;
  const phys::Span span(s.address, s.end - s.address);
  const uint32_t end = static_cast<uint32_t>(span.length());
  const uint8_t number = span.read8(field);
  if (number == 0) return;
  // The set lies wholly in [length, end) and ends in a double zero, so
  // every loop below stops inside it.
  uint32_t p = s.length;
  for (uint8_t n = 1; n < number; ++n) {
    if (p >= end || span.read8(p) == 0) return;  // fewer strings
    while (p < end && span.read8(p) != 0) ++p;
    ++p;
  }
  int len = 0;
  for (; p < end && len < capacity - 1; ++p, ++len) {
    const uint8_t b = span.read8(p);
    if (b == 0) break;
    out[len] = printable(static_cast<char16_t>(b));
  }
  out[len] = 0;
}

}  // namespace kvq::smbios
