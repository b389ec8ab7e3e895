// The Memory page: 256 bytes of physical memory from the memory base
// address, anywhere the processor can address. Below 4 GiB it works on
// 32-bit addresses (p, and PageUp/PageDown wrapping at 4 GiB); P takes a
// 64-bit address. Row 0 names what the firmware's memory space map says the
// base's page is. Bytes of pages the page tables do not map, or the map
// calls non-existent, show as "--" and are never touched. S goes back to
// the PCIE page (which opened it on a function's memory-mapped
// configuration space).
#include "app/input.h"
#include "hw/memio.h"
#include "hw/phys.h"
#include "pages/pages.h"
#include "pages/space_page.h"
#include "platform/console.h"
#include "platform/format.h"

namespace kvq {
namespace {

// 16 digits for the 64-bit addresses of an x64 image; an IA-32 image
// reaches only the first 4 GiB.
constexpr int kLongDigits = sizeof(uintptr_t) == 8 ? 16 : 8;

// The base, then what the firmware's memory space map says its page is.
void draw_title(AppState&, uint64_t base) {
  const char16_t* type = memio::type_name(memio::memory_type(base));
  if (base > 0xFFFFFFFFu) {
    con::print(u"Memory Address: %016X %-8s", base, type);
  } else {
    // Blanks over the tail a 16-digit address leaves.
    con::print(u"Memory Address: %08X %-8s        ", base, type);
  }
}

// A base is taken only when the processor can address the whole window;
// otherwise row 18 says why and the base stays.
void set_base(AppState& state, uint64_t base) {
  if (base > phys::highest_address() || memio::window_address(base, 255) > phys::highest_address()) {
    char16_t text[80];
    sformat(text, 80, u"%X lies beyond the processor's %d-bit physical address space", base,
            phys::address_bits());
    say_on_message_row(text);
    return;
  }
  if (base != state.memory_base) blank_message_row();
  state.memory_base = base;
}

// Below 4 GiB the base wraps at 32 bits; above it the steps cross the line.
void step(AppState& state, int direction) {
  const uint64_t base = state.memory_base;
  if (base > 0xFFFFFFFFu) {
    set_base(state, base + static_cast<uint64_t>(static_cast<int64_t>(direction) * 0x100));
  } else {
    set_base(state, (base + static_cast<uint64_t>(static_cast<int64_t>(direction) * 0x100)) & 0xFFFFFFFFu);
  }
}

bool own_key(AppState& state) {
  if (state.key.scan != 0) return false;
  if (state.key.ch == u'S' || state.key.ch == u's') {
    state.page = PageId::kPcie;
    con::clear_screen();
    return true;
  }
  if (state.key.ch == u'P') {
    uint64_t typed = 0;
    if (long_address_entry(u"Memory Address:", 16, kLongDigits, &typed)) set_base(state, typed);
    return true;
  }
  return false;
}

constexpr AddressSpace kMemory = {
    .draw_title = draw_title,
    .prompt = u"Memory Address:",
    .digits_col = 16,
    .digits = 8,
    .backspace_steps_back = true,
    .address_digits = 8,
    .wide = true,
    .address = [](uint64_t base, int offset) { return memio::window_address(base, static_cast<uint64_t>(offset)); },
    .base = [](const AppState& s) { return s.memory_base; },
    .set_base = set_base,
    .read_window = memio::read_memory_window,
    .write = memio::write_value,
    .own_key = own_key,
    .page_step = step,
};

}  // namespace

void memory_pass(AppState& state) { address_space_pass(state, kMemory); }

}  // namespace kvq
