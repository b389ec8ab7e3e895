#include "data/pci_ids_file.h"

#include "platform/firmware.h"

namespace kvq::pci_ids {
namespace {

// Far more than any pci.ids (1.3 MB in 2023); a longer file is read up to
// here and its lines up to the cut are taken.
constexpr size_t kMaxFileSize = 8u << 20;

bool is_blank(char c) { return c == ' ' || c == '\t'; }

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Where the line that holds text[at] ends: its '\n', or the end of the text.
size_t line_end(const char* text, size_t at, size_t size) {
  while (at < size && text[at] != '\n') ++at;
  return at;
}

// The ID of "hhhh" followed by a blank at text[at], or -1.
int32_t parse_id(const char* text, size_t at, size_t size) {
  if (size - at < 5) return -1;
  int32_t id = 0;
  for (size_t i = at; i < at + 4; ++i) {
    const int v = hex_value(text[i]);
    if (v < 0) return -1;
    id = id << 4 | v;
  }
  return is_blank(text[at + 4]) ? id : -1;
}

struct Name {
  size_t begin;  // where the NUL-terminated name now starts
  size_t next;   // where the next line starts
  bool ok;       // a name, not empty, in a line no longer than kMaxLine
};

// The name that starts after the ID at text[at], to the line's end, made
// ASCII in place while the line is read: one pass over each byte, which
// matters under emulation with a megabyte and a half to read at start-up.
// Control characters mean binary junk, which is no name; a CR counts as a
// blank, so CR LF line ends go with the trailing blanks.
Name take_name(char* text, size_t line_begin, size_t at, size_t size) {
  while (at < size && is_blank(text[at])) ++at;
  const size_t begin = at;
  size_t out = at;
  size_t kept = at;  // end of the name without its trailing blanks
  bool junk = false;
  bool in_wide = false;
  for (; at < size && text[at] != '\n'; ++at) {
    const auto c = static_cast<uint8_t>(text[at]);
    if (c >= 0x80) {
      // One '?' for a UTF-8 lead byte and its continuation bytes.
      if (!in_wide || (c & 0xC0) != 0x80) {
        text[out++] = '?';
        kept = out;
      }
      in_wide = true;
      continue;
    }
    in_wide = false;
    if (c == '\t' || c == '\r' || c == ' ') {
      text[out++] = ' ';
    } else if (c < 0x20 || c == 0x7F) {
      junk = true;
    } else {
      text[out++] = static_cast<char>(c);
      kept = out;
    }
  }
  const size_t end = at;
  text[kept] = '\0';
  return Name{begin, end + 1, !junk && kept > begin && end - line_begin <= kMaxLine};
}

bool before(const Entry& a, const Entry& b) { return a.key < b.key || (a.key == b.key && a.name < b.name); }

// Heap sort: no recursion, no extra memory, no bad cases. Ties go by the
// name's place in the file, so the first of a repeated key comes first.
void sift_down(Entry* e, uint32_t root, uint32_t count) {
  for (;;) {
    uint32_t child = 2 * root + 1;
    if (child >= count) return;
    if (child + 1 < count && before(e[child], e[child + 1])) ++child;
    if (!before(e[root], e[child])) return;
    const Entry t = e[root];
    e[root] = e[child];
    e[child] = t;
    root = child;
  }
}

void sort(Entry* e, uint32_t count) {
  // pci.ids keeps itself sorted: then there is nothing to do.
  uint32_t sorted = 1;
  while (sorted < count && !before(e[sorted], e[sorted - 1])) ++sorted;
  if (sorted >= count) return;
  for (uint32_t i = count / 2; i-- > 0;) sift_down(e, i, count);
  for (uint32_t end = count; end-- > 1;) {
    const Entry t = e[0];
    e[0] = e[end];
    e[end] = t;
    sift_down(e, 0, end);
  }
}

const char* find(const char* text, const Entry* entries, uint32_t count, uint32_t key) {
  uint32_t lo = 0;
  uint32_t hi = count;
  while (lo < hi) {
    const uint32_t mid = lo + (hi - lo) / 2;
    if (entries[mid].key < key) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  return lo < count && entries[lo].key == key ? text + entries[lo].name : nullptr;
}

constinit Index g_index = {};
constinit bool g_loaded = false;
constinit char* g_text = nullptr;
constinit Entry* g_entries = nullptr;

}  // namespace

size_t max_entries(size_t size) { return size / 6 + 1; }

Index build(char* text, size_t size, Entry* entries) {
  Entry* const devices_end = entries + max_entries(size);
  Entry* vendors = entries;
  Entry* devices = devices_end;
  bool in_vendor = false;
  uint32_t vendor = 0;
  size_t at = 0;
  while (at < size) {
    const size_t line = at;
    const bool indented = text[line] == '\t';
    const int32_t id = indented ? (line + 1 < size && text[line + 1] != '\t' ? parse_id(text, line + 1, size) : -1)
                                : (text[line] == '#' ? -1 : parse_id(text, line, size));
    if (id < 0) {
      // Blank lines, comments, subsystems and what does not parse. An
      // unindented line that is no vendor ends the vendor before it: its
      // devices are not that vendor's.
      const char first = text[line];
      if (!indented && first != '#' && first != '\n' && first != '\r') in_vendor = false;
      at = line_end(text, line, size) + 1;
      continue;
    }
    const Name name = take_name(text, line, line + (indented ? 5 : 4), size);
    at = name.next;
    if (!indented) {
      in_vendor = name.ok;
      vendor = static_cast<uint32_t>(id);
      if (name.ok) *vendors++ = Entry{vendor, static_cast<uint32_t>(name.begin)};
    } else if (in_vendor && name.ok) {
      *--devices = Entry{vendor << 16 | static_cast<uint32_t>(id), static_cast<uint32_t>(name.begin)};
    }
  }
  // The devices went in from the back: turn them round into file order.
  for (Entry *a = devices, *b = devices_end - 1; a < b; ++a, --b) {
    const Entry t = *a;
    *a = *b;
    *b = t;
  }
  const auto vendor_count = static_cast<uint32_t>(vendors - entries);
  const auto device_count = static_cast<uint32_t>(devices_end - devices);
  sort(entries, vendor_count);
  sort(devices, device_count);
  return Index{text, entries, vendor_count, devices, device_count};
}

const char* vendor_name(const Index& index, uint16_t vendor) {
  return find(index.text, index.vendors, index.vendor_count, vendor);
}

const char* device_name(const Index& index, uint16_t vendor, uint16_t device) {
  return find(index.text, index.devices, index.device_count, static_cast<uint32_t>(vendor) << 16 | device);
}

void load_beside_image() {
  release();
  // The file's size is known only now, and is over a megabyte: a static
  // buffer would have to guess a limit, and would weigh on every run, file
  // or not. So the text and its index take pool memory sized to this file,
  // given back at exit.
  size_t size = 0;
  char* text = plat::read_file_beside_image(u"pci.ids", kMaxFileSize, &size);
  if (text == nullptr) return;
  auto* entries = static_cast<Entry*>(plat::pool_allocate(max_entries(size) * sizeof(Entry)));
  if (entries == nullptr) {
    plat::pool_free(text);
    return;
  }
  const Index index = build(text, size, entries);
  if (index.vendor_count == 0) {
    // Nothing in it parses: the built-in names stay, no memory is kept.
    plat::pool_free(entries);
    plat::pool_free(text);
    return;
  }
  g_text = text;
  g_entries = entries;
  g_index = index;
  g_loaded = true;
}

const Index* loaded() { return g_loaded ? &g_index : nullptr; }

void release() {
  plat::pool_free(g_entries);
  plat::pool_free(g_text);
  g_entries = nullptr;
  g_text = nullptr;
  g_index = Index{};
  g_loaded = false;
}

}  // namespace kvq::pci_ids
