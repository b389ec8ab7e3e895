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
    u"Memory Address: %08X",
    u"Memory Address:",
    16,
    8,
    true,
    u"0x%08X ->",
    {19, 17, 13},
    0xFFFFFFFFu,
    [](const AppState& s) { return s.memory_base; },
    [](AppState& s, uint32_t base) { s.memory_base = base; },
    memio::read_memory_window,
    memio::write_memory,
    back_to_pcie,
};

}  // namespace

void memory_pass(AppState& state) { address_space_pass(state, kMemory); }

}  // namespace kvq
