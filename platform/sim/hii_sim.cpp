// The simulated board's HII database and configuration routing, behind the
// seam of platform/hii.h. Its string handling is its own, written from the
// configuration string syntax, so that a test compares kvq's strings with
// an independent reading of them.
#include "platform/sim/hii_sim.h"

#include <cstring>

#include "platform/hii.h"
#include "platform/sim/board.h"

namespace kvq::sim {
namespace {

int digit(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

bool hex_bytes(const std::u16string& s, std::vector<uint8_t>* out) {
  out->clear();
  if (s.size() % 2 != 0) return false;
  for (size_t i = 0; i < s.size(); i += 2) {
    const int hi = digit(s[i]);
    const int lo = digit(s[i + 1]);
    if (hi < 0 || lo < 0) return false;
    out->push_back(static_cast<uint8_t>(hi << 4 | lo));
  }
  return true;
}

bool hex_number(const std::u16string& s, uint64_t* v) {
  *v = 0;
  for (char16_t c : s) {
    if (digit(c) < 0) return false;
    *v = *v << 4 | static_cast<uint64_t>(digit(c));
  }
  return !s.empty();
}

std::u16string hex(uint64_t v, int digits) {
  std::u16string s;
  for (int i = digits - 1; i >= 0; --i) s += u"0123456789abcdef"[(v >> (4 * i)) & 0xF];
  return s;
}

std::u16string hex_of(const std::vector<uint8_t>& bytes, bool reversed) {
  std::u16string s;
  for (size_t i = 0; i < bytes.size(); ++i) s += hex(bytes[reversed ? bytes.size() - 1 - i : i], 2);
  return s;
}

struct Token {
  std::u16string key;
  std::u16string value;
  bool has_value;
  size_t at;  // index of its first character
};

std::vector<Token> tokens(const std::u16string& s) {
  std::vector<Token> out;
  size_t start = 0;
  while (start <= s.size()) {
    size_t end = s.find(u'&', start);
    if (end == std::u16string::npos) end = s.size();
    const std::u16string t = s.substr(start, end - start);
    const size_t eq = t.find(u'=');
    out.push_back(eq == std::u16string::npos ? Token{t, u"", false, start}
                                             : Token{t.substr(0, eq), t.substr(eq + 1), true, start});
    start = end + 1;
  }
  return out;
}

std::vector<uint8_t> guid_bytes(const plat::Guid& g) {
  std::vector<uint8_t> b(16);
  std::memcpy(b.data(), &g, 16);
  return b;
}

// The store a header names, or null; `first` gets the index of the first
// token after the header.
SimStore* find(HiiModel& m, const std::vector<Token>& t, size_t* first) {
  std::vector<uint8_t> guid;
  std::vector<uint8_t> name;
  std::vector<uint8_t> path;
  if (t.size() < 3 || t[0].key != u"GUID" || t[1].key != u"NAME" || t[2].key != u"PATH" || !hex_bytes(t[0].value, &guid) ||
      guid.size() != 16 || !hex_bytes(t[1].value, &name) || name.size() % 2 != 0 || !hex_bytes(t[2].value, &path)) {
    return nullptr;
  }
  std::u16string text;
  for (size_t i = 0; i < name.size(); i += 2) text += static_cast<char16_t>(name[i] << 8 | name[i + 1]);
  for (SimStore& s : m.stores) {
    if (guid_bytes(s.guid) == guid && s.name == text && s.path == path) {
      *first = 3;
      return &s;
    }
  }
  return nullptr;
}

std::u16string header(const SimStore& s) {
  std::u16string name;
  for (char16_t c : s.name) name += hex(c, 4);
  return u"GUID=" + hex_of(guid_bytes(s.guid), false) + u"&NAME=" + name + u"&PATH=" + hex_of(s.path, false);
}

}  // namespace

SimStore* HiiModel::store(const plat::Guid& guid, const std::u16string& name) {
  for (SimStore& s : stores) {
    if (plat::same_guid(s.guid, guid) && s.name == name) return &s;
  }
  return nullptr;
}

namespace {

// The store a request or response names and the index of its first
// element; EFI_NOT_FOUND for none, the store's refusal (Progress at its
// first element) for a driver that refuses.
plat::EfiStatus open_store(HiiModel& m, const std::vector<Token>& t, size_t text_size, bool write, SimStore** s,
                           size_t* i, size_t* progress) {
  *i = 0;
  *s = find(m, t, i);
  *progress = 0;
  if (*s == nullptr) return plat::kEfiNotFound;
  const plat::EfiStatus refusal = write ? (*s)->refuse_writes : (*s)->refuse_reads;
  if (refusal != plat::kEfiSuccess) *progress = *i < t.size() ? t[*i].at : text_size;
  return refusal;
}

}  // namespace

plat::EfiStatus HiiModel::extract(const std::u16string& request, std::u16string* results, size_t* progress) {
  requests.push_back(request);
  const std::vector<Token> t = tokens(request);
  size_t i = 0;
  SimStore* s = nullptr;
  if (const plat::EfiStatus st = open_store(*this, t, request.size(), false, &s, &i, progress); st != plat::kEfiSuccess) {
    return st;
  }
  std::u16string out = header(*s);
  for (; i < t.size(); ++i) {
    uint64_t offset = 0;
    uint64_t width = 0;
    if (t[i].key == u"OFFSET" && i + 1 < t.size() && hex_number(t[i].value, &offset) && t[i + 1].key == u"WIDTH" &&
        hex_number(t[i + 1].value, &width) && offset + width <= s->bytes.size() && width > 0) {
      const std::vector<uint8_t> v(s->bytes.begin() + static_cast<long>(offset),
                                   s->bytes.begin() + static_cast<long>(offset + width));
      out += u"&OFFSET=" + hex(offset, 4) + u"&WIDTH=" + hex(width, 4) + u"&VALUE=" + hex_of(v, true);
      ++i;
    } else if (!t[i].has_value && s->named.count(t[i].key) != 0) {
      out += u"&" + t[i].key + u"=" + hex_of(s->named[t[i].key], true);
    } else {
      *progress = t[i].at;
      return plat::kEfiInvalidParameter;
    }
  }
  // As EDK II's routing does, the defaults follow in a section of their
  // own, with values that differ from the current ones.
  out += u"&" + header(*s) + u"&ALTCFG=0000&OFFSET=0000&WIDTH=0001&VALUE=ee";
  *results = out;
  return plat::kEfiSuccess;
}

plat::EfiStatus HiiModel::route(const std::u16string& config, size_t* progress) {
  responses.push_back(config);
  const std::vector<Token> t = tokens(config);
  size_t i = 0;
  SimStore* s = nullptr;
  if (const plat::EfiStatus st = open_store(*this, t, config.size(), true, &s, &i, progress); st != plat::kEfiSuccess) {
    return st;
  }
  for (; i < t.size(); ++i) {
    uint64_t offset = 0;
    uint64_t width = 0;
    std::vector<uint8_t> value;
    if (t[i].key == u"OFFSET" && i + 2 < t.size() && hex_number(t[i].value, &offset) && t[i + 1].key == u"WIDTH" &&
        hex_number(t[i + 1].value, &width) && t[i + 2].key == u"VALUE" && hex_bytes(t[i + 2].value, &value) &&
        value.size() == width && offset + width <= s->bytes.size()) {
      for (size_t k = 0; k < width; ++k) s->bytes[offset + k] = value[width - 1 - k];
      i += 2;
    } else if (t[i].has_value && s->named.count(t[i].key) != 0 && hex_bytes(t[i].value, &value) &&
               value.size() == s->named[t[i].key].size()) {
      s->named[t[i].key].assign(value.rbegin(), value.rend());
    } else {
      *progress = t[i].at;
      return plat::kEfiInvalidParameter;
    }
  }
  return plat::kEfiSuccess;
}

}  // namespace kvq::sim

namespace kvq::plat {
namespace {

sim::HiiModel* model() {
  sim::HiiModel* m = sim::board().hii.get();
  return m != nullptr && !m->no_database ? m : nullptr;
}

template <class T>
T* pool_copy(const T* data, size_t count) {
  auto* copy = static_cast<T*>(pool_allocate(count * sizeof(T)));
  if (copy != nullptr && count > 0) std::memcpy(copy, data, count * sizeof(T));
  return copy;
}

}  // namespace

bool hii_export(HiiPackageLists* out) {
  *out = HiiPackageLists{};
  sim::HiiModel* m = model();
  if (m == nullptr) return false;
  out->lists = static_cast<HiiPackageList*>(pool_allocate(m->lists.size() * sizeof(HiiPackageList)));
  for (const sim::SimPackageList& l : m->lists) {
    HiiPackageList& p = out->lists[out->count++];
    p = HiiPackageList{static_cast<uintptr_t>(out->count), pool_copy(l.data.data(), l.data.size()),
                       static_cast<uint32_t>(l.data.size()), nullptr, 0};
    if (!l.path.empty()) {
      p.path = pool_copy(l.path.data(), l.path.size());
      p.path_size = static_cast<uint32_t>(l.path.size());
    }
    out->total_bytes += p.size;
  }
  return true;
}

void hii_release(HiiPackageLists* lists) {
  for (int i = 0; i < lists->count; ++i) {
    pool_free(const_cast<uint8_t*>(lists->lists[i].data));
    pool_free(const_cast<uint8_t*>(lists->lists[i].path));
  }
  pool_free(lists->lists);
  *lists = HiiPackageLists{};
}

EfiStatus hii_extract_config(const char16_t* request, char16_t** results, size_t* progress) {
  *results = nullptr;
  *progress = 0;
  sim::HiiModel* m = model();
  if (m == nullptr) return kEfiUnsupported;
  std::u16string answer;
  const EfiStatus s = m->extract(request, &answer, progress);
  if (s == kEfiSuccess) *results = pool_copy(answer.c_str(), answer.size() + 1);
  return s;
}

void hii_free_results(char16_t* results) { pool_free(results); }

EfiStatus hii_route_config(const char16_t* config, size_t* progress) {
  *progress = 0;
  sim::HiiModel* m = model();
  return m == nullptr ? kEfiUnsupported : m->route(config, progress);
}

}  // namespace kvq::plat
