// The checks after every pass. They know the hardware and the keys, not
// kvq's code: a value entry's writes are worked out from the digits typed,
// the page, the width, the cursor cell and the address space; AHCI writes
// are allowed only into slot 0 of a port that the board model says the
// firmware set up with a disk on its link.
#pragma once
#include <array>
#include <optional>
#include <string>
#include <vector>

#include "app/state.h"
#include "platform/sim/board.h"
#include "platform/sim/hii_sim.h"
#include "tests/fuzz/fuzzer.h"

namespace kvq::fuzz {

// One pass as the runner saw it.
struct PassRecord {
  AppState before;
  size_t waiting = 0;      // keys queued when the pass began
  std::vector<Key> taken;  // keys it took, in order; a starved wait's Esc too
  bool starved = false;    // it waited with no key left
  bool went_on = true;     // run_pass did not end the run
};

// Slot 0 of a port the firmware set up, on a controller no firmware ATA
// pass-thru covers, found idle: the only AHCI structures kvq may write;
// and the bytes of header 0 and of its table up to PRD entry 0 before the
// pass, which kvq may write back.
struct Slot0 {
  uint32_t port;    // its registers
  uint32_t header;  // command header 0
  uint32_t table;   // its command table
  std::array<uint8_t, 32> header_bytes;
  std::array<uint8_t, 0x90> table_bytes;
};
std::vector<Slot0> find_slots(sim::Board& board);

class Oracle {
 public:
  // After start-up: where kvq's own IDENTIFY buffer lies, and the pages the
  // board's tables leave unmapped.
  Oracle(sim::Board& board, std::vector<uint64_t> unmapped);

  // The writes of start-up.
  std::optional<Failure> check_startup(const std::vector<sim::Access>& log);
  // Before a pass: the AHCI slots as the board has them now (a value entry
  // at the end of the pass may move them).
  void begin_pass(const AppState& state);
  // Keys, writes, state; then the screen, once flushed.
  std::optional<Failure> check_pass(const PassRecord& pass, const AppState& after, const std::vector<sim::Access>& log,
                                    Coverage* coverage);
  std::optional<Failure> check_screen();
  // After Esc: the Shell's screen.
  std::optional<Failure> check_exit();

 private:
  sim::Board& board_;
  // The opened variable as the store held it when the pass began.
  std::optional<sim::SimVariable> opened_;
  // The Setup forms' stores as the board's routing held them then.
  std::vector<sim::SimStore> setup_stores_;
  uint32_t buffer_;
  uint32_t off_screen_;
  std::vector<uint64_t> unmapped_;
  std::vector<Slot0> slots_;
};

// Writes of a log, one line, for traces: CF8 latches and register selects
// of index/data reads counted, the rest listed.
std::string summarize_writes(const std::vector<sim::Access>& log);
std::string key_name(Key key);

}  // namespace kvq::fuzz
