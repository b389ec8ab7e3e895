// The firmware's memory space map: what the DXE services' global coherency
// domain (GCD) says lies at a physical address. The page tables tell
// whether a load would fault; this map tells what answers it. A range the
// map calls non-existent decodes to nothing on the board.
#pragma once
#include <stdint.h>

#include "platform/firmware.h"

namespace kvq::plat {

inline constexpr Guid kDxeServicesTableGuid = {0x05AD34BA, 0x6F02, 0x4214, {0x95, 0x2E, 0x4D, 0xA0, 0x39, 0x8E, 0x2B, 0xB9}};

// The GCD memory types as the firmware numbers them, and kNoMap where the
// firmware publishes no DXE services table (kvq then knows nothing).
enum class GcdType : uint32_t {
  kNonExistent = 0,
  kReserved = 1,
  kSystemMemory = 2,
  kMemoryMappedIo = 3,
  kPersistent = 4,
  kMoreReliable = 5,
  kUnaccepted = 6,
  kNoMap = 0xFFFFFFFFu,
};

// The type of the range that holds `address`. An address the map does not
// describe at all is kNonExistent. Not to be called with events blocked:
// the firmware takes its own lock for the map.
GcdType memory_space_type(uint64_t address);

}  // namespace kvq::plat
