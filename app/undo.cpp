#include "app/undo.h"

#include "app/setup_write.h"
#include "hw/variables.h"
#include "platform/files.h"
#include "platform/runtime.h"
#include "platform/text_out.h"

namespace kvq::undo {
namespace {

using text::Stream;

// A variable put back whole, as recorded.
bool restore_variable(const Record& r, char16_t* message, int capacity);

struct KindRow {
  Kind kind;
  const char* word;
  // Null: this kvq cannot put such a record back. Setup records go back
  // through the firmware's configuration routing, as the Setup page writes.
  Restore restore;
};
constexpr KindRow kKinds[] = {
    {Kind::kVariable, "var", restore_variable},
    {Kind::kSetup, "setup", restore_setup},
};

constexpr bool kinds_sound() {
  int i = 0;
  for (const KindRow& k : kKinds) {
    if (static_cast<int>(k.kind) != i++) return false;
  }
  return true;
}
static_assert(kinds_sound());

constexpr int kBytesPerLine = 32;
// The largest undo file `undo` reads.
constexpr size_t kMaxFileBytes = 16u << 20;

// What this run recorded: kind, GUID, name and offset, hashed (64-bit
// FNV-1a). When it is full a store is recorded again, which undo puts back
// harmlessly (the older record, applied after, wins).
constexpr int kRunSlots = 128;
constinit uint64_t g_recorded[kRunSlots] = {};
constinit int g_recorded_count = 0;

uint64_t key_of(const Record& r) {
  uint64_t h = 14695981039346656037ull;
  auto mix = [&h](uint32_t byte) { h = (h ^ byte) * 1099511628211ull; };
  mix(static_cast<uint32_t>(r.kind));
  const auto* g = reinterpret_cast<const uint8_t*>(&r.guid);
  for (size_t i = 0; i < sizeof(plat::Guid); ++i) mix(g[i]);
  for (const char16_t* c = r.name; *c != 0; ++c) mix(*c);
  for (int i = 0; i < 4; ++i) mix(r.offset >> (8 * i) & 0xFF);
  return h;
}

// --- Writing ---------------------------------------------------------------

class Ascii {
 public:
  explicit Ascii(size_t capacity) : text_(static_cast<char*>(plat::pool_allocate(capacity))), capacity_(capacity) {}
  ~Ascii() { plat::pool_free(text_); }
  Ascii(const Ascii&) = delete;
  Ascii& operator=(const Ascii&) = delete;

  bool ok() const { return text_ != nullptr; }
  const char* text() const { return text_; }
  size_t size() const { return used_; }
  void put(char c) {
    if (text_ != nullptr && used_ < capacity_) text_[used_++] = c;
  }
  void put(const char* s) {
    while (*s != 0) put(*s++);
  }
  void hex(uint32_t v, int digits) {
    for (int i = digits - 1; i >= 0; --i) put("0123456789ABCDEF"[v >> (4 * i) & 0xF]);
  }
  void put16(const char16_t* s) {
    while (*s != 0) put(static_cast<char>(*s++));
  }

