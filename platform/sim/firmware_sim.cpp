// Firmware services on the host: the simulated board's configuration table.
#include "platform/firmware.h"
#include "platform/sim/board.h"

namespace kvq::plat {

uint64_t config_table(const Guid& guid) {
  for (const sim::ConfigEntry& e : sim::board().config_tables) {
    if (same_guid(e.guid, guid)) return e.address;
  }
  return 0;
}

}  // namespace kvq::plat
