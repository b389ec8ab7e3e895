#include "hw/acpi.h"

#include "platform/firmware.h"

namespace kvq::acpi {
namespace {

// What a table reached by each link must be: its signature (null: any
// four printable characters, as an OEM's own tables have), the fixed part
// its stated length must cover, and whether a checksum covers it.
struct LinkRow {
  Link link;
  const char* signature;
  int signature_bytes;
  uint32_t minimum;
  bool checksummed;
};

constexpr LinkRow kLinks[] = {
    {.link = Link::kRsdp, .signature = "RSD PTR ", .signature_bytes = 8, .minimum = rsdp::kLength1, .checksummed = true},
    {.link = Link::kXsdt, .signature = "XSDT", .signature_bytes = 4, .minimum = kHeaderLength, .checksummed = true},
    {.link = Link::kRsdt, .signature = "RSDT", .signature_bytes = 4, .minimum = kHeaderLength, .checksummed = true},
    {.link = Link::kEntry, .signature = nullptr, .signature_bytes = 4, .minimum = kHeaderLength, .checksummed = true},
    {.link = Link::kDsdt, .signature = "DSDT", .signature_bytes = 4, .minimum = kHeaderLength, .checksummed = true},
    {.link = Link::kFacs, .signature = "FACS", .signature_bytes = 4, .minimum = facs::kMinLength, .checksummed = false},
};

constexpr bool links_sound() {
  for (int i = 0; i < static_cast<int>(sizeof(kLinks) / sizeof(kLinks[0])); ++i) {
    const LinkRow& r = kLinks[i];
    if (static_cast<int>(r.link) != i || r.minimum < 8 || r.minimum > kMaxTableLength) return false;
    if (r.signature != nullptr) {
      int n = 0;
      while (r.signature[n] != 0) ++n;
      if (n != r.signature_bytes) return false;
    }
  }
  return true;
}
static_assert(links_sound());

const LinkRow& link_row(Link link) { return kLinks[static_cast<int>(link)]; }

// What a table must show before its stated length can be believed: its
// signature and that length.
constexpr uint32_t kHeadLength = header::Length::kOffset + header::Length::kWidth;

// ACPI checksums make the bytes they cover add up to zero.
bool checksum_ok(const phys::Span& span, uint64_t length) {
  uint8_t sum = 0;
  for (uint64_t i = 0; i < length; ++i) sum = static_cast<uint8_t>(sum + span.read8(i));
  return sum == 0;
}

bool signature_holds(const phys::Span& head, const LinkRow& row) {
  for (int i = 0; i < row.signature_bytes; ++i) {
    const uint8_t b = head.read8(static_cast<uint64_t>(i));
    if (row.signature != nullptr ? b != static_cast<uint8_t>(row.signature[i]) : (b < 0x20 || b > 0x7E)) return false;
  }
  return true;
}

bool named(const Table& t, const char* signature) {
  for (int i = 0; i < 4; ++i) {
    if (t.signature[i] != static_cast<uint8_t>(signature[i])) return false;
  }
  return true;
}

// The length a table states: the RSDP's from its revision (ACPI 1.0: the 20
// bytes its checksum covers), every other table's from its header. False
// when the bytes that state it are not mapped.
bool stated_length(const Place& place, const phys::Span& head, uint32_t* length) {
  if (place.link != Link::kRsdp) {
    *length = static_cast<uint32_t>(read_field<header::Length>(head));
    return true;
  }
  if (read_field<rsdp::Revision>(head) < 2) {
    *length = rsdp::kLength1;
    return true;
  }
  const phys::Span to_length(place.address, rsdp::Length::kOffset + rsdp::Length::kWidth);
  *length = static_cast<uint32_t>(read_field<rsdp::Length>(to_length));
  return to_length.ok();
}

void copy(const phys::Span& span, uint32_t offset, uint8_t* out, int count) {
  for (int i = 0; i < count; ++i) out[i] = span.read8(offset + static_cast<uint32_t>(i));
}

void read_ids(Table& t) {
  const phys::Span& s = t.span;
  switch (t.place.link) {
    case Link::kRsdp:
      t.revision = static_cast<uint8_t>(read_field<rsdp::Revision>(s));
      copy(s, rsdp::OemId::kOffset, t.oem_id, 6);
      t.has_oem_id = true;
      break;
    case Link::kFacs:
      t.revision = static_cast<uint8_t>(read_field<facs::Version>(s));
      break;
    default:
      t.revision = static_cast<uint8_t>(read_field<header::Revision>(s));
      copy(s, header::OemId::kOffset, t.oem_id, 6);
      copy(s, header::OemTableId::kOffset, t.oem_table_id, 8);
      t.has_oem_id = true;
      t.has_table_id = true;
      break;
  }
}

// An ACPI 2.0 RSDP has two checksums: the ACPI 1.0 one over its first 20
// bytes, and the extended one over its stated length.
bool checksums_hold(const Table& t) {
  if (!checksum_ok(t.span, t.length)) return false;
  return t.place.link != Link::kRsdp || checksum_ok(t.span, rsdp::kLength1);
}

// One FADT pointer: the X_ field when the FADT is long enough to hold it
// and it is not zero, else the 32-bit field.
template <class Wide, class Narrow>
uint64_t fadt_pointer(const phys::Span& fadt) {
  const uint64_t wide = fadt.holds(Wide::kOffset, Wide::kWidth) ? read_field<Wide>(fadt) : 0;
  if (wide != 0) return wide;
  return fadt.holds(Narrow::kOffset, Narrow::kWidth) ? read_field<Narrow>(fadt) : 0;
}

class Walk {
 public:
  TableList list;

