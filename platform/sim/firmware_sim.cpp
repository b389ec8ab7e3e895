// Firmware services on the host: the simulated board's configuration table.
#include "platform/firmware.h"
#include "platform/sim/board.h"
#include "platform/sim/paging_sim.h"

namespace kvq::plat {

uint64_t config_table(const Guid& guid) {
  for (const sim::ConfigEntry& e : sim::board().config_tables) {
    if (same_guid(e.guid, guid)) return e.address;
  }
  return 0;
}

}  // namespace kvq::plat

namespace kvq::plat {

uint32_t allocate_pages_below_4g(uint32_t pages) {
  sim::Board& b = sim::board();
  if (b.out_of_pages) return 0;
  b.pool_top -= pages * 4096;
  b.pages_allocated += pages;
  return b.pool_top;
}

void free_pages(uint32_t, uint32_t pages) { sim::board().pages_freed += pages; }

uintptr_t raise_tpl(uintptr_t tpl) {
  const uintptr_t old = sim::board().tpl;
  sim::board().tpl = tpl;
  return old;
}

// Events held off while the TPL was high run as soon as it drops.
void restore_tpl(uintptr_t old_tpl) {
  sim::board().tpl = old_tpl;
  sim::run_timer_event(sim::board());
}

}  // namespace kvq::plat
