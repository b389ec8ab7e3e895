// The PCI dump. Its lines follow `lspci -n -xxxx` to the character, so that
// pciutils reads them back and `lspci -F FILE -n -xxxx` prints the file
// unchanged:
//   00:04.0 0200: 8086:10d3    (0000:00:04.0 once a function lies outside
//                              segment 0)
//   00: 86 80 d3 10 07 05 10 00 00 00 00 02 00 00 00 00
//   ...
//   ff0: 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00
//   (empty line)
// The reader takes the header by its first eight characters ("BB:DD.F "),
// or thirteen with the segment ("SSSS:BB:DD.F "),
// a data line by its offset in two to eight hex digits and a colon, and at
// most 4096 bytes per function.
#include "app/commands.h"
#include "hw/pci.h"
#include "platform/text_out.h"

namespace kvq::cli {
namespace {

using text::Stream;

struct FunctionSpace {
  uint8_t bytes[4096];
};

// A function's 4 KiB; one buffer for the whole dump (no heap, and too big
// for a firmware stack).
constinit FunctionSpace g_space = {};

void put_hex_byte(uint8_t b) {
  constexpr char16_t kDigits[] = u"0123456789abcdef";
  text::put(Stream::kOut, kDigits[b >> 4]);
  text::put(Stream::kOut, kDigits[b & 15]);
}

void print_header(const pci::TableEntry& e, const RegisterWindow& w, bool segments) {
  using namespace pci::hdr;
  char16_t name[16];
  pci::function_name(e.bdf, false, name, 16, segments);
  text::print(Stream::kOut, u"%s %02x%02x: %04x:%04x", name, w.reg<BaseClass>(), w.reg<SubClass>(), e.vendor_id,
              e.device_id);
  if (w.reg<RevisionId>() != 0) text::print(Stream::kOut, u" (rev %02x)", w.reg<RevisionId>());
  text::end_line(Stream::kOut);
}

void print_bytes(const uint8_t* bytes, int length) {
  for (int offset = 0; offset < length; offset += 16) {
    text::print(Stream::kOut, u"%02x:", offset);
    for (int i = 0; i < 16; ++i) {
      text::put(Stream::kOut, u' ');
      put_hex_byte(bytes[offset + i]);
    }
    text::end_line(Stream::kOut);
  }
}

}  // namespace

void dump_pci() {
  const int32_t count = pci::scan(pci::g_devices);
  // Every function with its segment once one lies outside segment 0, as
  // lspci prints them.
  bool segments = false;
  for (int32_t i = 0; i < count; ++i) segments = segments || pci::g_devices.entries[i].bdf.segment != 0;
  for (int32_t i = 0; i < count; ++i) {
    const pci::TableEntry& e = pci::g_devices.entries[i];
    RegisterWindow window;
    pci::read_window(e.bdf, window);
    for (int k = 0; k < 256; ++k) g_space.bytes[k] = window.bytes[k];
    int length = 256;
    if (pci::is_express(window) && pci::reaches(e.bdf, 0x100)) {
      for (uint32_t offset = 0x100; offset < 4096; offset += 4) {
        const uint32_t d = pci::config_read(e.bdf, offset, 4);
        for (uint32_t k = 0; k < 4; ++k) g_space.bytes[offset + k] = static_cast<uint8_t>(d >> (8 * k));
      }
      length = 4096;
    }
    print_header(e, window, segments);
    print_bytes(g_space.bytes, length);
    text::end_line(Stream::kOut);
  }
  text::flush();
}

}  // namespace kvq::cli
