#include "hw/hii_package.h"

#include "platform/format.h"

namespace kvq::hii {

uint8_t Bytes::u8(uint32_t at) const { return at < size ? data[at] : 0; }
uint16_t Bytes::u16(uint32_t at) const { return static_cast<uint16_t>(number(at, 2)); }
uint32_t Bytes::u32(uint32_t at) const { return static_cast<uint32_t>(number(at, 4)); }

uint64_t Bytes::number(uint32_t at, int bytes) const {
  uint64_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = v << 8 | u8(at + static_cast<uint32_t>(i));
  return v;
}

plat::Guid Bytes::guid(uint32_t at) const {
  plat::Guid g{u32(at), u16(at + 4), u16(at + 6), {}};
  for (uint32_t i = 0; i < 8; ++i) g.data4[i] = u8(at + 8 + i);
  return g;
}

PackageWalk::PackageWalk(Bytes list) : list_(list), at_(kListHeaderSize), end_(0) {
  // The list's own length, as far as the export holds it.
  end_ = list.holds(0, kListHeaderSize) ? list.u32(16) : 0;
  if (end_ > list.size) end_ = list.size;
}

bool PackageWalk::next(Package* out) {
  if (problem_[0] != 0 || !list_.holds(at_, kPackageHeaderSize) || at_ + kPackageHeaderSize > end_) return false;
  const uint32_t header = list_.u32(at_);
  const Package p{at_, header & 0xFFFFFF, static_cast<uint8_t>(header >> 24)};
  if (p.type == kPackageEnd) return false;
  if (p.length < kPackageHeaderSize || p.length > end_ - at_) {
    sformat(problem_, kProblemCapacity, u"the package at %04Xh runs past its list", at_);
    return false;
  }
  at_ += p.length;
  *out = p;
  return true;
}

namespace {

// The string package's header: package header, HdrSize, StringInfoOffset,
// LanguageWindow[16], LanguageName, then the language's ASCII name.
constexpr uint32_t kHdrSizeAt = 4;
constexpr uint32_t kStringInfoAt = 8;
constexpr uint32_t kLanguageAt = 46;

enum class BlockKind : uint8_t { kEnd, kString, kStrings, kDuplicate, kSkip, kExt };

// One string block type: where its number field lies (a count, a string
// ID, or the extension's whole length) and how wide it is, and where its
// text starts or, for blocks without text, its size.
struct BlockRow {
  uint8_t type;
  BlockKind kind;
  uint8_t field_at;
  uint8_t field_bytes;
  uint8_t body_at;
};

constexpr BlockRow kBlocks[] = {
    {.type = 0x00, .kind = BlockKind::kEnd, .field_at = 0, .field_bytes = 0, .body_at = 1},
    {.type = 0x14, .kind = BlockKind::kString, .field_at = 0, .field_bytes = 0, .body_at = 1},  // STRING_UCS2
    {.type = 0x15, .kind = BlockKind::kString, .field_at = 0, .field_bytes = 0, .body_at = 2},  // ... with a font
    {.type = 0x16, .kind = BlockKind::kStrings, .field_at = 1, .field_bytes = 2, .body_at = 3},  // STRINGS_UCS2
    {.type = 0x17, .kind = BlockKind::kStrings, .field_at = 2, .field_bytes = 2, .body_at = 4},  // ... with a font
    {.type = 0x20, .kind = BlockKind::kDuplicate, .field_at = 1, .field_bytes = 2, .body_at = 3},
    {.type = 0x21, .kind = BlockKind::kSkip, .field_at = 1, .field_bytes = 2, .body_at = 3},  // SKIP2
    {.type = 0x22, .kind = BlockKind::kSkip, .field_at = 1, .field_bytes = 1, .body_at = 2},  // SKIP1
    {.type = 0x30, .kind = BlockKind::kExt, .field_at = 2, .field_bytes = 1, .body_at = 3},   // EXT1
    {.type = 0x31, .kind = BlockKind::kExt, .field_at = 2, .field_bytes = 2, .body_at = 4},   // EXT2
    {.type = 0x32, .kind = BlockKind::kExt, .field_at = 2, .field_bytes = 4, .body_at = 6},   // EXT4
};

// Types ascend; every number field lies inside the block's fixed part.
constexpr bool blocks_sound() {
  int previous = -1;
  for (const BlockRow& b : kBlocks) {
    if (b.type <= previous || b.body_at < 1 || b.field_at + b.field_bytes > b.body_at) return false;
    if ((b.field_bytes == 0) != (b.kind == BlockKind::kEnd || b.kind == BlockKind::kString)) return false;
    previous = b.type;
  }
  return true;
}
static_assert(blocks_sound());

const BlockRow* block_row(uint8_t type) {
  for (const BlockRow& b : kBlocks) {
    if (b.type == type) return &b;
  }
  return nullptr;
}

constexpr uint32_t kMaxStringId = 0xFFFF;

// Where the NUL-terminated UCS-2 text at `at` ends (after its NUL), or 0
// when no NUL comes before `end`.
uint32_t text_end(Bytes b, uint32_t at, uint32_t end) {
  for (; at + 2 <= end; at += 2) {
    if (b.u16(at) == 0) return at + 2;
  }
  return 0;
}

bool is_en_us(const char16_t* language) {
  const char16_t* want = u"en-us";
  for (; *want != 0; ++language, ++want) {
    const char16_t c = *language >= u'A' && *language <= u'Z' ? static_cast<char16_t>(*language + 32) : *language;
    if (c != *want) return false;
  }
  return *language == 0;
}

void read_language(Bytes list, const Package& p, char16_t (&out)[16]) {
  const uint32_t hdr_size = list.u32(p.at + kHdrSizeAt);
  const uint32_t end = p.at + (hdr_size < p.length ? hdr_size : p.length);
  int n = 0;
  for (uint32_t at = p.at + kLanguageAt; at < end && n < 15 && list.u8(at) != 0; ++at) out[n++] = list.u8(at);
  out[n] = 0;
}

class StringDecoder {
 public:
  StringDecoder(Bytes list, const Package& p, StringTable* table, char16_t* problem)
      : b_(list), end_(p.at + p.length), table_(table), problem_(problem) {
    const uint32_t info = list.u32(p.at + kStringInfoAt);
    at_ = info >= kLanguageAt && info < p.length ? p.at + info : end_;
  }
  void run();

