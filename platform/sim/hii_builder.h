// Builds HII package lists for the simulated board, opcode by opcode and
// string block by string block, laid out as firmware lays them out: tests
// describe a form set as a table of these calls, and the board's own forms
// (hii_forms.cpp) use them too.
#pragma once
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "platform/firmware.h"

namespace kvq::sim::hii_build {

using Bytes = std::vector<uint8_t>;

// The question header every question opcode starts with.
struct Q {
  uint16_t prompt;
  uint16_t help;
  uint16_t id;
  uint16_t store;   // VarStoreId; 0: none
  uint16_t offset;  // VarOffset, or a name/value store's VarName
  uint8_t flags;
};

// The opcodes of a form package, in order. Opcodes whose scope holds more
// take `scope`; end() closes the innermost.
class Ifr {
 public:
  // Any opcode: its header (with the length of `body`) and body.
  Ifr& op(uint8_t opcode, const Bytes& body, bool scope = false);
  Ifr& end();

  Ifr& formset(const plat::Guid& guid, uint16_t title, uint16_t help);
  Ifr& form(uint16_t id, uint16_t title);
  Ifr& varstore(const plat::Guid& guid, uint16_t id, uint16_t size, const char* name);
  Ifr& varstore_efi(const plat::Guid& guid, uint16_t id, uint32_t attributes, uint16_t size, const char* name);
  Ifr& varstore_name_value(const plat::Guid& guid, uint16_t id);
  // A one-of or numeric of `size` bytes (1, 2, 4, 8); `display` its
  // display flags (0x00 signed, 0x10 unsigned, 0x20 hex).
  Ifr& one_of(const Q& q, int size, uint64_t min, uint64_t max, uint64_t step);
  Ifr& numeric(const Q& q, int size, uint8_t display, uint64_t min, uint64_t max, uint64_t step);
  Ifr& checkbox(const Q& q, uint8_t flags);
  Ifr& string(const Q& q, uint8_t min, uint8_t max);
  Ifr& ordered_list(const Q& q, uint8_t containers);
  // An option of type 0..3 (8 to 64 bits); `flags` 0x10 default.
  Ifr& option(uint16_t text, uint8_t flags, uint8_t type, uint64_t value);
  Ifr& default_value(uint16_t default_id, uint8_t type, uint64_t value);
  Ifr& suppress_if();
  Ifr& gray_out_if();
  Ifr& disable_if();
  Ifr& true_();
  Ifr& false_();
  Ifr& eq_id_val(uint16_t question, uint16_t value);
  Ifr& eq_id_id(uint16_t a, uint16_t b);
  Ifr& eq_id_val_list(uint16_t question, std::initializer_list<uint16_t> values);
  Ifr& question_ref(uint16_t question);
  Ifr& uint8(uint8_t value);
  Ifr& not_();
  Ifr& and_();
  Ifr& or_();
  Ifr& equal();
  Ifr& text(uint16_t prompt);

  Bytes bytes;
};

// One string package: its language and string blocks. Strings take IDs
// from 1 in the order of the blocks.
class Strings {
 public:
  explicit Strings(const char* language) : language_(language) {}
  Strings& ucs2(const std::u16string& text);
  Strings& ucs2_font(const std::u16string& text);
  Strings& run(std::initializer_list<std::u16string> texts);  // STRINGS_UCS2
  Strings& duplicate(uint16_t id);
  Strings& skip1(uint8_t count);
  Strings& skip2(uint16_t count);
  // An extension block of `length` bytes in all (type byte included).
  Strings& ext(int length_bytes, uint32_t length);
  Strings& raw(const Bytes& block);
  Strings& end();
  Bytes package() const;

 private:
  std::string language_;
  Bytes blocks_;
};

Bytes forms_package(const Ifr& ifr);
// A package list of these packages and the END package, with its header.
Bytes package_list(const plat::Guid& guid, std::initializer_list<Bytes> packages);
// A vendor hardware device path and its end node, as drivers that own no
// device give their HII handle.
Bytes vendor_path(const plat::Guid& guid);

}  // namespace kvq::sim::hii_build