 private:
  char* text_;
  size_t capacity_;
  size_t used_ = 0;
};

size_t record_bytes(const Record& r) {
  size_t name = 0;
  for (const char16_t* c = r.name; *c != 0; ++c) name += 6;
  return 96 + name + 2 * size_t{r.size} + 4 * (size_t{r.size} / kBytesPerLine + 1);
}

void write_record(const Record& r, Ascii* out) {
  char16_t guid[vars::kGuidTextSize];
  vars::guid_text(r.guid, guid, false);
  out->put(kKinds[static_cast<int>(r.kind)].word);
  out->put(' ');
  out->put16(guid);
  const uint32_t fields[] = {r.attributes, r.offset, r.size};
  for (const uint32_t field : fields) {
    out->put(' ');
    out->hex(field, 8);
  }
  out->put(' ');
  for (const char16_t* c = r.name; *c != 0; ++c) {
    if (*c == u'\\') {
      out->put("\\\\");
    } else if (*c >= 0x20 && *c <= 0x7E) {
      out->put(static_cast<char>(*c));
    } else {
      out->put("\\u");
      out->hex(*c, 4);
    }
  }
  for (uint32_t i = 0; i < r.size; ++i) {
    if (i % kBytesPerLine == 0) out->put("\r\n  ");
    out->hex(r.bytes[i], 2);
  }
  out->put("\r\n");
}

// --- Reading ---------------------------------------------------------------

struct Line {
  const char* at;
  size_t length;
};

// The line from `*pos`, without its CR LF; false at the end.
bool next_line(const char* text, size_t size, size_t* pos, Line* line) {
  if (*pos >= size) return false;
  const size_t start = *pos;
  size_t end = start;
  while (end < size && text[end] != '\n') ++end;
  *pos = end < size ? end + 1 : end;
  if (end > start && text[end - 1] == '\r') --end;
  *line = Line{text + start, end - start};
  return true;
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// `digits` hex digits from `*p` (within `end`), then a blank.
bool field(const char** p, const char* end, int digits, uint32_t* value) {
  uint32_t v = 0;
  for (int i = 0; i < digits; ++i, ++*p) {
    const int d = *p < end ? hex_digit(**p) : -1;
    if (d < 0) return false;
    v = v << 4 | static_cast<uint32_t>(d);
  }
  *value = v;
  return *p < end && *(*p)++ == ' ';
}

// A record's header, its name into `name` (pool memory, freed by the
// caller) and its bytes into `bytes` from the data lines after it.
class Parsed {
 public:
  ~Parsed() {
    plat::pool_free(name_);
    plat::pool_free(bytes_);
  }
  bool header(const Line& line);
  // Decodes the data lines that follow the header at `pos`.
  bool data(const char* text, size_t size, size_t pos);
  Record record() const {
    return Record{kind_, guid_, name_, attributes_, offset_, bytes_, size_};
  }

 private:
  Kind kind_ = Kind::kVariable;
  plat::Guid guid_{};
  uint32_t attributes_ = 0;
  uint32_t offset_ = 0;
  uint32_t size_ = 0;
  char16_t* name_ = nullptr;
  uint8_t* bytes_ = nullptr;
};

bool Parsed::header(const Line& line) {
  const char* p = line.at;
  const char* end = line.at + line.length;
  const KindRow* kind = nullptr;
  for (const KindRow& k : kKinds) {
    size_t n = 0;
    while (k.word[n] != 0 && p + n < end && p[n] == k.word[n]) ++n;
    if (k.word[n] == 0 && p + n < end && p[n] == ' ') kind = &k, p += n + 1;
    if (kind != nullptr) break;
  }
  if (kind == nullptr || end - p < 37) return false;
  char16_t guid[37];
  for (int i = 0; i < 36; ++i) guid[i] = static_cast<unsigned char>(p[i]);
  guid[36] = 0;
  p += 36;
  if (!vars::parse_guid(guid, &guid_) || *p++ != ' ') return false;
  if (!field(&p, end, 8, &attributes_) || !field(&p, end, 8, &offset_) || !field(&p, end, 8, &size_)) return false;
  kind_ = kind->kind;
  name_ = static_cast<char16_t*>(plat::pool_allocate(2 * (static_cast<size_t>(end - p) + 1)));
  if (name_ == nullptr || size_ > vars::kMaxDataBytes) return false;
  int n = 0;
  while (p < end) {
    if (*p != '\\') {
      name_[n++] = static_cast<unsigned char>(*p++);
    } else if (end - p >= 2 && p[1] == '\\') {
      name_[n++] = u'\\';
      p += 2;
    } else {
      uint32_t c = 0;
      const char* q = p + 2;
      if (end - p < 6 || p[1] != 'u') return false;
      for (; q < p + 6; ++q) {
        if (hex_digit(*q) < 0) return false;
        c = c << 4 | static_cast<uint32_t>(hex_digit(*q));
      }
      name_[n++] = static_cast<char16_t>(c);
      p = q;
    }
  }
  name_[n] = 0;
  return true;
}

bool Parsed::data(const char* text, size_t size, size_t pos) {
  bytes_ = static_cast<uint8_t*>(plat::pool_allocate(size_ > 0 ? size_ : 1));
  if (bytes_ == nullptr) return false;
  uint32_t got = 0;
  Line line;
  while (got < size_ && next_line(text, size, &pos, &line) && line.length > 2 && line.at[0] == ' ') {
    for (size_t i = 2; i + 1 < line.length && got < size_; i += 2) {
      const int hi = hex_digit(line.at[i]);
      const int lo = hex_digit(line.at[i + 1]);
      if (hi < 0 || lo < 0) return false;
      bytes_[got++] = static_cast<uint8_t>(hi << 4 | lo);
    }
  }
  return got == size_;
}

bool restore_variable(const Record& r, char16_t* message, int capacity) {
  char16_t guid[vars::kGuidTextSize];
  char16_t attributes[vars::kAttributesTextSize];
  char16_t status[32];
  vars::guid_text(r.guid, guid);
  vars::attributes_text(r.attributes, attributes);
  const vars::RestoreResult put = vars::restore(r.name, r.guid, r.attributes, r.bytes, r.size);
  vars::status_text(put.status, status);
  switch (put.outcome) {
    case vars::Outcome::kWritten:
      sformat(message, capacity, u"%s:%s %s 0x%02X bytes: %s", guid, r.name, attributes, r.size,
              !put.needed ? u"already as recorded" : put.same ? u"put back" : u"written, but it reads back otherwise");
      return put.same;
    case vars::Outcome::kReadOnly:
      sformat(message, capacity, u"%s:%s is authenticated (%s): not written", guid, r.name, attributes);
      return false;
    case vars::Outcome::kOutside:
      sformat(message, capacity, u"%s:%s: a record of 0 bytes is never written (it would delete)", guid, r.name);
      return false;
    default:
      sformat(message, capacity, u"%s:%s: SetVariable refused: %s; the variable is as it was", guid, r.name, status);
      return false;
  }
}

}  // namespace

void begin_run() { g_recorded_count = 0; }

plat::EfiStatus record_once(const Record& r) {
  const uint64_t key = key_of(r);
  for (int i = 0; i < g_recorded_count; ++i) {
    if (g_recorded[i] == key) return plat::kEfiSuccess;
  }
  Ascii out(record_bytes(r));
  if (!out.ok()) return plat::kEfiOutOfResources;
  write_record(r, &out);
  const plat::EfiStatus s = plat::append_file_beside_image(kFileName, out.text(), out.size());
  if (s == plat::kEfiSuccess && g_recorded_count < kRunSlots) g_recorded[g_recorded_count++] = key;
  return s;
}

bool record_variable_once(const char16_t* name, const plat::Guid& guid, const vars::Snapshot& original,
                          char16_t (&why)[32]) {
  const Record r{.kind = Kind::kVariable, .guid = guid, .name = name, .attributes = original.attributes,
                 .bytes = original.data, .size = original.size};
  const plat::EfiStatus s = record_once(r);
  vars::status_text(s, why);
  return s == plat::kEfiSuccess;
}

cli::Status run(const char16_t* path) {
  size_t size = 0;
  char* text = path != nullptr ? plat::read_shell_file(path, kMaxFileBytes, &size)
                               : plat::read_file_beside_image(kFileName, kMaxFileBytes, &size);
  const char16_t* shown = path != nullptr ? path : kFileName;
  if (text == nullptr) {
    text::line(Stream::kErr, u"kvq: %s cannot be read%s", shown, path != nullptr ? u"" : u" beside kvq.efi");
    return cli::Status::kUnsupported;
  }
  // Where each record's header starts, oldest first.
  int count = 0;
  size_t* headers = nullptr;
  size_t pos = 0;
  Line line;
  for (size_t at = pos; next_line(text, size, &pos, &line); at = pos) {
    if (line.length == 0 || line.at[0] == ' ' || line.at[0] == '#') continue;
    if (count % 64 == 0) {
      auto* more = static_cast<size_t*>(plat::pool_allocate(sizeof(size_t) * static_cast<size_t>(count + 64)));
      if (more != nullptr && headers != nullptr) rt::mem_copy(more, headers, sizeof(size_t) * static_cast<size_t>(count));
      plat::pool_free(headers);
      headers = more;
      if (headers == nullptr) break;
    }
    headers[count++] = at;
  }
  int failed = headers == nullptr && count > 0 ? 1 : 0;
  for (int i = headers != nullptr ? count - 1 : -1; i >= 0; --i) {
    size_t at = headers[i];
    next_line(text, size, &at, &line);
    Parsed p;
    char16_t message[200];
    bool ok = false;
    if (!p.header(line)) {
      sformat(message, 200, u"record %d: not a record kvq wrote", i + 1);
    } else if (!p.data(text, size, at)) {
      sformat(message, 200, u"record %d (%s): its bytes are cut short", i + 1, p.record().name);
    } else if (kKinds[static_cast<int>(p.record().kind)].restore == nullptr) {
      sformat(message, 200, u"record %d (%s): a %a record, which this kvq cannot put back", i + 1, p.record().name,
              kKinds[static_cast<int>(p.record().kind)].word);
    } else {
      ok = kKinds[static_cast<int>(p.record().kind)].restore(p.record(), message, 200);
    }
    if (ok) {
      text::line(Stream::kOut, u"%s", message);
    } else {
      text::line(Stream::kErr, u"kvq: %s", message);
      ++failed;
    }
  }
  if (count == 0) text::line(Stream::kOut, u"%s holds no records", shown);
  plat::pool_free(headers);
  plat::pool_free(text);
  return failed == 0 ? cli::Status::kOk : cli::Status::kUnsupported;
}

}  // namespace kvq::undo
