#include "hw/acpi.h"

#include "platform/firmware.h"
#include "platform/hw.h"

namespace kvq::acpi {
namespace {

constexpr char kRsdpSignature[9] = "RSD PTR ";
// A root table lists a few dozen tables; this many entries is already far
// more than any firmware publishes.
constexpr uint32_t kMaxRootEntries = 256;

bool reachable(uint64_t address, uint32_t length) {
  return address != 0 && address <= 0xFFFFFFFFull && length <= 0xFFFFFFFFull - address + 1;
}

bool bytes_are(uint32_t address, const char* text, int count) {
  for (int i = 0; i < count; ++i) {
    if (plat::mem_read8(address + static_cast<uint32_t>(i)) != static_cast<uint8_t>(text[i])) return false;
  }
  return true;
}

// ACPI checksums make the bytes they cover add up to zero.
bool checksum_ok(uint32_t address, uint32_t length) {
  uint8_t sum = 0;
  for (uint32_t i = 0; i < length; ++i) sum = static_cast<uint8_t>(sum + plat::mem_read8(address + i));
  return sum == 0;
}

// A table at `address` with `signature`, a length from the header to
// `max_length` and a good checksum; returns its length, or 0.
uint32_t checked_table(uint64_t address, const char* signature, uint32_t max_length) {
  if (!reachable(address, kHeaderLength)) return 0;
  const uint32_t a = static_cast<uint32_t>(address);
  if (!bytes_are(a, signature, 4)) return 0;
  const uint32_t length = static_cast<uint32_t>(read_field<header::Length>(a));
  if (length < kHeaderLength || length > max_length || !reachable(a, length)) return 0;
  return checksum_ok(a, length) ? length : 0;
}

struct RootTable {
  uint32_t address = 0;
  uint32_t entries = 0;
  int entry_bytes = 0;
};

// The RSDP's root table: the XSDT (64-bit entries) when the pointer is ACPI
// 2.0 or later and the XSDT is reachable and sound, else the RSDT.
RootTable root_table(uint64_t rsdp) {
  RootTable root;
  if (!reachable(rsdp, rsdp::kLength2)) return root;
  const uint32_t r = static_cast<uint32_t>(rsdp);
  if (!bytes_are(r, kRsdpSignature, 8) || !checksum_ok(r, rsdp::kLength1)) return root;
  constexpr uint32_t kMaxRoot = kHeaderLength + kMaxRootEntries * 8;
  if (read_field<rsdp::Revision>(r) >= 2 && read_field<rsdp::Length>(r) == rsdp::kLength2 &&
      checksum_ok(r, rsdp::kLength2)) {
    const uint64_t xsdt = read_field<rsdp::XsdtAddress>(r);
    if (const uint32_t length = checked_table(xsdt, "XSDT", kMaxRoot)) {
      return RootTable{static_cast<uint32_t>(xsdt), (length - kHeaderLength) / 8, 8};
    }
  }
  const uint64_t rsdt = read_field<rsdp::RsdtAddress>(r);
  if (const uint32_t length = checked_table(rsdt, "RSDT", kHeaderLength + kMaxRootEntries * 4)) {
    root = RootTable{static_cast<uint32_t>(rsdt), (length - kHeaderLength) / 4, 4};
  }
  return root;
}

}  // namespace

uint64_t read_le(uint32_t address, int bytes) {
  uint64_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | plat::mem_read8(address + static_cast<uint32_t>(i));
  return v;
}

uint32_t find_table(const char (&signature)[5], uint32_t max_length, uint32_t* length) {
  uint64_t rsdp = plat::config_table(plat::kAcpi20TableGuid);
  if (rsdp == 0) rsdp = plat::config_table(plat::kAcpi10TableGuid);
  const RootTable root = root_table(rsdp);
  for (uint32_t i = 0; i < root.entries; ++i) {
    const uint32_t entry = root.address + kHeaderLength + i * static_cast<uint32_t>(root.entry_bytes);
    const uint64_t table = read_le(entry, root.entry_bytes);
    if (const uint32_t n = checked_table(table, signature, max_length)) {
      *length = n;
      return static_cast<uint32_t>(table);
    }
  }
  return 0;
}

}  // namespace kvq::acpi
