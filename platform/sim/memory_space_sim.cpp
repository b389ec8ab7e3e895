// The memory space map on the host: the simulated firmware's ranges.
#include "platform/memory_space.h"
#include "platform/sim/board.h"

namespace kvq::plat {

GcdType memory_space_type(uint64_t address) {
  const sim::Board& b = sim::board();
  if (b.memory_space.empty()) return GcdType::kNoMap;
  for (const sim::Board::MemoryRange& r : b.memory_space) {
    if (address - r.base < r.length) return r.type;
  }
  return GcdType::kNonExistent;
}

}  // namespace kvq::plat
