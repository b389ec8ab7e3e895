// The Memory page: 256 bytes of physical memory from the memory base
// address. S goes back to the PCIE page (which opened it on a function's
// memory-mapped configuration space).
#include "hw/memio.h"
#include "pages/pages.h"
#include "pages/space_page.h"
#include "platform/console.h"

namespace kvq {
namespace {

bool back_to_pcie(AppState& state) {
  if (state.key.scan != 0 || (state.key.ch != u'S' && state.key.ch != u's')) return false;
  state.page = PageId::kPcie;
  con::clear_screen();
  return true;
}

constexpr AddressSpace kMemory = {
    .title_format = u"Memory Address: %08X",
    .prompt = u"Memory Address:",
    .digits_col = 16,
    .digits = 8,
    .backspace_steps_back = true,
    .address_format = u"0x%08X ->",
    .address_length = 13,
    .mask = 0xFFFFFFFFu,
    .base = [](const AppState& s) { return s.memory_base; },
    .set_base = [](AppState& s, uint32_t base) { s.memory_base = base; },
    .read_window = memio::read_memory_window,
    .write = memio::write_memory,
    .own_key = back_to_pcie,
};

}  // namespace

void memory_pass(AppState& state) { address_space_pass(state, kMemory); }

}  // namespace kvq
