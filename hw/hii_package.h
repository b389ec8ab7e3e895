// The HII package lists the firmware exports, read without ever leaving
// them: every multi-byte field is read bytewise (nothing in a package list
// is aligned) and only after its end was checked against the package that
// holds it. This module walks a list's packages and decodes its string
// package; hw/hii_ifr parses its forms.
#pragma once
#include <stdint.h>

#include "platform/firmware.h"
#include "platform/pool_array.h"

namespace kvq::hii {

// A stretch of exported bytes. Reads past `size` give 0: callers check
// their lengths first, this only keeps a missed check harmless.
struct Bytes {
  const uint8_t* data = nullptr;
  uint32_t size = 0;

  bool holds(uint32_t at, uint32_t count) const { return at <= size && count <= size - at; }
  // Out of line: the parsers read hundreds of fields, and the image is
  // smaller with one copy of each read.
  uint8_t u8(uint32_t at) const;
  uint16_t u16(uint32_t at) const;
  uint32_t u32(uint32_t at) const;
  // A little-endian number of `bytes` (1 to 8) bytes.
  uint64_t number(uint32_t at, int bytes) const;
  plat::Guid guid(uint32_t at) const;
};

// Package types kvq reads.
inline constexpr uint8_t kPackageForms = 0x02;
inline constexpr uint8_t kPackageStrings = 0x04;
inline constexpr uint8_t kPackageEnd = 0xDF;
inline constexpr uint32_t kListHeaderSize = 20;  // GUID, length
inline constexpr uint32_t kPackageHeaderSize = 4;

inline constexpr int kProblemCapacity = 96;

// One package of a list: where it starts in the list, its length (header
// included, checked to lie within the list) and its type.
struct Package {
  uint32_t at;
  uint32_t length;
  uint8_t type;
};

// Steps through a list's packages. A package whose length runs past the
// list ends the walk with a problem.
class PackageWalk {
 public:
  explicit PackageWalk(Bytes list);
  bool next(Package* out);
  // Empty while every package fitted.
  const char16_t* problem() const { return problem_; }

 private:
  Bytes list_;
  uint32_t at_;
  uint32_t end_;
  char16_t problem_[kProblemCapacity] = {};
};

// The strings of one package list, by string ID: where each one's text
// starts in the list (0: the ID has no string). Every text recorded ends
// with its NUL inside its package.
struct StringTable {
  PoolArray<uint32_t> offsets;
  char16_t language[16] = {};
};

// Decodes the list's en-US string package, else its first one. Blocks this
// decoder does not know end the package's strings; `problem` then names
// the block and the IDs lost (it stays empty otherwise).
void build_strings(Bytes list, StringTable* table, char16_t* problem);

// The string's text, cut to `capacity` - 1 characters; "" for an ID
// without a string. Returns the number of characters written.
int string_text(Bytes list, const StringTable& table, uint16_t id, char16_t* out, int capacity);

}  // namespace kvq::hii
