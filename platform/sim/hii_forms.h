// The simulated board's Setup forms: OVMF's platform configuration (the
// display resolution for the next boot, behind PlatformDxe's own buffer
// store) and a board form set on an EFI variable store with the cases a
// firmware's Setup holds: a hidden question, a greyed one, one behind a
// condition kvq cannot evaluate, a checkbox and numerics.
#pragma once
#include "platform/sim/board.h"

namespace kvq::sim {

inline constexpr plat::Guid kOvmfPlatformFormSet = {0x7235C51C, 0x0C80, 0x4CAB, {0x87, 0xAC, 0x3B, 0x08, 0x4A, 0x63, 0x04, 0xB1}};
inline constexpr plat::Guid kBoardFormSet = {0x4B7A0C1E, 0x2F3D, 0x4E5A, {0x9B, 0x61, 0x7C, 0x8D, 0x9E, 0xAF, 0x10, 0x21}};
inline constexpr uint16_t kResolutionOffset = 0x20;

// Installs both form sets and their stores in the board's HII model.
void add_setup_forms(Board& board);

}  // namespace kvq::sim