 private:
  bool add(uint32_t offset) {
    if (table_->offsets.size() > kMaxStringId) return false;
    return table_->offsets.push(offset) || fail(u"kvq ran out of memory at string %u", next_id());
  }
  template <class... A>
  bool fail(const char16_t* fmt, const A&... args) {
    sformat(problem_, kProblemCapacity, fmt, args...);
    return false;
  }
  uint32_t next_id() const { return table_->offsets.size(); }
  // One string's text at at_: recorded, and at_ moved past its NUL.
  bool take_text() {
    const uint32_t after = text_end(b_, at_, end_);
    if (after == 0) return fail(u"the string at %04Xh runs past its package", at_);
    if (!add(at_)) return false;
    at_ = after;
    return true;
  }
  bool block();

  Bytes b_;
  uint32_t at_;
  uint32_t end_;
  StringTable* table_;
  char16_t* problem_;
};

bool StringDecoder::block() {
  const uint8_t type = b_.u8(at_);
  const BlockRow* row = block_row(type);
  if (row == nullptr) {
    return fail(u"string block %02Xh at %04Xh is not decoded: IDs from %u on are missing", type, at_, next_id());
  }
  if (at_ + row->body_at > end_) return fail(u"string block %02Xh at %04Xh runs past its package", type, at_);
  const uint32_t field = static_cast<uint32_t>(b_.number(at_ + row->field_at, row->field_bytes));
  const uint32_t start = at_;
  at_ += row->body_at;
  switch (row->kind) {
    case BlockKind::kEnd:
      return false;
    case BlockKind::kString:
      return take_text();
    case BlockKind::kStrings:
      for (uint32_t i = 0; i < field; ++i) {
        if (!take_text()) return false;
      }
      return true;
    case BlockKind::kDuplicate:
      // The same text as an earlier ID; a forward or missing one is none.
      return add(field < next_id() ? table_->offsets[field] : 0);
    case BlockKind::kSkip:
      for (uint32_t i = 0; i < field; ++i) {
        if (!add(0)) return false;
      }
      return true;
    case BlockKind::kExt:
      // Skipped whole: its length counts the block from its type byte.
      if (field < row->body_at || field > end_ - start) {
        return fail(u"string block %02Xh at %04Xh runs past its package", type, start);
      }
      at_ = start + field;
      return true;
  }
  return false;
}

void StringDecoder::run() {
  if (!add(0)) return;  // ID 0 names no string
  while (at_ < end_ && block()) {
  }
}

}  // namespace

void build_strings(Bytes list, StringTable* table, char16_t* problem) {
  problem[0] = 0;
  PackageWalk walk(list);
  Package p{};
  Package chosen{};
  bool found = false;
  bool chosen_en_us = false;
  while (walk.next(&p)) {
    if (p.type != kPackageStrings || p.length <= kLanguageAt) continue;
    char16_t language[16];
    read_language(list, p, language);
    const bool en_us = is_en_us(language);
    if (!found || (en_us && !chosen_en_us)) {
      chosen = p;
      found = true;
      chosen_en_us = en_us;
      for (int i = 0; i < 16; ++i) table->language[i] = language[i];
    }
  }
  if (found) StringDecoder(list, chosen, table, problem).run();
}

int string_text(Bytes list, const StringTable& table, uint16_t id, char16_t* out, int capacity) {
  int n = 0;
  const uint32_t at = id < table.offsets.size() ? table.offsets[id] : 0;
  // The decoder recorded only texts whose NUL lies within the list.
  for (uint32_t p = at; at != 0 && n < capacity - 1 && list.u16(p) != 0; p += 2) out[n++] = list.u16(p);
  out[n] = 0;
  return n;
}

}  // namespace kvq::hii
