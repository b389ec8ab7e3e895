#include "hw/setup.h"

#include "hw/hii_config.h"
#include "hw/variables.h"
#include "platform/format.h"
#include "platform/text16.h"

namespace kvq::setup {

void Db::release() {
  for (uint32_t i = 0; i < values.size(); ++i) {
    plat::pool_free(values[i].bytes);
    plat::pool_free(values[i].known);
  }
  values.release();
  model.release();
  plat::hii_release(&exported);
  loaded = false;
  database = false;
}

bool load(Db& db) {
  if (db.loaded) return db.database;
  db.loaded = true;
  db.database = plat::hii_export(&db.exported);
  for (int i = 0; i < db.exported.count; ++i) hii::add_list(db.model, db.exported.lists[i]);
  for (uint32_t s = 0; s < db.model.stores.size(); ++s) {
    const uint16_t size = db.model.stores[s].size;
    StoreValues v{nullptr, nullptr, plat::kEfiNotFound, nullptr};
    if (size > 0) {
      v.bytes = static_cast<uint8_t*>(plat::pool_allocate(size));
      v.known = static_cast<uint8_t*>(plat::pool_allocate(size));
      if (v.bytes == nullptr || v.known == nullptr) {
        plat::pool_free(v.bytes);
        plat::pool_free(v.known);
        v = StoreValues{nullptr, nullptr, plat::kEfiOutOfResources, nullptr};
      }
    }
    if (!db.values.push(v)) break;
  }
  return db.database;
}

namespace {

// Drivers that answer only to another NAME than their form's variable
// store gives. EDK II's OVMF PlatformDxe of 2022 compares a request's NAME
// with its variable's name, PlatformConfig, where its form names the store
// MainFormState, and refuses the form's own name with EFI_NOT_FOUND (so
// does the firmware's Setup browser, which sends the form's name). kvq
// tries the form's name first, and a row's name only after that refusal.
struct DriverName {
  plat::Guid guid;
  const char16_t* form_name;
  const char16_t* driver_name;
};

constexpr DriverName kDriverNames[] = {
    {.guid = {0x7235C51C, 0x0C80, 0x4CAB, {0x87, 0xAC, 0x3B, 0x08, 0x4A, 0x63, 0x04, 0xB1}},
     .form_name = u"MainFormState",
     .driver_name = u"PlatformConfig"},
};

constexpr bool driver_names_sound() {
  for (const DriverName& d : kDriverNames) {
    if (text_length(d.form_name) == 0 || text_length(d.driver_name) == 0 || same_text(d.form_name, d.driver_name)) {
      return false;
    }
  }
  return true;
}
static_assert(driver_names_sound());

const char16_t* driver_name(const hii::Model& m, const hii::Store& s) {
  char16_t name[256];
  hii::store_name(m, s, name, 256);
  for (const DriverName& d : kDriverNames) {
    if (plat::same_guid(d.guid, s.guid) && same_text(d.form_name, name)) return d.driver_name;
  }
  return nullptr;
}

uint32_t place(const Db& db, const hii::Question& q) {
  return db.model.stores[static_cast<uint32_t>(q.store)].kind == hii::StoreKind::kNameValue ? q.slot : q.offset;
}

struct Reader {
  Db* db;
  uint32_t store;
};

bool same_name(const hii::Model& m, const hii::Question& q, const hii::Element& e) {
  char16_t name[64];
  const int n = hii::text(m, m.formsets[q.formset].list, q.offset, name, 64);
  if (static_cast<uint32_t>(n) != e.name_length) return false;
  for (int i = 0; i < n; ++i) {
    if (name[i] != e.name[i]) return false;
  }
  return true;
}

// One element of the results into the store's bytes: a block where it
// lies inside the store, a named value into its question's slot.
void take(void* ctx, const hii::Element& e) {
  Reader& r = *static_cast<Reader*>(ctx);
  const hii::Model& m = r.db->model;
  const hii::Store& s = m.stores[r.store];
  StoreValues& v = r.db->values[r.store];
  uint32_t at = e.offset;
  uint32_t width = e.width;
  if (e.name != nullptr) {
    width = 0;
    for (uint32_t i = 0; i < m.questions.size() && width == 0; ++i) {
      const hii::Question& q = m.questions[i];
      if (q.store == static_cast<int32_t>(r.store) && same_name(m, q, e)) {
        at = q.slot;
        width = q.width;
      }
    }
  }
  if (v.bytes == nullptr || width == 0 || at > s.size || width > s.size - at) return;
  hii::decode_value(e.hex, e.digits, v.bytes + at, width);
  for (uint32_t i = 0; i < width; ++i) v.known[at + i] = 1;
}

void add_element(const Db& db, const hii::Question& q, hii::PoolText* request) {
  if (db.model.stores[static_cast<uint32_t>(q.store)].kind == hii::StoreKind::kNameValue) {
    hii::request_name(db.model, q, request);
  } else {
    hii::request_block(q.offset, q.width, request);
  }
}

// One ExtractConfig for the store's questions: all of them (only < 0), or
// the one `only`.
plat::EfiStatus read_store(Db& db, uint32_t s, int64_t only) {
  const hii::Model& m = db.model;
  hii::PoolText request;
  hii::config_header(m, m.stores[s], db.values[s].driver_name, &request);
  int count = 0;
  for (uint32_t i = 0; i < m.questions.size(); ++i) {
    const hii::Question& q = m.questions[i];
    if (q.store != static_cast<int32_t>(s) || (only >= 0 && static_cast<int64_t>(i) != only) || reach(db, q) != Reach::kReachable) continue;
    add_element(db, q, &request);
    ++count;
  }
  plat::EfiStatus status = plat::kEfiSuccess;
  const char16_t* text = request.text();
  if (count > 0 && text == nullptr) status = plat::kEfiOutOfResources;
  if (count > 0 && text != nullptr) {
    char16_t* results = nullptr;
    size_t progress = 0;
    status = plat::hii_extract_config(text, &results, &progress);
    Reader r{&db, s};
    if (results != nullptr) hii::parse_results(results, take, &r);
    plat::hii_free_results(results);
  }
  request.release();
  return status;
}

}  // namespace

namespace {

// read_store, and when the driver refuses the store's own name, again with
// the name it answers to, which later requests then carry.
plat::EfiStatus read_named(Db& db, uint32_t s, int64_t only) {
  StoreValues& v = db.values[s];
  plat::EfiStatus status = read_store(db, s, only);
  if (status == plat::kEfiNotFound && v.driver_name == nullptr) {
    v.driver_name = driver_name(db.model, db.model.stores[s]);
    if (v.driver_name != nullptr) status = read_store(db, s, only);
    if (plat::efi_failed(status)) v.driver_name = nullptr;
  }
  return status;
}

}  // namespace

void read_values(Db& db) {
  const hii::Model& m = db.model;
  for (uint32_t s = 0; s < db.values.size(); ++s) {
    StoreValues& v = db.values[s];
    if (v.known == nullptr) continue;
    for (uint32_t i = 0; i < m.stores[s].size; ++i) v.known[i] = 0;
    v.status = read_named(db, s, -1);
    if (!plat::efi_failed(v.status)) continue;
    for (uint32_t i = 0; i < m.questions.size(); ++i) {
      if (m.questions[i].store == static_cast<int32_t>(s)) read_store(db, s, i);
    }
  }
}

Reach reach(const Db& db, const hii::Question& q) {
  if (q.store < 0) return Reach::kNoStore;
  if (q.bit_field) return Reach::kBitField;
  const hii::Store& s = db.model.stores[static_cast<uint32_t>(q.store)];
  const uint32_t at = place(db, q);
  if (q.width == 0 || at > s.size || q.width > s.size - at) return Reach::kBeyondStore;
  if (db.model.lists[db.model.formsets[q.formset].list].path == nullptr) return Reach::kNoPath;
  return Reach::kReachable;
}

const char16_t* reach_text(Reach r) {
  constexpr const char16_t* kTexts[] = {
      u"",
      u"it has no variable store",
      u"its storage is counted in bits",
      u"it lies beyond its variable store",
      u"its driver handle has no device path",
  };
  return kTexts[static_cast<int>(r)];
}

const uint8_t* raw_value(const Db& db, const hii::Question& q) {
  if (reach(db, q) != Reach::kReachable || static_cast<uint32_t>(q.store) >= db.values.size()) return nullptr;
  const StoreValues& v = db.values[static_cast<uint32_t>(q.store)];
  const uint32_t at = place(db, q);
  if (v.known == nullptr) return nullptr;
  for (uint32_t i = 0; i < q.width; ++i) {
    if (v.known[at + i] == 0) return nullptr;
  }
  return v.bytes + at;
}

bool value(const Db& db, const hii::Question& q, uint64_t* v) {
  const uint8_t* bytes = raw_value(db, q);
  if (bytes == nullptr || q.width > 8) return false;
  *v = 0;
  for (uint32_t i = q.width; i > 0; --i) *v = *v << 8 | bytes[i - 1];
  return true;
}

namespace {

// A condition's question, by its ID within the form set.
bool value_of(void* ctx, uint32_t formset, uint16_t id, uint64_t* v) {
  const Db& db = *static_cast<const Db*>(ctx);
  const hii::FormSet& fs = db.model.formsets[formset];
  for (uint32_t i = fs.first_question; i < fs.end_question; ++i) {
    const hii::Question& q = db.model.questions[i];
    if (q.formset == formset && q.id == id) return value(db, q, v);
  }
  return false;
}

}  // namespace

hii::Shown shown(const Db& db, const hii::Question& q) {
  return hii::outcome(db.model, q.condition, q.formset, value_of, const_cast<Db*>(&db));
}

hii::Shown option_shown(const Db& db, const hii::Question& q, const hii::Option& o) {
  return hii::outcome(db.model, o.condition, q.formset, value_of, const_cast<Db*>(&db));
}

void value_text(const Db& db, const hii::Question& q, char16_t* out, int capacity) {
  const uint8_t* bytes = raw_value(db, q);
  uint64_t v = 0;
  out[0] = 0;
  if (bytes == nullptr) {
    sformat(out, capacity, u"?");
    return;
  }
  const uint32_t list = db.model.formsets[q.formset].list;
  switch (q.kind) {
    case hii::Kind::kOneOf:
      value(db, q, &v);
      for (uint32_t i = 0; i < q.option_count; ++i) {
        const hii::Option& o = db.model.options[q.first_option + i];
        if (o.value == v && hii::text(db.model, list, o.text, out, capacity) > 0) return;
      }
      sformat(out, capacity, u"0x%X", v);
      return;
    case hii::Kind::kCheckBox:
      value(db, q, &v);
      sformat(out, capacity, v != 0 ? u"[X]" : u"[ ]");
      return;
    case hii::Kind::kNumeric: {
      value(db, q, &v);
      const uint8_t display = q.type_flags & hii::kDisplayMask;
      if (display == hii::kDisplayHex) {
        sformat(out, capacity, u"0x%X", v);
      } else if (display == hii::kDisplaySigned && q.width < 8 && (v >> (8 * q.width - 1)) != 0) {
        sformat(out, capacity, u"-%u", (uint64_t{1} << (8 * q.width)) - v);  // two's complement
      } else if (display == hii::kDisplaySigned && q.width == 8 && (v >> 63) != 0) {
        sformat(out, capacity, u"-%u", ~v + 1);
      } else {
        sformat(out, capacity, u"%u", v);
      }
      return;
    }
    case hii::Kind::kString: {
      int n = 0;
      for (uint32_t i = 0; i + 1 < q.width && n < capacity - 1; i += 2) {
        const char16_t c = static_cast<char16_t>(bytes[i] | bytes[i + 1] << 8);
        if (c == 0) break;
        out[n++] = c < 0x20 ? u'.' : c;
      }
      out[n] = 0;
      return;
    }
    case hii::Kind::kOrderedList: {
      int n = 0;
      for (uint32_t i = 0; i < q.width && n + 3 < capacity; ++i) n += sformat(out + n, capacity - n, u"%02X ", bytes[i]);
      if (n > 0) out[n - 1] = 0;
      return;
    }
  }
}

bool writable_kind(const hii::Question& q) {
  return q.kind == hii::Kind::kOneOf || q.kind == hii::Kind::kCheckBox || q.kind == hii::Kind::kNumeric;
}

namespace {

// A value of `width` bytes as a signed number.
int64_t signed_of(uint64_t v, uint32_t width) {
  const int shift = 64 - 8 * static_cast<int>(width);
  return static_cast<int64_t>(v << shift) >> shift;
}

}  // namespace

bool allows(const Db& db, const hii::Question& q, uint64_t value) {
  if (q.width < 8 && (value >> (8 * q.width)) != 0) return false;
  switch (q.kind) {
    case hii::Kind::kOneOf:
      for (uint32_t i = 0; i < q.option_count; ++i) {
        if (db.model.options[q.first_option + i].value == value) return true;
      }
      return false;
    case hii::Kind::kCheckBox:
      return value <= 1;
    case hii::Kind::kNumeric:
      if ((q.type_flags & hii::kDisplayMask) == hii::kDisplaySigned) {
        const int64_t v = signed_of(value, q.width);
        return v >= signed_of(q.min, q.width) && v <= signed_of(q.max, q.width);
      }
      return value >= q.min && value <= q.max;
    default:
      return false;
  }
}

int32_t find_question(const Db& db, const plat::Guid& formset, const char16_t* store, uint32_t offset) {
  const hii::Model& m = db.model;
  for (uint32_t i = 0; i < m.questions.size(); ++i) {
    const hii::Question& q = m.questions[i];
    if (q.store < 0 || q.offset != offset || !plat::same_guid(m.formsets[q.formset].guid, formset)) continue;
    const hii::Store& s = m.stores[static_cast<uint32_t>(q.store)];
    char16_t name[256];
    hii::store_name(m, s, name, 256);
    if (s.kind != hii::StoreKind::kNameValue && same_text(name, store)) return static_cast<int32_t>(i);
  }
  return -1;
}

WriteResult put_bytes(Db& db, uint32_t index, const uint8_t* bytes, BeforeWrite before, void* ctx) {
  const hii::Question& q = db.model.questions[index];
  WriteResult r{Outcome::kUnreachable, plat::kEfiSuccess, 0, false, 0};
  if (reach(db, q) != Reach::kReachable || q.width > kMaxWriteBytes || static_cast<uint32_t>(q.store) >= db.values.size() ||
      db.model.stores[static_cast<uint32_t>(q.store)].kind == hii::StoreKind::kNameValue) {
    return r;
  }
  const uint32_t s = static_cast<uint32_t>(q.store);
  // The bytes as the firmware holds them now, not as the page last read.
  r.status = read_named(db, s, index);
  const uint8_t* now = raw_value(db, q);
  if (now == nullptr) {
    r.outcome = Outcome::kReadFailed;
    return r;
  }
  uint8_t old[kMaxWriteBytes];
  for (uint32_t i = 0; i < q.width; ++i) old[i] = now[i];
  if (before != nullptr && !before(db, q, old, ctx)) {
    r.outcome = Outcome::kCancelled;
    return r;
  }
  // A <ConfigResp> for exactly the question's bytes in its store.
  hii::PoolText config;
  hii::config_header(db.model, db.model.stores[s], db.values[s].driver_name, &config);
  hii::value_block(q.offset, bytes, q.width, &config);
  const char16_t* text = config.text();
  r.status = text != nullptr ? plat::hii_route_config(text, &r.progress) : plat::kEfiOutOfResources;
  config.release();
  r.outcome = plat::efi_failed(r.status) ? Outcome::kRefused : Outcome::kWritten;
  // Read back, whatever RouteConfig said.
  read_named(db, s, index);
  r.read_back = value(db, q, &r.value);
  return r;
}

WriteResult write(Db& db, uint32_t index, uint64_t value, BeforeWrite before, void* ctx) {
  const hii::Question& q = db.model.questions[index];
  WriteResult r{Outcome::kNotAllowed, plat::kEfiSuccess, 0, false, 0};
  if ((q.flags & hii::kReadOnly) != 0) {
    r.outcome = Outcome::kReadOnly;
  } else if (!writable_kind(q) ||
             (q.store >= 0 && db.model.stores[static_cast<uint32_t>(q.store)].kind == hii::StoreKind::kNameValue)) {
    r.outcome = Outcome::kNotWritable;
  } else if (reach(db, q) != Reach::kReachable) {
    r.outcome = Outcome::kUnreachable;
  } else if (allows(db, q, value)) {
    uint8_t bytes[kMaxWriteBytes];
    for (uint32_t i = 0; i < q.width; ++i) bytes[i] = static_cast<uint8_t>(value >> (8 * i));
    r = put_bytes(db, index, bytes, before, ctx);
  }
  return r;
}

void problem_text(const Db& db, uint32_t list, char16_t* out, int capacity) {
  const hii::List& l = db.model.lists[list];
  out[0] = 0;
  if (l.problem[0] == 0) return;
  char16_t guid[vars::kGuidTextSize];
  vars::guid_text(l.guid, guid, false);
  sformat(out, capacity, u"Package list %s: %s", guid, l.problem);
}

}  // namespace kvq::setup
