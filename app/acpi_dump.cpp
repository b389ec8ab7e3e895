// The ACPI dump. Its lines follow ACPICA's `acpidump` to the character, so
// that `acpixtract -a FILE` splits a file of them into one binary per table
// and `iasl -d dsdt.dat` decompiles the DSDT:
//   DSDT @ 0x000000007FBDF000
//       0000: 44 53 44 54 E2 1F 00 00 01 B4 42 4F 43 48 53 20  DSDT......BOCHS
//       ...
//       1FE0: 5B 31                                            [1
//   (empty line)
// acpixtract takes a block header by its " @ " in a line that starts with
// no blank ("RSD PTR" for the root pointer, which it calls RSDP), and data
// lines while they start with a blank; of each, the hex bytes up to the
// double blank before the characters. The offset stands right-aligned in
// eight places, so a line always starts with a blank.
#include "app/commands.h"
#include "hw/acpi.h"
#include "platform/text_out.h"

namespace kvq::cli {
namespace {

using text::Stream;

constexpr int kBytesPerLine = 16;

void print_line(const phys::Span& table, uint32_t offset) {
  const uint32_t count = table.length() - offset < kBytesPerLine ? static_cast<uint32_t>(table.length() - offset)
                                                                 : kBytesPerLine;
  uint8_t bytes[kBytesPerLine];
  for (uint32_t i = 0; i < count; ++i) bytes[i] = table.read8(offset + i);
  text::print(Stream::kOut, offset <= 0xFFFF ? u"    %04X:" : u"%8X:", offset);
  for (uint32_t i = 0; i < kBytesPerLine; ++i) {
    if (i < count) {
      text::print(Stream::kOut, u" %02X", bytes[i]);
    } else {
      text::put_text(Stream::kOut, u"   ");
    }
  }
  text::put_text(Stream::kOut, u"  ");
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t b = bytes[i];
    text::put(Stream::kOut, b >= 0x20 && b <= 0x7E ? static_cast<char16_t>(b) : u'.');
  }
  text::end_line(Stream::kOut);
}

void print_table(const acpi::Table& t, const char16_t* name) {
  text::line(Stream::kOut, u"%s @ 0x%016X", t.place.link == acpi::Link::kRsdp ? u"RSD PTR" : name, t.place.address);
  for (uint32_t offset = 0; offset < t.length; offset += kBytesPerLine) print_line(t.span, offset);
  text::end_line(Stream::kOut);
}

const char16_t* why_not(acpi::Health health) {
  switch (health) {
    case acpi::Health::kBeyondReach:
      return u"it lies beyond the processor's physical address space";
    case acpi::Health::kBadSignature:
      return u"its signature is not the one its pointer names";
    case acpi::Health::kBadLength:
      return u"its stated length is impossible";
    default:
      return u"the firmware's page tables do not map it";
  }
}

}  // namespace

Status dump_acpi() {
  const acpi::TableList list = acpi::list_tables();
  if (list.count == 0) {
    text::line(Stream::kErr, u"kvq: the firmware lists no ACPI root pointer (RSDP)");
    text::flush();
    return Status::kUnsupported;
  }
  Status status = Status::kOk;
  for (int i = 0; i < list.count; ++i) {
    const acpi::Table t = acpi::read_table(list.tables[i]);
    char16_t name[5];
    acpi::name_text(t, name);
    if (!t.span.ok()) {
      text::line(Stream::kErr, u"kvq: %s at %X not dumped: %s", t.head_read ? name : u"the table", t.place.address,
                 why_not(t.health));
      status = Status::kUnsupported;
      continue;
    }
    // As acpidump, a table whose checksum fails is dumped with a warning.
    if (t.health == acpi::Health::kBadChecksum) {
      text::line(Stream::kErr, u"kvq: %s at %X fails its checksum", name, t.place.address);
    }
    print_table(t, name);
  }
  text::flush();
  return status;
}

}  // namespace kvq::cli
