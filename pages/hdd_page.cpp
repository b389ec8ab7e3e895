// The HDD page: a memory page on the buffer that a SATA disk's IDENTIFY
// DEVICE answer lands in. PageUp and PageDown step through AHCI ports 0 to
// 7, probing each; the cursor stops at the grid's edges.
#include "hw/memio.h"
#include "hw/sata.h"
#include "pages/pages.h"
#include "pages/space_page.h"
#include "platform/console.h"

namespace kvq {
namespace {

void draw_model(const sata::DiskModel& model) {
  con::set_cursor(0, 18);
  if (!model.present) {
    con::put_text(u"No device be detected !");
    return;
  }
  con::print(u"Model Name: %s", static_cast<const char16_t*>(model.text));
}

void draw_size(const sata::DiskSize& size) {
  if (!size.present) return;
  con::set_cursor(51, 18);
  con::print(u"Size: %dG", size.gigabytes);
}

// Every pass asks the disk again, once for each line, so the lines show
// what the port answers now.
void draw_title(AppState& state, uint64_t base) {
  con::print(u"HDD Port %d Address: %08X", sata::port_number(state.hdd_port_offset), base);
  draw_model(sata::read_model(sata::probe_port(state.hdd_port_offset)));
  draw_size(sata::read_size(sata::probe_port(state.hdd_port_offset)));
}

void step_port(AppState& state, int direction) {
  uint16_t& offset = state.hdd_port_offset;
  if (direction < 0) {
    offset = offset > sata::kPort0Offset ? static_cast<uint16_t>(offset - sata::kPortOffsetStep) : sata::kPort7Offset;
  } else {
    offset = offset >= sata::kPort7Offset ? sata::kPort0Offset : static_cast<uint16_t>(offset + sata::kPortOffsetStep);
  }
  state.hdd_buffer = sata::probe_port(offset);
  // The next pass draws the model and size of the new port.
  con::set_cursor(0, 18);
  con::repeat(u' ', 80);
}

constexpr AddressSpace kHdd = {
    .draw_title = draw_title,
    // Typed digits replace the header's address digits at column 20; the
    // rest of "Port n Address: " is blanked behind the prompt.
    .prompt = u"HDD Address:        ",
    .digits_col = 20,
    .digits = 8,
    .backspace_steps_back = true,
    .address_digits = 8,
    .wide = false,
    .address = [](uint64_t base, int offset) { return (base + static_cast<uint64_t>(offset)) & 0xFFFFFFFFu; },
    .base = [](const AppState& s) { return static_cast<uint64_t>(s.hdd_buffer); },
    .set_base = [](AppState& s, uint64_t base) { s.hdd_buffer = static_cast<uint32_t>(base); },
    .read_window = memio::read_memory_window,
    .write = memio::write_memory,
    .own_key = nullptr,
    .page_step = step_port,
    .cursor_stops_at_edges = true,
    .no_address_entry_in_byte_mode = true,
};

}  // namespace

void hdd_pass(AppState& state) { address_space_pass(state, kHdd); }

bool hdd_can_open() {
  const sata::ModeQuery q = sata::mode_query();
  con::print(u"%08X\n", q.dword);
  con::print(u"%02X\n", q.low_byte);
  con::print(u"%02X\n", q.mode_bits);
  return sata::mode_allows_disk_page(q.mode);
}

}  // namespace kvq
