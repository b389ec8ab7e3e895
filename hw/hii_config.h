// The configuration strings the firmware's configuration routing takes and
// gives: a <ConfigRequest> (which settings to read), a <ConfigResp> (the
// values to write) and the results of a read. A header names the variable
// store (GUID=, NAME=, PATH=); a block names bytes of it (OFFSET=, WIDTH=,
// VALUE=). GUID, name and path are written byte by byte in memory order, a
// VALUE as a number, its most significant byte first; hex digits in lower
// case, as EDK II writes them and as some drivers compare them.
#pragma once
#include <stdint.h>

#include "hw/hii_ifr.h"
#include "platform/pool_array.h"

namespace kvq::hii {

// A text that grows in pool memory. failed() once the pool said no: the
// text is then incomplete and must not be sent.
class PoolText {
 public:
  void add(char16_t ch) { failed_ = failed_ || !chars_.push(ch); }
  void add_text(const char16_t* text);
  void add_hex(uint64_t value, int digits);
  // NUL-terminated; null when the text failed.
  const char16_t* text();
  bool failed() const { return failed_; }
  void release() { chars_.release(); }

 private:
  PoolArray<char16_t> chars_;
  bool failed_ = false;
};

// GUID=...&NAME=...&PATH=... for the store: the store's own name, or
// `name` when it is not null; a name/value store has an empty NAME.
void config_header(const Model& m, const Store& s, const char16_t* name, PoolText* out);
// &OFFSET=0020&WIDTH=0004
void request_block(uint32_t offset, uint32_t width, PoolText* out);
// &OFFSET=0020&WIDTH=0004&VALUE=00000005, from the bytes as they lie in the
// store (little-endian).
void value_block(uint32_t offset, const uint8_t* bytes, uint32_t width, PoolText* out);
// A name/value store's value: &NAME.
void request_name(const Model& m, const Question& q, PoolText* out);

// The values of the first <ConfigResp> in a read's results; the <ConfigHdr>
// after it (defaults, ALTCFG=) ends them. `hex` is the VALUE's digits,
// most significant first.
struct Element {
  const char16_t* name;  // a name/value element's name (not NUL-terminated); null for a block
  uint32_t name_length;
  uint32_t offset;
  uint32_t width;
  const char16_t* hex;
  uint32_t digits;
};
using TakeElement = void (*)(void* ctx, const Element& e);
// False when the results do not start with a header.
bool parse_results(const char16_t* results, TakeElement take, void* ctx);

// Puts a VALUE's digits into `width` bytes, least significant first: fewer
// digits leave the high bytes zero, more are cut.
void decode_value(const char16_t* hex, uint32_t digits, uint8_t* out, uint32_t width);

}  // namespace kvq::hii
