// The fuzzer's boards (see BoardKind).
#pragma once
#include <vector>

#include "platform/sim/board.h"
#include "tests/fuzz/fuzzer.h"

namespace kvq::fuzz {

// Builds the board and installs the test console with the modes it offers.
void build_board(BoardKind kind, sim::Board& board);

// The 4 KiB pages the board's page tables leave unmapped.
std::vector<uint64_t> unmapped_pages(BoardKind kind);

}  // namespace kvq::fuzz
