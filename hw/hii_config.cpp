#include "hw/hii_config.h"

namespace kvq::hii {

void PoolText::add_text(const char16_t* text) {
  for (; *text != 0; ++text) add(*text);
}

void PoolText::add_hex(uint64_t value, int digits) {
  for (int i = digits - 1; i >= 0; --i) {
    const unsigned d = (value >> (4 * i)) & 0xF;
    add(static_cast<char16_t>(d < 10 ? u'0' + d : u'a' + d - 10));
  }
}

const char16_t* PoolText::text() {
  add(0);
  if (failed_) return nullptr;
  // The NUL stays outside the length, so more text may follow it.
  chars_.pop();
  return &chars_[0];
}

namespace {

void add_bytes(const uint8_t* bytes, uint32_t count, PoolText* out) {
  for (uint32_t i = 0; i < count; ++i) out->add_hex(bytes[i], 2);
}

// A field of at most four bytes, as OFFSET= and WIDTH= carry them.
void add_number(const char16_t* key, uint32_t value, PoolText* out) {
  out->add_text(key);
  out->add_hex(value, value > 0xFFFF ? 8 : 4);
}

// VALUE=: the bytes from the last (most significant) to the first.
void add_value(const uint8_t* bytes, uint32_t width, PoolText* out) {
  out->add_text(u"VALUE=");
  for (uint32_t i = width; i > 0; --i) out->add_hex(bytes[i - 1], 2);
}

}  // namespace

void config_header(const Model& m, const Store& s, const char16_t* name, PoolText* out) {
  out->add_text(u"GUID=");
  uint8_t guid[16];
  const plat::Guid& g = s.guid;
  for (int i = 0; i < 4; ++i) guid[i] = static_cast<uint8_t>(g.data1 >> (8 * i));
  for (int i = 0; i < 2; ++i) guid[4 + i] = static_cast<uint8_t>(g.data2 >> (8 * i));
  for (int i = 0; i < 2; ++i) guid[6 + i] = static_cast<uint8_t>(g.data3 >> (8 * i));
  for (int i = 0; i < 8; ++i) guid[8 + i] = g.data4[i];
  add_bytes(guid, 16, out);
  // NAME=: each character of the name as four digits.
  out->add_text(u"&NAME=");
  const Bytes& b = m.lists[m.formsets[s.formset].list].bytes;
  for (uint32_t i = 0; name == nullptr && i < s.name_length; ++i) out->add_hex(b.u8(s.name_at + i), 4);
  for (; name != nullptr && *name != 0; ++name) out->add_hex(*name, 4);
  out->add_text(u"&PATH=");
  const List& l = m.lists[m.formsets[s.formset].list];
  add_bytes(l.path, l.path_size, out);
}

void request_block(uint32_t offset, uint32_t width, PoolText* out) {
  add_number(u"&OFFSET=", offset, out);
  add_number(u"&WIDTH=", width, out);
}

void value_block(uint32_t offset, const uint8_t* bytes, uint32_t width, PoolText* out) {
  request_block(offset, width, out);
  out->add(u'&');
  add_value(bytes, width, out);
}

// A name/value element is named by the string its question's VarName gives.
void request_name(const Model& m, const Question& q, PoolText* out) {
  char16_t name[64];
  text(m, m.formsets[q.formset].list, q.offset, name, 64);
  out->add(u'&');
  out->add_text(name);
}

namespace {

// No result a firmware gives comes near this; it bounds a missing NUL.
constexpr uint32_t kMaxResults = 1u << 22;

int hex_digit(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

// One "KEY=VALUE" (or "KEY") between two '&'.
struct Token {
  const char16_t* key;
  uint32_t key_length;
  const char16_t* value;  // null: no '='
  uint32_t value_length;
};

class Tokens {
 public:
  explicit Tokens(const char16_t* text) : at_(text) {}
  bool next(Token* t) {
    if (at_ == nullptr || *at_ == 0 || seen_ > kMaxResults) return false;
    if (*at_ == u'&') ++at_;
    *t = Token{at_, 0, nullptr, 0};
    for (; *at_ != 0 && *at_ != u'&' && seen_ <= kMaxResults; ++at_, ++seen_) {
      if (t->value == nullptr && *at_ == u'=') {
        t->value = at_ + 1;
      } else if (t->value != nullptr) {
        ++t->value_length;
      } else {
        ++t->key_length;
      }
    }
    return true;
  }

 private:
  const char16_t* at_;
  uint32_t seen_ = 0;
};

bool is(const Token& t, const char16_t* key) {
  uint32_t i = 0;
  for (; key[i] != 0; ++i) {
    if (i >= t.key_length || t.key[i] != key[i]) return false;
  }
  return i == t.key_length && t.value != nullptr;
}

bool number(const Token& t, uint32_t* out) {
  uint64_t v = 0;
  if (t.value_length == 0 || t.value_length > 8) return false;
  for (uint32_t i = 0; i < t.value_length; ++i) {
    const int d = hex_digit(t.value[i]);
    if (d < 0) return false;
    v = v << 4 | static_cast<uint64_t>(d);
  }
  *out = static_cast<uint32_t>(v);
  return true;
}

}  // namespace

bool parse_results(const char16_t* results, TakeElement take, void* ctx) {
  Tokens tokens(results);
  Token t{};
  if (!tokens.next(&t) || !is(t, u"GUID")) return false;
  bool in_header = true;
  while (tokens.next(&t)) {
    if (is(t, u"GUID") || is(t, u"ALTCFG")) break;  // the next store, or its defaults
    if (in_header && (is(t, u"NAME") || is(t, u"PATH"))) continue;
    in_header = false;
    Element e{nullptr, 0, 0, 0, nullptr, 0};
    if (is(t, u"OFFSET")) {
      Token w{};
      Token v{};
      if (!number(t, &e.offset) || !tokens.next(&w) || !is(w, u"WIDTH") || !number(w, &e.width) ||
          !tokens.next(&v) || !is(v, u"VALUE")) {
        return true;  // a block kvq cannot read ends what it takes
      }
      e.hex = v.value;
      e.digits = v.value_length;
    } else if (t.value != nullptr) {
      e.name = t.key;
      e.name_length = t.key_length;
      e.hex = t.value;
      e.digits = t.value_length;
    } else {
      continue;
    }
    take(ctx, e);
  }
  return true;
}

void decode_value(const char16_t* hex, uint32_t digits, uint8_t* out, uint32_t width) {
  for (uint32_t i = 0; i < width; ++i) out[i] = 0;
  // Digit k from the end is bits 4k..4k+3 of the number.
  for (uint32_t k = 0; k < digits && k / 2 < width; ++k) {
    const int d = hex_digit(hex[digits - 1 - k]);
    out[k / 2] = static_cast<uint8_t>(out[k / 2] | (d < 0 ? 0 : d) << (4 * (k % 2)));
  }
}

}  // namespace kvq::hii
