// The Super I/O page: 256 registers through the index/data pair at the ISA
// address (a chip's configuration port, its hardware monitor, the CMOS
// clock, any pair), the chips found at start-up, a description of the
// register under the cursor, and configuration writes a byte at a time.
#include "app/colors.h"
#include "app/footer.h"
#include "app/grid.h"
#include "app/grid_page.h"
#include "app/input.h"
#include "hw/superio.h"
#include "pages/pages.h"
#include "pages/superio_lookup.h"
#include "platform/console.h"
#include "platform/text16.h"

namespace kvq {
namespace {

constexpr uint16_t kCmosIndexPort = 0x70;
constexpr int kDescriptionRow = 18;

uint16_t data_port(const AppState& state) { return static_cast<uint16_t>(state.isa_address + 1); }

void draw_header(const AppState& state) {
  con::set_cursor(0, 0);
  con::set_attr(kAttrWhite);
  con::print(u"ISA Address : %04X,%04X", state.isa_address, data_port(state));
}

// A label in white, then the value in its colour.
void print_id(const char16_t* label, uint16_t value) {
  con::set_attr(kAttrWhite);
  con::put_text(label);
  con::set_attr(value != 0 ? kAttrLightGreen : kAttrGray);
  con::print(u"%02X", value);
}

void print_name(const char16_t* label, const char16_t* format, const char16_t* name) {
  con::set_attr(kAttrWhite);
  con::put_text(label);
  con::set_attr(same_text(name, sio::kNotFound) ? kAttrGray : kAttrYellow);
  con::print(format, name);
}

// Why start-up left a port alone, after its vendor.
constexpr char16_t kNotProbed[][14] = {u"", u" not decoded", u" skipped: TPM"};
static_assert(sizeof kNotProbed / sizeof kNotProbed[0] == sio::kTpmSkipped + 1);

// Three lines per record at column 51: port and IDs, vendor, model.
void draw_chip_panel() {
  for (int i = 0; i < sio::kChipCount; ++i) {
    const sio::ChipRecord& chip = sio::g_chips[i];
    const int row = 3 + 4 * i;
    con::set_cursor(51, row);
    con::set_attr(kAttrWhite);
    con::put_text(u"Index:");
    con::set_attr(kAttrLightGreen);
    con::print(u"%02X", chip.port);
    print_id(u" VID:", chip.vid);
    print_id(u" DID:", chip.did);
    con::set_cursor(51, row + 1);
    print_name(u"Vendor:", u"%s", chip.vendor);
    con::set_attr(kAttrGray);
    con::put_text(kNotProbed[chip.probe]);
    con::set_cursor(51, row + 2);
    print_name(u"Model:", u"%s\n", chip.model);
  }
  con::set_attr(kAttrWhite);
}

void draw_offset_label(int width, int offset) {
  con::set_cursor(col_before_ruler(width, 7), 19);  // "0xNN ->"
  con::print(u"0x%02X ->", offset);
}

// The clock's hours, minutes and seconds registers, as stored (BCD or
// binary, whatever register B says).
void draw_clock_line(const RegisterWindow& w) {
  con::set_cursor(42, 0);
  con::print(u"%02X:%02X:%02X", w.bytes[0x04], w.bytes[0x02], w.bytes[0x00]);
}

void draw_description(const AppState& state, int offset) {
  const DescriptionQuery query = {state.isa_address, static_cast<uint8_t>(offset),
                                  static_cast<uint8_t>(g_window.reg<sio::LogicalDeviceNumber>()),
                                  static_cast<uint8_t>(g_window.reg<sio::MonitorBankSelect>())};
  con::set_attr(kAttrWhite);
  print_descriptions(query, sio::g_chips[0]);
}

void blank_description() {
  con::set_cursor(0, kDescriptionRow);
  con::set_attr(kAttrWhite);
  con::repeat(u' ', 80);
}

// Whether the page reads its pair: any pair but a configuration port that
// start-up left alone, unless the user typed it.
bool readable(const AppState& state) {
  const sio::ChipRecord* chip = sio::chip_at(state.isa_address);
  return chip == nullptr || chip->probe == sio::kProbed || state.isa_typed;
}

// At a chip, the page's logical device follows what the user selects.
void note_ldn(AppState& state, const sio::Session& session, uint8_t ldn) {
  if (session.at_chip()) state.sio_ldn = ldn;
}

// The typed value goes out a byte at a time, the highest register first,
// inside the pass's session with the chip.
void write_cell(AppState& state, const void* context, int offset, uint32_t value) {
  sio::Session& session = *const_cast<sio::Session*>(static_cast<const sio::Session*>(context));
  for (int i = layout(state.width).bytes - 1; i >= 0; --i) {
    const uint8_t reg = static_cast<uint8_t>(offset + i);
    const uint8_t byte = static_cast<uint8_t>(value >> (8 * i));
    session.write(reg, byte);
    if (reg == sio::LogicalDeviceNumber::kOffset) note_ldn(state, session, byte);
  }
}

bool is_arrow(uint16_t scan) { return scan == kScanUp || scan == kScanDown || scan == kScanRight || scan == kScanLeft; }

void act_on_key(AppState& state, sio::Session& session, bool read) {
  const Key key = state.key;
  if (handle_grid_keys(state, write_cell, &session)) {
    if (is_arrow(key.scan) && state.width == kByte) blank_description();
    return;
  }
  if (key.scan == kScanPageUp || key.scan == kScanPageDown) {
    if (read) note_ldn(state, session, session.step(key.scan == kScanPageUp ? +1 : -1));
  } else if (key.scan == 0 && key.ch == u'p') {
    uint32_t typed = 0;
    if (address_entry(u"ISA Address :", 14, 4, false, &typed)) {
      session.close();
      state.isa_address = static_cast<uint16_t>(typed);
      state.isa_typed = true;
      state.sio_ldn = -1;
      sio::Session fresh;
      fresh.open(state.isa_address, state.sio_ldn);
      sio::read_window(state.isa_address, data_port(state), g_window);
    }
  } else {
    return;
  }
  state.key = Key{0, 0};
}

}  // namespace

void superio_pass(AppState& state) {
  draw_header(state);
  // The session keeps the chip open for the pass's reads and the user's
  // writes, and leaves it as found at the end of the pass.
  sio::Session session;
  const bool read = readable(state);
  if (read) {
    session.open(state.isa_address, state.sio_ldn);
    sio::read_window(state.isa_address, data_port(state), g_window);
  } else {
    for (bool& absent : g_window.absent) absent = true;
  }
  const CellCursor& cursor = state.cursor();
  draw_grid(g_window, state.width, cursor);
  draw_chip_panel();
  draw_cursor_offset(cursor, state.width);
  const int offset = cursor_offset(cursor, state.width);
  draw_offset_label(state.width, offset);
  if (state.width == kByte) {
    if (state.isa_address == kCmosIndexPort) draw_clock_line(g_window);
    draw_description(state, offset);
  }
  draw_cursor_ruler(g_window, cursor, state.width);
  draw_footer(false);
  draw_width_label(state.width);
  con::poll_key(&state.key);
  act_on_key(state, session, read);
}

}  // namespace kvq
