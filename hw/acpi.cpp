#include "hw/acpi.h"

#include "platform/firmware.h"

namespace kvq::acpi {
namespace {

constexpr char kRsdpSignature[9] = "RSD PTR ";
// A root table lists a few dozen tables; this many entries is already far
// more than any firmware publishes.
constexpr uint32_t kMaxRootEntries = 256;

bool bytes_are(const phys::Span& span, uint64_t offset, const char* text, int count) {
  for (int i = 0; i < count; ++i) {
    if (span.read8(offset + static_cast<uint64_t>(i)) != static_cast<uint8_t>(text[i])) return false;
  }
  return true;
}

// ACPI checksums make the bytes they cover add up to zero.
bool checksum_ok(const phys::Span& span, uint64_t length) {
  uint8_t sum = 0;
  for (uint64_t i = 0; i < length; ++i) sum = static_cast<uint8_t>(sum + span.read8(i));
  return sum == 0;
}

// A table at `address` with `signature`, a length from the header to
// `max_length` and a good checksum: a span of its length, or empty.
phys::Span checked_table(uint64_t address, const char* signature, uint32_t max_length) {
  if (address == 0) return {};
  const phys::Span head(address, kHeaderLength);
  if (!head.ok() || !bytes_are(head, 0, signature, 4)) return {};
  const uint32_t length = static_cast<uint32_t>(read_field<header::Length>(head));
  if (length < kHeaderLength || length > max_length) return {};
  const phys::Span table(address, length);
  return table.ok() && checksum_ok(table, length) ? table : phys::Span{};
}

struct RootTable {
  phys::Span span;
  uint32_t entries = 0;
  int entry_bytes = 0;
};

// The RSDP's root table: the XSDT (64-bit entries) when the pointer is ACPI
// 2.0 or later and the XSDT is reachable and sound, else the RSDT.
RootTable root_table(uint64_t address) {
  RootTable root;
  if (address == 0) return root;
  const phys::Span rsdp1(address, rsdp::kLength1);
  if (!rsdp1.ok() || !bytes_are(rsdp1, 0, kRsdpSignature, 8) || !checksum_ok(rsdp1, rsdp::kLength1)) return root;
  constexpr uint32_t kMaxRoot = kHeaderLength + kMaxRootEntries * 8;
  if (read_field<rsdp::Revision>(rsdp1) >= 2) {
    const phys::Span rsdp2(address, rsdp::kLength2);
    if (read_field<rsdp::Length>(rsdp2) == rsdp::kLength2 && checksum_ok(rsdp2, rsdp::kLength2)) {
      const phys::Span xsdt = checked_table(read_field<rsdp::XsdtAddress>(rsdp2), "XSDT", kMaxRoot);
      if (xsdt.ok()) return RootTable{xsdt, static_cast<uint32_t>((xsdt.length() - kHeaderLength) / 8), 8};
    }
  }
  const phys::Span rsdt =
      checked_table(read_field<rsdp::RsdtAddress>(rsdp1), "RSDT", kHeaderLength + kMaxRootEntries * 4);
  if (rsdt.ok()) root = RootTable{rsdt, static_cast<uint32_t>((rsdt.length() - kHeaderLength) / 4), 4};
  return root;
}

}  // namespace

phys::Span find_table(const char (&signature)[5], uint32_t max_length) {
  uint64_t rsdp = plat::config_table(plat::kAcpi20TableGuid);
  if (rsdp == 0) rsdp = plat::config_table(plat::kAcpi10TableGuid);
  const RootTable root = root_table(rsdp);
  for (uint32_t i = 0; i < root.entries; ++i) {
    const uint64_t entry = kHeaderLength + i * static_cast<uint64_t>(root.entry_bytes);
    const phys::Span table = checked_table(root.span.read_le(entry, root.entry_bytes), signature, max_length);
    if (table.ok()) return table;
  }
  return {};
}

}  // namespace kvq::acpi
