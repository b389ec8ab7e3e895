#include "platform/sim/smbios_tables.h"

#include <cstring>

namespace kvq::sim {
namespace {

void put16(std::vector<uint8_t>& v, size_t at, uint32_t x) {
  v[at] = static_cast<uint8_t>(x);
  v[at + 1] = static_cast<uint8_t>(x >> 8);
}

void put32(std::vector<uint8_t>& v, size_t at, uint32_t x) {
  put16(v, at, x);
  put16(v, at + 2, x >> 16);
}

// The byte that makes bytes [from, to) sum to zero.
uint8_t checksum(const std::vector<uint8_t>& v, size_t from, size_t to, size_t at) {
  uint8_t sum = 0;
  for (size_t i = from; i < to; ++i) {
    if (i != at) sum = static_cast<uint8_t>(sum + v[i]);
  }
  return static_cast<uint8_t>(0x100 - sum);
}

std::vector<uint8_t> entry2(uint32_t table, uint32_t length) {
  std::vector<uint8_t> e(0x1F, 0);
  std::memcpy(e.data(), "_SM_", 4);
  e[0x05] = 0x1F;  // entry point length
  e[0x06] = 2;     // SMBIOS 2.8
  e[0x07] = 8;
  std::memcpy(e.data() + 0x10, "_DMI_", 5);
  put16(e, 0x16, length);
  put32(e, 0x18, table);
  e[0x1E] = 0x28;
  e[0x15] = checksum(e, 0x10, 0x1F, 0x15);
  e[0x04] = checksum(e, 0, 0x1F, 0x04);
  return e;
}

std::vector<uint8_t> entry3(uint64_t table, uint32_t length) {
  std::vector<uint8_t> e(0x18, 0);
  std::memcpy(e.data(), "_SM3_", 5);
  e[0x06] = 0x18;  // entry point length
  e[0x07] = 3;     // SMBIOS 3.0
  e[0x0A] = 1;     // entry point revision
  put32(e, 0x0C, length);
  put32(e, 0x10, static_cast<uint32_t>(table));
  put32(e, 0x14, static_cast<uint32_t>(table >> 32));
  e[0x05] = checksum(e, 0, 0x18, 0x05);
  return e;
}

void poke(Board& board, uint64_t at, const std::vector<uint8_t>& bytes) {
  for (size_t i = 0; i < bytes.size(); ++i) board.ram_poke(at + i, bytes[i]);
}

}  // namespace

std::vector<uint8_t> smbios_table(const std::vector<SmbiosStructure>& structures) {
  std::vector<uint8_t> out;
  uint16_t handle = 0;
  auto append = [&](uint8_t type, const std::vector<uint8_t>& fields, const std::vector<std::string>& strings) {
    out.push_back(type);
    out.push_back(static_cast<uint8_t>(4 + fields.size()));
    out.push_back(static_cast<uint8_t>(handle));
    out.push_back(static_cast<uint8_t>(handle >> 8));
    ++handle;
    out.insert(out.end(), fields.begin(), fields.end());
    for (const std::string& s : strings) {
      out.insert(out.end(), s.begin(), s.end());
      out.push_back(0);
    }
    if (strings.empty()) out.push_back(0);
    out.push_back(0);
  };
  for (const SmbiosStructure& s : structures) append(s.type, s.fields, s.strings);
  append(127, {}, {});
  return out;
}

void install_smbios(Board& board, const std::vector<uint8_t>& table, SmbiosEntry which, const SmbiosLayout& layout) {
  const uint32_t length =
      static_cast<uint32_t>(layout.stated_length >= 0 ? layout.stated_length : static_cast<int64_t>(table.size()));
  poke(board, layout.table, table);
  const bool two = which == SmbiosEntry::k2 || which == SmbiosEntry::kBoth;
  const bool three = which == SmbiosEntry::k3 || which == SmbiosEntry::kBoth;
  if (two) {
    const std::vector<uint8_t> e = entry2(static_cast<uint32_t>(layout.table), length);
    poke(board, layout.entry2, e);
    if (layout.config_table) board.config_tables.push_back({plat::kSmbiosTableGuid, layout.entry2});
    if (layout.f_segment_copy != 0) poke(board, layout.f_segment_copy, e);
  }
  if (three) {
    poke(board, layout.entry3, entry3(layout.table, length));
    if (layout.config_table) board.config_tables.push_back({plat::kSmbios3TableGuid, layout.entry3});
  }
}

}  // namespace kvq::sim