  // Lists a table not listed yet (a root table that lists itself, or two
  // pointers to one table, cannot make the walk go round); false when it
  // was there already, the address is null, or the list is full.
  bool add(uint64_t address, Link link) {
    if (address == 0 || list.count == kMaxTables) return false;
    for (int i = 0; i < list.count; ++i) {
      if (list.tables[i].address == address) return false;
    }
    list.tables[list.count++] = Place{address, link};
    return true;
  }

  Table last() const { return read_table(list.tables[list.count - 1]); }

  // A root table's entry; a FADT brings its DSDT and FACS right after it.
  void entry(uint64_t address) {
    if (!add(address, Link::kEntry)) return;
    const Table t = last();
    if (!t.span.ok() || !named(t, "FACP")) return;
    add(fadt_pointer<fadt::XDsdt, fadt::Dsdt>(t.span), Link::kDsdt);
    add(fadt_pointer<fadt::XFirmwareCtrl, fadt::FirmwareCtrl>(t.span), Link::kFacs);
  }

  // Lists a root table and walks the entries its stated length holds;
  // true when the table is sound.
  bool root(uint64_t address, Link link, uint32_t entry_bytes) {
    if (!add(address, link)) return false;
    const Table t = last();
    if (!t.span.ok()) return false;
    const uint32_t entries = (t.length - kHeaderLength) / entry_bytes;
    for (uint32_t i = 0; i < entries && list.count < kMaxTables; ++i) {
      entry(t.span.read_le(kHeaderLength + i * entry_bytes, static_cast<int>(entry_bytes)));
    }
    return t.health == Health::kOk;
  }
};

}  // namespace

Table read_table(const Place& place) {
  Table t;
  t.place = place;
  const LinkRow& row = link_row(place.link);
  const uint32_t head_length = place.link == Link::kRsdp ? rsdp::kLength1 : kHeadLength;
  if (place.address > phys::highest_address() - (head_length - 1)) {
    t.health = Health::kBeyondReach;
    return t;
  }
  const phys::Span head(place.address, head_length);
  if (!head.ok() || !stated_length(place, head, &t.length)) return t;
  t.head_read = true;
  copy(head, 0, t.signature, 4);
  // An RSDP of ACPI 2.0 on states its length: the 36 bytes at least.
  const bool long_rsdp = place.link == Link::kRsdp && read_field<rsdp::Revision>(head) >= 2;
  const uint32_t minimum = long_rsdp ? rsdp::kLength2 : row.minimum;
  if (!signature_holds(head, row)) {
    t.health = Health::kBadSignature;
  } else if (t.length < minimum || t.length > kMaxTableLength) {
    t.health = Health::kBadLength;
  } else if (t.span = phys::Span(place.address, t.length); t.span.ok()) {
    read_ids(t);
    t.health = !row.checksummed ? Health::kNoChecksum : checksums_hold(t) ? Health::kOk : Health::kBadChecksum;
  }
  return t;
}

void name_text(const Table& t, char16_t (&out)[5]) {
  for (int i = 0; i < 4; ++i) {
    const uint8_t b = t.place.link == Link::kRsdp ? static_cast<uint8_t>("RSDP"[i]) : t.signature[i];
    out[i] = !t.head_read ? u' ' : (b < 0x20 || b > 0x7E) ? u'.' : static_cast<char16_t>(b);
  }
  out[4] = 0;
}

TableList list_tables() {
  Walk walk;
  uint64_t at = plat::config_table(plat::kAcpi20TableGuid);
  if (at == 0) at = plat::config_table(plat::kAcpi10TableGuid);
  if (!walk.add(at, Link::kRsdp)) return walk.list;
  const Table rsdp = walk.last();
  if (!rsdp.span.ok()) return walk.list;
  // The XSDT when there is a sound one; else (or as well, when the XSDT
  // fails its checksum) the RSDT.
  const bool xsdt_sound =
      rsdp.revision >= 2 && walk.root(read_field<rsdp::XsdtAddress>(rsdp.span), Link::kXsdt, 8);
  if (!xsdt_sound) walk.root(read_field<rsdp::RsdtAddress>(rsdp.span), Link::kRsdt, 4);
  return walk.list;
}

phys::Span find_table(const char (&signature)[5], uint32_t max_length) {
  const TableList list = list_tables();
  for (int i = 0; i < list.count; ++i) {
    if (list.tables[i].link == Link::kRsdp) continue;
    const Table t = read_table(list.tables[i]);
    if (t.health == Health::kOk && named(t, signature) && t.length <= max_length) return t.span;
  }
  return {};
}

}  // namespace kvq::acpi
