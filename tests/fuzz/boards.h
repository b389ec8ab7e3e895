// The fuzzer's boards (see BoardKind).
#pragma once
#include "platform/sim/board.h"
#include "tests/fuzz/fuzzer.h"

namespace kvq::fuzz {

// Builds the board and installs the test console with the modes it offers.
void build_board(BoardKind kind, sim::Board& board);

}  // namespace kvq::fuzz
