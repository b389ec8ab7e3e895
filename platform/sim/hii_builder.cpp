#include "platform/sim/hii_builder.h"

#include <cstring>

namespace kvq::sim::hii_build {
namespace {

void put(Bytes& b, uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void put_guid(Bytes& b, const plat::Guid& g) {
  const auto* p = reinterpret_cast<const uint8_t*>(&g);
  b.insert(b.end(), p, p + 16);
}

Bytes question(const Q& q) {
  Bytes b;
  put(b, q.prompt, 2);
  put(b, q.help, 2);
  put(b, q.id, 2);
  put(b, q.store, 2);
  put(b, q.offset, 2);
  b.push_back(q.flags);
  return b;
}

int size_code(int size) { return size == 8 ? 3 : size == 4 ? 2 : size == 2 ? 1 : 0; }

}  // namespace

Ifr& Ifr::op(uint8_t opcode, const Bytes& body, bool scope) {
  bytes.push_back(opcode);
  bytes.push_back(static_cast<uint8_t>((body.size() + 2) | (scope ? 0x80 : 0)));
  bytes.insert(bytes.end(), body.begin(), body.end());
  return *this;
}

Ifr& Ifr::end() { return op(0x29, {}); }

Ifr& Ifr::formset(const plat::Guid& guid, uint16_t title, uint16_t help) {
  Bytes b;
  put_guid(b, guid);
  put(b, title, 2);
  put(b, help, 2);
  b.push_back(0);  // no class GUIDs
  return op(0x0E, b, true);
}

Ifr& Ifr::form(uint16_t id, uint16_t title) {
  Bytes b;
  put(b, id, 2);
  put(b, title, 2);
  return op(0x01, b, true);
}

Ifr& Ifr::varstore(const plat::Guid& guid, uint16_t id, uint16_t size, const char* name) {
  Bytes b;
  put_guid(b, guid);
  put(b, id, 2);
  put(b, size, 2);
  b.insert(b.end(), name, name + std::strlen(name) + 1);
  return op(0x24, b);
}

Ifr& Ifr::varstore_efi(const plat::Guid& guid, uint16_t id, uint32_t attributes, uint16_t size, const char* name) {
  Bytes b;
  put(b, id, 2);
  put_guid(b, guid);
  put(b, attributes, 4);
  put(b, size, 2);
  b.insert(b.end(), name, name + std::strlen(name) + 1);
  return op(0x26, b);
}

Ifr& Ifr::varstore_name_value(const plat::Guid& guid, uint16_t id) {
  Bytes b;
  put(b, id, 2);
  put_guid(b, guid);
  return op(0x25, b);
}

Ifr& Ifr::one_of(const Q& q, int size, uint64_t min, uint64_t max, uint64_t step) {
  Bytes b = question(q);
  b.push_back(static_cast<uint8_t>(size_code(size)));
  put(b, min, size);
  put(b, max, size);
  put(b, step, size);
  return op(0x05, b, true);
}

Ifr& Ifr::numeric(const Q& q, int size, uint8_t display, uint64_t min, uint64_t max, uint64_t step) {
  Bytes b = question(q);
  b.push_back(static_cast<uint8_t>(size_code(size) | display));
  put(b, min, size);
  put(b, max, size);
  put(b, step, size);
  return op(0x07, b, true);
}

Ifr& Ifr::checkbox(const Q& q, uint8_t flags) {
  Bytes b = question(q);
  b.push_back(flags);
  return op(0x06, b, true);
}

Ifr& Ifr::string(const Q& q, uint8_t min, uint8_t max) {
  Bytes b = question(q);
  b.push_back(min);
  b.push_back(max);
  b.push_back(0);
  return op(0x1C, b, true);
}

Ifr& Ifr::ordered_list(const Q& q, uint8_t containers) {
  Bytes b = question(q);
  b.push_back(containers);
  b.push_back(0);
  return op(0x23, b, true);
}

Ifr& Ifr::option(uint16_t text, uint8_t flags, uint8_t type, uint64_t value) {
  Bytes b;
  put(b, text, 2);
  b.push_back(flags);
  b.push_back(type);
  put(b, value, 1 << type);
  return op(0x09, b);
}

Ifr& Ifr::default_value(uint16_t default_id, uint8_t type, uint64_t value) {
  Bytes b;
  put(b, default_id, 2);
  b.push_back(type);
  put(b, value, 1 << type);
  return op(0x5B, b);
}

Ifr& Ifr::suppress_if() { return op(0x0A, {}, true); }
Ifr& Ifr::gray_out_if() { return op(0x19, {}, true); }
Ifr& Ifr::disable_if() { return op(0x1E, {}, true); }
Ifr& Ifr::true_() { return op(0x46, {}); }
Ifr& Ifr::false_() { return op(0x47, {}); }
Ifr& Ifr::not_() { return op(0x17, {}); }
Ifr& Ifr::and_() { return op(0x15, {}); }
Ifr& Ifr::or_() { return op(0x16, {}); }
Ifr& Ifr::equal() { return op(0x2F, {}); }
Ifr& Ifr::uint8(uint8_t value) { return op(0x42, {value}); }

Ifr& Ifr::eq_id_val(uint16_t question, uint16_t value) {
  Bytes b;
  put(b, question, 2);
  put(b, value, 2);
  return op(0x12, b);
}

Ifr& Ifr::eq_id_id(uint16_t a, uint16_t b2) {
  Bytes b;
  put(b, a, 2);
  put(b, b2, 2);
  return op(0x13, b);
}

Ifr& Ifr::eq_id_val_list(uint16_t question, std::initializer_list<uint16_t> values) {
  Bytes b;
  put(b, question, 2);
  put(b, values.size(), 2);
  for (uint16_t v : values) put(b, v, 2);
  return op(0x14, b);
}

Ifr& Ifr::question_ref(uint16_t question) {
  Bytes b;
  put(b, question, 2);
  return op(0x40, b);
}

Ifr& Ifr::text(uint16_t prompt) {
  Bytes b;
  put(b, prompt, 2);
  put(b, 0, 2);
  put(b, 0, 2);
  return op(0x03, b);
}

namespace {

void put_text(Bytes& b, const std::u16string& text) {
  for (char16_t c : text) put(b, c, 2);
  put(b, 0, 2);
}

}  // namespace

Strings& Strings::ucs2(const std::u16string& text) {
  blocks_.push_back(0x14);
  put_text(blocks_, text);
  return *this;
}

Strings& Strings::ucs2_font(const std::u16string& text) {
  blocks_.push_back(0x15);
  blocks_.push_back(1);  // font 1
  put_text(blocks_, text);
  return *this;
}

Strings& Strings::run(std::initializer_list<std::u16string> texts) {
  blocks_.push_back(0x16);
  put(blocks_, texts.size(), 2);
  for (const std::u16string& t : texts) put_text(blocks_, t);
  return *this;
}

Strings& Strings::duplicate(uint16_t id) {
  blocks_.push_back(0x20);
  put(blocks_, id, 2);
  return *this;
}

Strings& Strings::skip1(uint8_t count) {
  blocks_.push_back(0x22);
  blocks_.push_back(count);
  return *this;
}

Strings& Strings::skip2(uint16_t count) {
  blocks_.push_back(0x21);
  put(blocks_, count, 2);
  return *this;
}

Strings& Strings::ext(int length_bytes, uint32_t length) {
  const size_t start = blocks_.size();
  blocks_.push_back(length_bytes == 1 ? 0x30 : length_bytes == 2 ? 0x31 : 0x32);
  blocks_.push_back(0x40);  // a font block, as EDK II writes them
  put(blocks_, length, length_bytes);
  while (blocks_.size() < start + length) blocks_.push_back(0xAA);
  return *this;
}

Strings& Strings::raw(const Bytes& block) {
  blocks_.insert(blocks_.end(), block.begin(), block.end());
  return *this;
}

Strings& Strings::end() {
  blocks_.push_back(0x00);
  return *this;
}

Bytes Strings::package() const {
  Bytes b;
  const uint32_t header = 46 + static_cast<uint32_t>(language_.size()) + 1;
  const uint32_t length = header + static_cast<uint32_t>(blocks_.size());
  put(b, length | 0x04u << 24, 4);
  put(b, header, 4);  // HdrSize
  put(b, header, 4);  // StringInfoOffset
  b.resize(b.size() + 32 + 2, 0);  // LanguageWindow, LanguageName
  b.insert(b.end(), language_.begin(), language_.end());
  b.push_back(0);
  b.insert(b.end(), blocks_.begin(), blocks_.end());
  return b;
}

Bytes forms_package(const Ifr& ifr) {
  Bytes b;
  put(b, (ifr.bytes.size() + 4) | 0x02u << 24, 4);
  b.insert(b.end(), ifr.bytes.begin(), ifr.bytes.end());
  return b;
}

Bytes package_list(const plat::Guid& guid, std::initializer_list<Bytes> packages) {
  Bytes b;
  put_guid(b, guid);
  put(b, 0, 4);
  for (const Bytes& p : packages) b.insert(b.end(), p.begin(), p.end());
  put(b, 4u | 0xDFu << 24, 4);
  const size_t length = b.size();
  for (int i = 0; i < 4; ++i) b[16 + static_cast<size_t>(i)] = static_cast<uint8_t>(length >> (8 * i));
  return b;
}

Bytes vendor_path(const plat::Guid& guid) {
  Bytes b = {0x01, 0x04, 20, 0};  // hardware, vendor
  put_guid(b, guid);
  b.insert(b.end(), {0x7F, 0xFF, 4, 0});
  return b;
}

}  // namespace kvq::sim::hii_build
