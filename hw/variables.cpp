#include "hw/variables.h"

#include "platform/format.h"
#include "platform/runtime.h"
#include "platform/text16.h"

namespace kvq::vars {

// The statuses, attributes and variable services.
using namespace plat;

namespace {

// The GUIDs the UEFI Shell names (dmpstore prints the name for these) that
// firmware stores variables under.
struct ShortName {
  Guid guid;
  const char16_t* name;
};
constexpr ShortName kShortNames[] = {
    {{0x8BE4DF61, 0x93CA, 0x11D2, {0xAA, 0x0D, 0x00, 0xE0, 0x98, 0x03, 0x2B, 0x8C}}, u"EFIGlobalVariable"},
    {{0x59324945, 0xEC44, 0x4C0D, {0xB1, 0xCD, 0x9D, 0xB1, 0x39, 0xDF, 0x07, 0x0C}}, u"iSCSIInitiatorName"},
    {{0x5B446ED1, 0xE30B, 0x4FAA, {0x87, 0x1A, 0x36, 0x54, 0xEC, 0xA3, 0x60, 0x80}}, u"IPv4Config2"},
    {{0x937FE521, 0x95AE, 0x4D1A, {0x89, 0x29, 0x48, 0xBC, 0xD9, 0x0A, 0xD3, 0x1A}}, u"Ip6Config"},
    {{0x9E23D768, 0xD2F3, 0x4366, {0x9F, 0xC3, 0x3A, 0x7A, 0xBA, 0x86, 0x43, 0x74}}, u"VlanConfig"},
};

constexpr bool guids_equal(const Guid& a, const Guid& b) {
  for (int i = 0; i < 8; ++i) {
    if (a.data4[i] != b.data4[i]) return false;
  }
  return a.data1 == b.data1 && a.data2 == b.data2 && a.data3 == b.data3;
}

// No GUID and no name twice; every name fits where a GUID's text stands.
constexpr bool short_names_sound() {
  for (const ShortName& a : kShortNames) {
    if (text_length(a.name) >= kGuidTextSize) return false;
    for (const ShortName& b : kShortNames) {
      if (&a != &b && (guids_equal(a.guid, b.guid) || same_text(a.name, b.name))) return false;
    }
  }
  return true;
}
static_assert(short_names_sound());

char16_t lower(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; }

bool same_text_any_case(const char16_t* a, const char16_t* b) {
  for (; *a != 0 && lower(*a) == lower(*b); ++a) ++b;
  return *a == 0 && *b == 0;
}

int hex_digit(char16_t c) {
  c = lower(c);
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  return -1;
}

// FNV-1a over the name and the GUID: the walk's quick test for a repeat.
uint32_t hash_of(const char16_t* name, const Guid& guid) {
  uint32_t h = 2166136261u;
  auto mix = [&h](uint32_t byte) { h = (h ^ byte) * 16777619u; };
  for (; *name != 0; ++name) mix(*name);
  const auto* g = reinterpret_cast<const uint8_t*>(&guid);
  for (size_t i = 0; i < sizeof(Guid); ++i) mix(g[i]);
  return h;
}

// Moves `*memory` (`used` bytes of it) to a pool block of `bytes`; false
// when the pool has none.
template <class T>
bool regrow(T** memory, size_t used, size_t bytes) {
  auto* bigger = static_cast<T*>(pool_allocate(bytes));
  if (bigger == nullptr) return false;
  if (*memory != nullptr) rt::mem_copy(bigger, *memory, used);
  pool_free(*memory);
  *memory = bigger;
  return true;
}

bool add_entry(VariableList* l, const char16_t* name, int length, const Guid& guid, uint32_t hash) {
  if (l->count == l->capacity) {
    const int more = l->capacity == 0 ? 64 : 2 * l->capacity;
    if (!regrow(&l->entries, sizeof(VariableList::Entry) * l->count, sizeof(VariableList::Entry) * more)) return false;
    l->capacity = more;
  }
  const uint32_t need = l->names_used + static_cast<uint32_t>(length) + 1;
  if (need > l->names_capacity) {
    const uint32_t more = need > 2 * l->names_capacity ? need + 1024 : 2 * l->names_capacity;
    if (!regrow(&l->names, 2 * l->names_used, 2 * size_t{more})) return false;
    l->names_capacity = more;
  }
  rt::mem_copy(l->names + l->names_used, name, 2 * (static_cast<size_t>(length) + 1));
  l->entries[l->count++] = VariableList::Entry{l->names_used, guid, hash};
  l->names_used = need;
  return true;
}

bool seen(const VariableList& l, const char16_t* name, const Guid& guid, uint32_t hash) {
  for (int i = 0; i < l.count; ++i) {
    if (l.entries[i].hash == hash && guids_equal(l.entries[i].guid, guid) && same_text(l.name(i), name)) return true;
  }
  return false;
}

// One step of the walk into `*buffer` of `*capacity` bytes, which holds the
// previous name; it grows when the firmware says the next name needs more.
EfiStatus next_name(VariableList* l, char16_t** buffer, size_t* capacity, Guid* guid) {
  for (;;) {
    size_t size = *capacity;
    ++l->firmware_calls;
    const EfiStatus s = get_next_variable_name(&size, *buffer, guid);
    if (s != kEfiBufferTooSmall) return s;
    // A firmware that asks for no more than it had, or for an absurd
    // buffer, would have the walk grow it forever.
    if (size <= *capacity || size > kMaxNameBytes) return s;
    if (!regrow(buffer, *capacity, size)) return kEfiOutOfResources;
    *capacity = size;
  }
}

uint32_t bytes_value(const uint8_t* data, uint32_t offset, int bytes) {
  uint32_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = v << 8 | data[offset + static_cast<uint32_t>(i)];
  return v;
}

}  // namespace

void walk(VariableList* list) {
  release(list);
  size_t capacity = kFirstNameBytes;
  char16_t* buffer = static_cast<char16_t*>(pool_allocate(capacity));
  if (buffer == nullptr) {
    list->end = WalkEnd::kNoMemory;
    return;
  }
  buffer[0] = 0;
  Guid guid{};
  for (;;) {
    if (list->count >= kMaxVariables) {
      list->end = WalkEnd::kTooMany;
      break;
    }
    const EfiStatus s = next_name(list, &buffer, &capacity, &guid);
    if (s == kEfiNotFound) break;
    int length = 0;
    while (s == kEfiSuccess && static_cast<size_t>(length) < capacity / 2 && buffer[length] != 0) ++length;
    if (s != kEfiSuccess || static_cast<size_t>(length) == capacity / 2) {
      list->end = s == kEfiOutOfResources ? WalkEnd::kNoMemory : WalkEnd::kFailed;
      list->status = s == kEfiSuccess ? kEfiInvalidParameter : s;  // success: a name without its NUL
      break;
    }
    const uint32_t hash = hash_of(buffer, guid);
    if (seen(*list, buffer, guid, hash)) {
      list->end = WalkEnd::kRepeated;
      break;
    }
    if (!add_entry(list, buffer, length, guid, hash)) {
      list->end = WalkEnd::kNoMemory;
      break;
    }
  }
  pool_free(buffer);
}

void release(VariableList* list) {
  pool_free(list->entries);
  pool_free(list->names);
  *list = VariableList{};
}

Info info(const char16_t* name, const Guid& guid) {
  // Attributes no firmware gives: left as they were means not told.
  constexpr uint32_t kUntold = 0xFFFFFFFFu;
  Info i{kEfiSuccess, kUntold, 0};
  size_t size = 0;
  i.status = get_variable(name, guid, &i.attributes, &size, nullptr);
  i.size = static_cast<uint32_t>(size);
  if (i.status == kEfiBufferTooSmall && i.attributes != kUntold) i.status = kEfiSuccess;
  if (i.status == kEfiBufferTooSmall) {
    Snapshot whole = read(name, guid);
    i = Info{whole.status, whole.attributes, whole.size};
    free_snapshot(&whole);
  }
  if (i.status != kEfiSuccess) i.attributes = 0;
  return i;
}

Snapshot read(const char16_t* name, const Guid& guid) {
  Snapshot s;
  size_t size = 0;
  // The variable may grow between the two calls: ask again, a few times.
  for (int tries = 0; tries < 4; ++tries) {
    s.status = get_variable(name, guid, &s.attributes, &size, s.data);
    if (s.status != kEfiBufferTooSmall) break;
    pool_free(s.data);
    s.data = nullptr;
    if (size > kMaxDataBytes) {
      s.status = kEfiOutOfResources;
      break;
    }
    s.data = static_cast<uint8_t*>(pool_allocate(size));
    if (s.data == nullptr) {
      s.status = kEfiOutOfResources;
      break;
    }
  }
  s.size = static_cast<uint32_t>(size);
  if (s.status != kEfiSuccess) free_snapshot(&s);
  return s;
}

void free_snapshot(Snapshot* s) {
  pool_free(s->data);
  s->data = nullptr;
  if (s->status != kEfiSuccess) s->size = 0;
}

void attributes_text(uint32_t attributes, char16_t (&out)[kAttributesTextSize]) {
  // dmpstore's words, in its order: RT always with BS.
  struct Word {
    uint32_t bits;
    const char16_t* text;
  };
  static constexpr Word kWords[] = {{kVarNonVolatile, u"+NV"},       {kVarRuntime, u"+RT+BS"},
                                    {kVarBootService, u"+BS"},       {kVarHardwareError, u"+HR"},
                                    {kVarAuthenticatedWrite, u"+AW"}, {kVarTimeAuthenticatedWrite, u"+AT"}};
  int n = 0;
  for (const Word& w : kWords) {
    if ((attributes & w.bits) == 0) continue;
    if (w.bits == kVarBootService && (attributes & kVarRuntime) != 0) continue;
    n += sformat(out + n, kAttributesTextSize - n, u"%s", w.text);
  }
  sformat(out, kAttributesTextSize, u"%s", n == 0 ? u"Invalid" : out + 1);
}

void guid_text(const Guid& guid, char16_t (&out)[kGuidTextSize], bool short_name) {
  for (const ShortName& s : kShortNames) {
    if (short_name && guids_equal(s.guid, guid)) {
      sformat(out, kGuidTextSize, u"%s", s.name);
      return;
    }
  }
  const uint8_t* d = guid.data4;
  sformat(out, kGuidTextSize, u"%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X", guid.data1, guid.data2,
          guid.data3, d[0], d[1], d[2], d[3], d[4], d[5], d[6], d[7]);
}

bool parse_guid(const char16_t* text, Guid* guid) {
  for (const ShortName& s : kShortNames) {
    if (same_text_any_case(text, s.name)) {
      *guid = s.guid;
      return true;
    }
  }
  // 8-4-4-4-12 hexadecimal digits.
  if (text_length(text) != 36) return false;
  uint8_t bytes[16] = {};
  int n = 0;
  for (int i = 0; i < 36; ++i) {
    const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
    if (dash != (text[i] == u'-')) return false;
    if (dash) continue;
    const int d = hex_digit(text[i]);
    if (d < 0) return false;
    bytes[n / 2] = static_cast<uint8_t>(bytes[n / 2] << 4 | d);
    ++n;
  }
  guid->data1 = static_cast<uint32_t>(bytes[0]) << 24 | bytes[1] << 16 | bytes[2] << 8 | bytes[3];
  guid->data2 = static_cast<uint16_t>(bytes[4] << 8 | bytes[5]);
  guid->data3 = static_cast<uint16_t>(bytes[6] << 8 | bytes[7]);
  for (int i = 0; i < 8; ++i) guid->data4[i] = bytes[8 + i];
  return true;
}

void status_text(EfiStatus status, char16_t (&out)[32]) { plat::efi_status_text(status, out, 32); }

ChangeResult change(const char16_t* name, const Guid& guid, uint32_t offset, int bytes, uint32_t value,
                    BeforeWrite before_write, void* context) {
  ChangeResult r{Outcome::kReadFailed, kEfiSuccess, 0, kEfiSuccess};
  Snapshot s = read(name, guid);
  r.status = s.status;
  if (s.status != kEfiSuccess) return r;
  if (authenticated(s.attributes)) {
    r.outcome = Outcome::kReadOnly;
  } else if (s.size == 0 || offset >= s.size || s.size - offset < static_cast<uint32_t>(bytes)) {
    r.outcome = Outcome::kOutside;
  } else if (before_write != nullptr && !before_write(name, guid, s, context)) {
    r.outcome = Outcome::kCancelled;
  } else {
    for (int i = 0; i < bytes; ++i) s.data[offset + static_cast<uint32_t>(i)] = static_cast<uint8_t>(value >> (8 * i));
    r.status = set_variable(name, guid, s.attributes, s.size, s.data);
    r.outcome = r.status == kEfiSuccess ? Outcome::kWritten : Outcome::kRefused;
  }
  free_snapshot(&s);
  if (r.outcome != Outcome::kWritten && r.outcome != Outcome::kRefused) return r;
  Snapshot after = read(name, guid);
  r.reread = after.status;
  if (after.status == kEfiSuccess && offset < after.size && after.size - offset >= static_cast<uint32_t>(bytes)) {
    r.value = bytes_value(after.data, offset, bytes);
  }
  free_snapshot(&after);
  return r;
}

RestoreResult restore(const char16_t* name, const Guid& guid, uint32_t attributes, const uint8_t* data,
                      uint32_t size) {
  if (size == 0) return RestoreResult{Outcome::kOutside, kEfiInvalidParameter, false, false};
  if (authenticated(attributes)) return RestoreResult{Outcome::kReadOnly, kEfiSecurityViolation, false, false};
  auto holds = [&]() {
    Snapshot now = read(name, guid);
    const bool same = now.status == kEfiSuccess && now.size == size && now.attributes == attributes &&
                      rt::mem_compare(now.data, data, size) == 0;
    free_snapshot(&now);
    return same;
  };
  if (holds()) return RestoreResult{Outcome::kWritten, kEfiSuccess, true, false};
  const EfiStatus s = set_variable(name, guid, attributes, size, data);
  if (s != kEfiSuccess) return RestoreResult{Outcome::kRefused, s, false, true};
  return RestoreResult{Outcome::kWritten, s, holds(), true};
}

}  // namespace kvq::vars
